#pragma once

#include "Report.h"
#include "Wire.h"

#include <functional>
#include <string>

// What the host is sending in data parts after an accepted request: checked part by part
// (count, order, size), collected, and kept whole once its last part is in, or abandoned.
class Upload {
public:
    // Keeps the complete bytes; false when they could not be written.
    using Keep = std::function<bool(const Bytes&)>;

    // `code`: the command whose data parts carry it (45 for a file, 25 for an item).
    Upload(std::string path, std::string shown, unsigned long size, Keep keep,
           uint8_t code = wire::commandFile);

    const std::string& path() const { return where; }
    const std::string& shown() const { return name; }
    unsigned long size() const { return byteCount; }
    uint8_t code() const { return partCode; }
    unsigned long partCount() const { return parts; }
    unsigned long nextPart() const { return next; }
    bool complete() const { return next > parts; }

    // What is wrong with a part's data, or nothing when it is the part due.
    std::string checkPart(const Bytes& data) const;
    // Takes the part due; `pipelined` when it came before the answer to the one before.
    void take(const Bytes& data, bool pipelined);
    // Keeps the bytes once the last part is in.
    void store(Report& report) const;
    // An upload that did not come to its end: nothing kept or, for a calculator that keeps
    // what it was given, the parts taken so far, as a file that looks like any other.
    void abandon(const std::string& how, bool keepsPartial, Report& report) const;

private:
    std::string where;
    std::string name;
    unsigned long byteCount;
    unsigned long parts;
    unsigned long next = 1;
    unsigned long pipelinedParts = 0;
    Bytes data;
    Keep keep;
    uint8_t partCode;
};
