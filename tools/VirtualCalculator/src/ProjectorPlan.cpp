#include "ProjectorPlan.h"

#include <cstdlib>

namespace {

constexpr double fastestFrameRate = 1000;
constexpr unsigned long mostFrames = 1000000000;

std::optional<unsigned long> parseCount(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return strtoul(text.c_str(), nullptr, 10);
}

std::optional<double> parseRate(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double rate = strtod(text.c_str(), &end);
    if (*end != '\0' || rate <= 0 || rate > fastestFrameRate) {
        return std::nullopt;
    }
    return rate;
}

// "K" or "K:N", K a frame number from 1, N a count from 1; N is `fallback` when absent.
bool parseFrameAndCount(const std::string& text, size_t fallback, unsigned long& frame,
                        size_t& count) {
    const size_t colon = text.find(':');
    const std::optional<unsigned long> number = parseCount(text.substr(0, colon));
    const std::optional<unsigned long> value =
        colon == std::string::npos ? fallback : parseCount(text.substr(colon + 1));
    if (!number || *number == 0 || !value || (colon != std::string::npos && *value == 0)) {
        return false;
    }
    frame = *number;
    count = *value;
    return true;
}

// "KIND" or "KIND:FORMAT"; TYP01 has no format, the others 1RC2 unless told.
bool parseScreen(ProjectorPlan& plan, const std::string& text) {
    const size_t colon = text.find(':');
    const std::optional<screenwire::Kind> kind = screenwire::kindNamed(text.substr(0, colon));
    if (!kind) {
        return false;
    }
    plan.kind = *kind;
    if (*kind == screenwire::Kind::Typ01) {
        plan.format = screenwire::Format::Monochrome;
        return colon == std::string::npos;
    }
    const std::optional<screenwire::Format> format =
        colon == std::string::npos ? screenwire::Format::Rc2
                                   : screenwire::formatNamed(text.substr(colon + 1));
    plan.format = format.value_or(screenwire::Format::Rc2);
    return format.has_value();
}

bool applyCount(ProjectorPlan& plan, const std::string& option, const std::string& value) {
    const std::optional<unsigned long> count = parseCount(value);
    if (!count || *count > mostFrames || (option != "--frames" && *count == 0)) {
        return false;
    }
    if (option == "--frames") {
        plan.frames = *count;
    } else if (option == "--damage") {
        plan.damaged.insert(*count);
    } else {
        plan.unplugAfter = *count;
    }
    return true;
}

} // namespace

bool isProjectorOption(const std::string& option) {
    return option == "--projector" || option == "--picture" || option == "--frame-rate" ||
           option == "--frames" || option == "--stray" || option == "--damage" ||
           option == "--cut" || option == "--unplug-after";
}

bool applyProjectorOption(ProjectorPlan& plan, const std::string& option,
                          const std::string& value) {
    if (option == "--projector") {
        return parseScreen(plan, value);
    }
    if (option == "--picture") {
        plan.picture = value;
        return !value.empty();
    }
    if (option == "--frame-rate") {
        const std::optional<double> rate = parseRate(value);
        plan.framesPerSecond = rate.value_or(plan.framesPerSecond);
        return rate.has_value();
    }
    if (option == "--stray" || option == "--cut") {
        unsigned long frame = 0;
        size_t count = 0;
        if (!parseFrameAndCount(value, option == "--stray" ? defaultStrayBytes : cutKeepsHalf,
                                frame, count)) {
            return false;
        }
        (option == "--stray" ? plan.strayBefore : plan.cut)[frame] = count;
        return true;
    }
    return applyCount(plan, option, value);
}
