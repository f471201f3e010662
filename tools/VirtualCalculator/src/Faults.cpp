#include "Faults.h"

#include "PacketReader.h"

#include <algorithm>
#include <cstdlib>

namespace {

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

enum class Numbering { None, Decimal, Hex };

struct PlaceName {
    const char* name;
    FaultPlace::Kind kind;
    Numbering numbering;
};

constexpr PlaceName placeNames[] = {{"connect", FaultPlace::Connect, Numbering::None},
                                    {"request", FaultPlace::Request, Numbering::None},
                                    {"disconnect", FaultPlace::Disconnect, Numbering::None},
                                    {"terminate", FaultPlace::Disconnect, Numbering::None},
                                    {"header", FaultPlace::Header, Numbering::None},
                                    {"part", FaultPlace::Part, Numbering::Decimal},
                                    {"download", FaultPlace::Download, Numbering::Decimal},
                                    {"entry", FaultPlace::Entry, Numbering::Decimal},
                                    {"command", FaultPlace::Command, Numbering::Hex}};

std::optional<unsigned> placeNumber(const std::string& text, Numbering numbering) {
    if (numbering == Numbering::Hex) {
        const std::optional<Bytes> code = text.size() == 2 ? parseHexBytes(text) : std::nullopt;
        return code ? std::optional<unsigned>(code->front()) : std::nullopt;
    }
    const std::optional<unsigned long> number = parseCount(text);
    if (number && *number >= 1 && *number <= 0xFFFF) {
        return static_cast<unsigned>(*number);
    }
    return std::nullopt;
}

// "WHERE[:VALUE]", where WHERE may itself be "NAME:NUMBER".
std::optional<FaultPlace> splitPlace(const std::string& text, std::string& value) {
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const auto known = std::find_if(std::begin(placeNames), std::end(placeNames),
                                    [&](const PlaceName& entry) { return name == entry.name; });
    if (known == std::end(placeNames)) {
        return std::nullopt;
    }
    std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
    FaultPlace place{known->kind, 0};
    if (known->numbering != Numbering::None) {
        const size_t end = rest.find(':');
        const std::optional<unsigned> number = placeNumber(rest.substr(0, end), known->numbering);
        if (!number || colon == std::string::npos) {
            return std::nullopt;
        }
        place.number = *number;
        rest = end == std::string::npos ? "" : rest.substr(end + 1);
    }
    // The file request is command 45 by another name.
    if (place.kind == FaultPlace::Command && place.number == wire::commandFile) {
        place = FaultPlace{FaultPlace::Request, 0};
    }
    value = rest;
    return place;
}

// What the calculator does wrong with a packet it sends itself: spoil it, hold it back,
// vanish, or misnumber a data part.
bool fitsPlace(Fault::Kind kind, const FaultPlace& place) {
    if (kind == Fault::Misnumber) {
        return place.kind == FaultPlace::Download;
    }
    if (place.sentByCalculator()) {
        return kind == Fault::Corrupt || kind == Fault::Silent || kind == Fault::Unplug;
    }
    return true;
}

bool readValue(Fault& fault, const std::string& value) {
    switch (fault.kind) {
    case Fault::Resend:
    case Fault::Unplug:
    case Fault::Corrupt:
    case Fault::Misnumber:
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

constexpr FaultOption faultOptions[] = {
    {"--resend", Fault::Resend}, {"--silent", Fault::Silent},      {"--unplug", Fault::Unplug},
    {"--refuse", Fault::Refuse}, {"--corrupt", Fault::Corrupt},    {"--short", Fault::Short},
    {"--answer", Fault::Answer}, {"--misnumber", Fault::Misnumber}};

} // namespace

std::string FaultPlace::describe() const {
    switch (kind) {
    case Connect:
        return "the connect request";
    case Request:
        return "the file request";
    case Part:
        return "file part " + std::to_string(number);
    case Disconnect:
        return "the terminate";
    case Command:
        return "command " + wire::hexDump({static_cast<uint8_t>(number)});
    case Header:
        return "the header of a file sent";
    case Download:
        return "data part " + std::to_string(number) + " of a file sent";
    case Entry:
        return "listing entry " + std::to_string(number);
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
    if (!fitsPlace(fault.kind, fault.place) || !readValue(fault, value)) {
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

std::optional<FaultPlace> FaultPlace::at(const Packet& packet) {
    switch (packet.type) {
    case wire::typeCheck:
        return FaultPlace{FaultPlace::Connect, 0};
    case wire::typeCommand:
        if (packet.subtype == wire::commandFile) {
            return FaultPlace{FaultPlace::Request, 0};
        }
        return FaultPlace{FaultPlace::Command, packet.subtype};
    case wire::typeTerminate:
        return FaultPlace{FaultPlace::Disconnect, 0};
    case wire::typeData:
        if (const std::optional<unsigned> part = wire::readHex(packet.data, 4, 4)) {
            return FaultPlace{FaultPlace::Part, *part};
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

bool Fault::spoilsAnswer() const {
    return kind == Corrupt || kind == Short || kind == Answer;
}

Bytes Fault::withWrongChecksum(Bytes packet) {
    packet.back() = packet.back() == '0' ? '1' : '0';
    return packet;
}

Bytes Fault::spoiled(const std::optional<Bytes>& genuine) const {
    const Bytes answer = genuine ? *genuine : wire::acknowledgement();
    switch (kind) {
    case Fault::Corrupt:
        return withWrongChecksum(answer);
    case Fault::Short:
        return Bytes(answer.begin(),
                     answer.begin() + static_cast<long>(std::min(shortLength, answer.size())));
    default:
        return this->answer;
    }
}

std::string Fault::name() const {
    static const char* const names[] = {"resend",  "silent", "unplug", "refuse",
                                        "corrupt", "short",  "answer", "misnumber"};
    return names[kind];
}
