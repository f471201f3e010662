#pragma once

#include "Wire.h"

#include <optional>
#include <string>
#include <vector>

// Where a fault strikes: the connect request, the file request, file part K (from 1) or
// the disconnect signal.
struct FaultPlace {
    enum Kind { Connect, Request, Part, Disconnect } kind = Connect;
    unsigned part = 0;

    bool operator==(const FaultPlace& other) const {
        return kind == other.kind && part == other.part;
    }
    std::string describe() const;
};

struct Fault {
    enum Kind { Resend, Silent, Unplug, Refuse, Corrupt, Short, Answer } kind = Resend;
    FaultPlace place;
    unsigned silentTransfers = 0; // 0: silent for good
    size_t shortLength = 0;
    uint8_t refusalSubtype = 0x00;
    Bytes answer;
};

// Reads the value of a fault option, e.g. ("--silent", "part:3:2"); nothing when it is
// not well formed.
std::optional<Fault> parseFault(const std::string& option, const std::string& value);
bool isFaultOption(const std::string& option);

// The faults still to come. Each strikes once, at the first packet of its place, in the
// order given on the command line.
class FaultPlan {
public:
    FaultPlan() = default;
    explicit FaultPlan(std::vector<Fault> faults) : faults(std::move(faults)) {}

    std::optional<Fault> take(const FaultPlace& place);

private:
    std::vector<Fault> faults;
};
