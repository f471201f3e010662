// The codec's building blocks: CasioEscaper and AsciiConverter.
//
// Input: an operation byte (modulo 4), then
//   0 restore:        capacity (2 bytes, modulo 4097), escaped bytes
//   1 escape/restore: capacity (2 bytes, modulo 4097), raw bytes
//   2 hex to number:  digit count (1 byte, modulo 17), digit bytes
//   3 number to hex:  width (1 byte, 1 to 8), the number (4 bytes, little-endian)

#include "AsciiConverter.h"
#include "CasioEscaper.h"
#include "FuzzSupport.h"
#include "WireModel.h"

#include <algorithm>
#include <vector>

using FuzzSupport::check;
using FuzzSupport::ExactBytes;
using FuzzSupport::Reader;

namespace {

constexpr int maxCapacity = 4096;
constexpr int maxDigits = 16;

ExactBytes rest(Reader& reader) {
    const uint8_t* bytes = nullptr;
    const size_t count = reader.take(reader.remaining(), &bytes);
    return ExactBytes(bytes, count);
}

void restoreArbitrary(Reader& reader) {
    const int capacity = reader.u16() % (maxCapacity + 1);
    ExactBytes escaped = rest(reader);
    ExactBytes restored(static_cast<size_t>(capacity));
    Buffer input(escaped.data(), escaped.intSize());
    Buffer output(restored.data(), capacity);

    const bool failed = CasioEscaper::restoreBuffer(&input, &output);

    WireModel::Bytes expected;
    const bool fits = WireModel::restore(escaped.data(), escaped.size(), &expected) &&
                      expected.size() <= static_cast<size_t>(capacity);
    check(failed == !fits, "restore disagrees with the model on success");
    if (failed) {
        check(output.getSize() == capacity, "a failed restore changed the output size");
        return;
    }
    check(output.getSize() == static_cast<int>(expected.size()), "wrong restored size");
    check(expected.empty() || memcmp(restored.data(), expected.data(), expected.size()) == 0,
          "wrong restored bytes");
}

void escapeThenRestore(Reader& reader) {
    const int capacity = reader.u16() % (maxCapacity + 1);
    ExactBytes original = rest(reader);
    Buffer input(original.data(), original.intSize());
    const size_t escapedLength = WireModel::escapedLength(original.data(), original.size());

    // Into the capacity the input asks for: it fits exactly when the model says so.
    ExactBytes tight(static_cast<size_t>(capacity));
    Buffer tightOutput(tight.data(), capacity);
    const bool tightFailed = CasioEscaper::escapeBuffer(&input, &tightOutput);
    check(tightFailed == (escapedLength > static_cast<size_t>(capacity)),
          "escape disagrees with the model on whether the output fits");
    check(tightOutput.getSize() == (tightFailed ? capacity : static_cast<int>(escapedLength)),
          "wrong escaped size");

    // Into room for the worst case, then back into exactly the original length.
    ExactBytes escaped(escapedLength);
    Buffer escapedOutput(escaped.data(), static_cast<int>(escapedLength));
    check(!CasioEscaper::escapeBuffer(&input, &escapedOutput), "escape into its length failed");
    const WireModel::Bytes expected =
        WireModel::escape(WireModel::Bytes(original.data(), original.data() + original.size()));
    check(expected.empty() || memcmp(escaped.data(), expected.data(), expected.size()) == 0,
          "wrong escaped bytes");

    ExactBytes restored(original.size());
    Buffer restoredOutput(restored.data(), original.intSize());
    check(!CasioEscaper::restoreBuffer(&escapedOutput, &restoredOutput),
          "restoring an escaped input failed");
    check(restoredOutput.getSize() == original.intSize(), "round trip changed the length");
    check(original.size() == 0 || memcmp(restored.data(), original.data(), original.size()) == 0,
          "round trip changed the bytes");

    // What a calculator sends restores to the same bytes.
    const WireModel::Bytes fromCalculator = WireModel::escapeAsCalculator(
        WireModel::Bytes(original.data(), original.data() + original.size()));
    ExactBytes calculatorEscaped(fromCalculator.data(), fromCalculator.size());
    Buffer calculatorInput(calculatorEscaped.data(), calculatorEscaped.intSize());
    ExactBytes calculatorRestored(original.size());
    Buffer calculatorOutput(calculatorRestored.data(), original.intSize());
    check(!CasioEscaper::restoreBuffer(&calculatorInput, &calculatorOutput),
          "restoring a calculator's escaping failed");
    check(calculatorOutput.getSize() == original.intSize() &&
              (original.size() == 0 ||
               memcmp(calculatorRestored.data(), original.data(), original.size()) == 0),
          "a calculator's escaping did not round trip");

    if (original.size() > 0) {
        ExactBytes shortArea(original.size() - 1);
        Buffer shortOutput(shortArea.data(), original.intSize() - 1);
        check(CasioEscaper::restoreBuffer(&escapedOutput, &shortOutput),
              "restore into one byte too few succeeded");
    }
}

void hexToNumber(Reader& reader) {
    const int digitCount = reader.byte() % (maxDigits + 1);
    const uint8_t* bytes = nullptr;
    const size_t available = reader.take(static_cast<size_t>(digitCount), &bytes);
    // Short inputs are padded with '0' so that every count is tried.
    std::vector<uint8_t> padded(static_cast<size_t>(digitCount), '0');
    std::copy(bytes, bytes + available, padded.end() - static_cast<long>(available));
    ExactBytes digits(padded.data(), padded.size());

    int value = -1;
    AsciiConverter::asciiToNumber(digits.data(), &value, digitCount);
    check(static_cast<uint32_t>(value) == WireModel::number(digits.data(), digitCount),
          "digits decode to the wrong number");
}

void numberToHex(Reader& reader) {
    const int width = reader.byte() % 8 + 1;
    const int number = reader.int32();
    ExactBytes digits(static_cast<size_t>(width));
    AsciiConverter::numberToAscii(number, digits.data(), width);
    for (int i = 0; i < width; ++i) {
        const uint8_t c = digits.data()[i];
        check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "not an upper-case hex digit");
    }
    int back = 0;
    AsciiConverter::asciiToNumber(digits.data(), &back, width);
    const uint32_t mask = width == 8 ? 0xFFFFFFFFu : (1u << (4 * width)) - 1;
    check(static_cast<uint32_t>(back) == (static_cast<uint32_t>(number) & mask),
          "hex round trip lost the low digits");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader reader(data, size);
    switch (reader.byte() % 4) {
    case 0:
        restoreArbitrary(reader);
        break;
    case 1:
        escapeThenRestore(reader);
        break;
    case 2:
        hexToNumber(reader);
        break;
    default:
        numberToHex(reader);
        break;
    }
    return 0;
}
