#include "StreamingCalculator.h"

#include <algorithm>

StreamingCalculator::StreamingCalculator(Bytes stream, size_t chunk, Report& report)
    : stream(std::move(stream)), chunk(chunk), report(report) {}

void StreamingCalculator::received(const Bytes& bytes) {
    report.violation("the host sent bytes to a calculator that only talks: " +
                     wire::hexDump(bytes));
}

std::optional<Bytes> StreamingCalculator::nextAnswer(size_t maxLength) {
    if (sent == stream.size()) {
        return std::nullopt;
    }
    const size_t length = std::min({chunk, maxLength, stream.size() - sent});
    const auto begin = stream.begin() + static_cast<long>(sent);
    sent += length;
    return Bytes(begin, begin + static_cast<long>(length));
}

void StreamingCalculator::hostGone() {
    if (sent < stream.size()) {
        report.note("the host read " + std::to_string(sent) + " of the " +
                    std::to_string(stream.size()) + " bytes of the stream");
    }
}
