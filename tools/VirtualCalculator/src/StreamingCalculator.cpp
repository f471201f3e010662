#include "StreamingCalculator.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

constexpr double longestStepSeconds = 3600;

std::optional<std::chrono::milliseconds> seconds(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = strtod(text.c_str(), &end);
    if (*end != '\0' || value > longestStepSeconds) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<long long>(value * 1000));
}

std::optional<StreamStep> parseStep(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        if (text.empty() || text.size() > 9 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        return StreamStep{StreamStep::Send, std::stoul(text), {}};
    }
    const std::string name = text.substr(0, colon);
    const std::optional<std::chrono::milliseconds> duration = seconds(text.substr(colon + 1));
    if (!duration || (name != "pause" && name != "unplug")) {
        return std::nullopt;
    }
    return StreamStep{name == "pause" ? StreamStep::Pause : StreamStep::Unplug, 0, *duration};
}

} // namespace

std::optional<std::vector<StreamStep>> parseStreamPlan(const std::string& text) {
    std::vector<StreamStep> plan;
    std::istringstream steps(text);
    std::string item;
    while (std::getline(steps, item, ',')) {
        const std::optional<StreamStep> step = parseStep(item);
        if (!step) {
            return std::nullopt;
        }
        plan.push_back(*step);
    }
    // getline drops an empty last step.
    if (plan.empty() || text.back() == ',') {
        return std::nullopt;
    }
    return plan;
}

StreamingCalculator::StreamingCalculator(Bytes stream, size_t chunk, Report& report,
                                         std::vector<StreamStep> plan)
    : stream(std::move(stream)), chunk(chunk), report(report), plan(std::move(plan)) {}

void StreamingCalculator::received(const Bytes& bytes) {
    report.violation("the host sent bytes to a calculator that only talks: " +
                     wire::hexDump(bytes));
}

size_t StreamingCalculator::allowance() {
    while (step < plan.size()) {
        const StreamStep& current = plan[step];
        if (current.kind == StreamStep::Send) {
            if (sentInStep < current.bytes && sent < stream.size()) {
                return current.bytes - sentInStep;
            }
        } else if (!stepEnds) {
            stepEnds = Clock::now() + current.duration;
            report.note(std::string(current.kind == StreamStep::Pause ? "silent" : "unplugged") +
                        " for " + std::to_string(current.duration.count()) + " ms after " +
                        std::to_string(sent) + " bytes");
            return 0;
        } else if (Clock::now() < *stepEnds) {
            return 0;
        }
        ++step;
        sentInStep = 0;
        stepEnds.reset();
    }
    return stream.size() - sent;
}

std::optional<Bytes> StreamingCalculator::nextAnswer(size_t maxLength) {
    const size_t length = std::min({chunk, maxLength, stream.size() - sent, allowance()});
    if (length == 0) {
        return std::nullopt;
    }
    const auto begin = stream.begin() + static_cast<long>(sent);
    sent += length;
    sentInStep += length;
    return Bytes(begin, begin + static_cast<long>(length));
}

bool StreamingCalculator::unplugged() const {
    return step < plan.size() && plan[step].kind == StreamStep::Unplug && stepEnds &&
           Clock::now() < *stepEnds;
}

void StreamingCalculator::hostGone() {
    if (sent < stream.size()) {
        report.note("the host read " + std::to_string(sent) + " of the " +
                    std::to_string(stream.size()) + " bytes of the stream");
    }
}
