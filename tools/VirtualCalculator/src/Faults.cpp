#include "Faults.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr const char partPrefix[] = "part:";
constexpr size_t partPrefixLength = sizeof partPrefix - 1;
constexpr size_t longestShortAnswer = wire::shortPacketSize - 1;

std::optional<unsigned long> parseCount(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9) {
        return std::nullopt;
    }
    return strtoul(text.c_str(), nullptr, 10);
}

std::optional<Bytes> parseHexBytes(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return std::nullopt;
    }
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    }
    return bytes;
}

// "WHERE[:VALUE]", where WHERE may itself be "part:K".
std::optional<FaultPlace> splitPlace(const std::string& text, std::string& value) {
    const bool isPart = text.compare(0, partPrefixLength, partPrefix) == 0;
    const size_t colon = text.find(':', isPart ? partPrefixLength : 0);
    const std::string place = text.substr(0, colon);
    value = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (place == "connect") {
        return FaultPlace{FaultPlace::Connect, 0};
    }
    if (place == "request") {
        return FaultPlace{FaultPlace::Request, 0};
    }
    if (place == "disconnect") {
        return FaultPlace{FaultPlace::Disconnect, 0};
    }
    if (isPart) {
        const std::optional<unsigned long> part = parseCount(place.substr(partPrefixLength));
        if (part && *part >= 1 && *part <= 0xFFFF) {
            return FaultPlace{FaultPlace::Part, static_cast<unsigned>(*part)};
        }
    }
    return std::nullopt;
}

bool readValue(Fault& fault, const std::string& value) {
    switch (fault.kind) {
    case Fault::Resend:
    case Fault::Unplug:
    case Fault::Corrupt:
        return value.empty();
    case Fault::Silent: {
        const std::optional<unsigned long> count = value.empty() ? 0UL : parseCount(value);
        fault.silentTransfers = count ? static_cast<unsigned>(*count) : 0;
        return count.has_value();
    }
    case Fault::Refuse: {
        const std::string digits = value.size() == 1 ? "0" + value : value;
        const std::optional<Bytes> subtype = value.empty() ? Bytes{0x00} : parseHexBytes(digits);
        fault.refusalSubtype = subtype && subtype->size() == 1 ? subtype->front() : 0;
        return subtype && subtype->size() == 1;
    }
    case Fault::Short: {
        const std::optional<unsigned long> length = parseCount(value);
        fault.shortLength = length ? *length : 0;
        return length && *length >= 1 && *length <= longestShortAnswer;
    }
    case Fault::Answer: {
        std::optional<Bytes> bytes = parseHexBytes(value);
        fault.answer = bytes ? *bytes : Bytes{};
        return bytes.has_value();
    }
    }
    return false;
}

struct FaultOption {
    const char* name;
    Fault::Kind kind;
};

constexpr FaultOption faultOptions[] = {{"--resend", Fault::Resend},   {"--silent", Fault::Silent},
                                        {"--unplug", Fault::Unplug},   {"--refuse", Fault::Refuse},
                                        {"--corrupt", Fault::Corrupt}, {"--short", Fault::Short},
                                        {"--answer", Fault::Answer}};

} // namespace

std::string FaultPlace::describe() const {
    switch (kind) {
    case Connect:
        return "the connect request";
    case Request:
        return "the file request";
    case Part:
        return "file part " + std::to_string(part);
    case Disconnect:
        return "the disconnect signal";
    }
    return "";
}

bool isFaultOption(const std::string& option) {
    return std::any_of(std::begin(faultOptions), std::end(faultOptions),
                       [&](const FaultOption& known) { return option == known.name; });
}

std::optional<Fault> parseFault(const std::string& option, const std::string& text) {
    const auto known = std::find_if(std::begin(faultOptions), std::end(faultOptions),
                                    [&](const FaultOption& entry) { return option == entry.name; });
    if (known == std::end(faultOptions)) {
        return std::nullopt;
    }
    Fault fault;
    fault.kind = known->kind;
    std::string value;
    const std::optional<FaultPlace> place = splitPlace(text, value);
    if (!place) {
        return std::nullopt;
    }
    fault.place = *place;
    if (!readValue(fault, value)) {
        return std::nullopt;
    }
    return fault;
}

std::optional<Fault> FaultPlan::take(const FaultPlace& place) {
    const auto fault = std::find_if(faults.begin(), faults.end(), [&](const Fault& candidate) {
        return candidate.place == place;
    });
    if (fault == faults.end()) {
        return std::nullopt;
    }
    Fault taken = *fault;
    faults.erase(fault);
    return taken;
}
