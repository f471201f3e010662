#pragma once

#include "Wire.h"

struct Packet;

#include <optional>
#include <string>
#include <vector>

// Where a fault strikes. At a packet the host sends: the connect request, the file request
// (command 45), another command (by its code), file part K of an upload (from 1), the
// terminate. At a packet the calculator sends in its turn: the header of a file it sends,
// data part K of that file (from 1), entry K of a listing (from 1).
struct FaultPlace {
    enum Kind {
        Connect,
        Request,
        Part,
        Disconnect,
        Command,
        Header,
        Download,
        Entry
    } kind = Connect;
    unsigned number = 0; // the part or entry number, or the command code

    bool operator==(const FaultPlace& other) const {
        return kind == other.kind && number == other.number;
    }
    bool sentByCalculator() const { return kind == Header || kind == Download || kind == Entry; }
    std::string describe() const;
    // The place of a packet the host sends; none for one no fault strikes at.
    static std::optional<FaultPlace> at(const Packet& packet);
};

struct Fault {
    enum Kind { Resend, Silent, Unplug, Refuse, Corrupt, Short, Answer, Misnumber } kind = Resend;
    FaultPlace place;
    unsigned silentTransfers = 0; // 0: silent for good
    size_t shortLength = 0;
    uint8_t refusalSubtype = 0x00;
    Bytes answer;

    std::string name() const;
    // IN transfers a Silent fault leaves unanswered; -1: all of them.
    long silence() const { return silentTransfers == 0 ? -1 : long(silentTransfers); }
    // Whether it spoils the calculator's answer rather than the calculator's doing.
    bool spoilsAnswer() const;
    // The answer as the fault spoils it (the genuine one, or a plain acknowledgement).
    Bytes spoiled(const std::optional<Bytes>& genuine) const;
    static Bytes withWrongChecksum(Bytes packet);
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
