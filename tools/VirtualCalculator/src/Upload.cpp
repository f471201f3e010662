#include "Upload.h"

#include <algorithm>

Upload::Upload(std::string path, std::string shown, unsigned long size, Keep keep, uint8_t code)
    : where(std::move(path)), name(std::move(shown)), byteCount(size),
      parts((size + wire::partSize - 1) / wire::partSize), keep(std::move(keep)), partCode(code) {}

std::string Upload::checkPart(const Bytes& part) const {
    const std::optional<unsigned> count = wire::readHex(part, 0, 4);
    const std::optional<unsigned> number = wire::readHex(part, 4, 4);
    if (!count || !number) {
        return "file part with a malformed header: " + wire::hexDump(part, wire::partHeaderSize);
    }
    if (*count != parts) {
        return "file part says " + std::to_string(*count) + " parts, but " +
               std::to_string(byteCount) + " bytes make " + std::to_string(parts);
    }
    if (*number != next) {
        return "part " + std::to_string(*number) + " came when part " + std::to_string(next) +
               " was due";
    }
    const unsigned long expected = std::min<unsigned long>(wire::partSize, byteCount - data.size());
    const size_t carried = part.size() - wire::partHeaderSize;
    if (carried != expected) {
        return "part " + std::to_string(*number) + " carries " + std::to_string(carried) +
               " bytes instead of " + std::to_string(expected);
    }
    return "";
}

void Upload::take(const Bytes& part, bool pipelined) {
    data.insert(data.end(), part.begin() + wire::partHeaderSize, part.end());
    if (pipelined) {
        ++pipelinedParts;
    }
    ++next;
}

void Upload::store(Report& report) const {
    if (!keep(data)) {
        report.failure("could not write " + where);
        return;
    }
    report.note("stored " + where + " (" + std::to_string(byteCount) + " bytes)");
    if (pipelinedParts > 0) {
        report.note(std::to_string(pipelinedParts) + " of " + std::to_string(parts) + " parts of " +
                    where + " came pipelined");
    }
}

void Upload::abandon(const std::string& how, bool keepsPartial, Report& report) const {
    const std::string taken =
        std::to_string(next - 1) + " of " + std::to_string(parts) + " parts of " + where;
    if (keepsPartial && keep(data)) {
        report.note(how + " after " + taken + ": kept the " + std::to_string(data.size()) +
                    " bytes taken");
    } else {
        report.note(how + " after " + taken + ": nothing stored");
    }
}
