#include "DeviceInfo.h"

#include <cstdio>

namespace {

constexpr uint8_t padding = 0xFF;

void field(Bytes& block, const std::string& text, size_t width) {
    const size_t length = std::min(text.size(), width);
    block.insert(block.end(), text.begin(), text.begin() + static_cast<long>(length));
    block.insert(block.end(), width - length, padding);
}

std::string decimal(long long value) {
    char digits[24];
    snprintf(digits, sizeof digits, "%08lld", value);
    return digits;
}

} // namespace

// Plausible contents for a monochrome model of protocol 7.00; only the layout and the
// flash capacity carry meaning here.
Bytes DeviceInfo::block(long long flashCapacityBytes, bool longForm) {
    Bytes block;
    field(block, "Gy363007", 8);    // hardware identifier
    field(block, "SH7305", 16);     // processor
    field(block, decimal(4096), 8); // pre-programmed ROM, KiB
    field(block, decimal(flashCapacityBytes / 1024), 8);
    field(block, decimal(512), 8);  // RAM, KiB
    field(block, "02.05.0000", 16); // pre-programmed ROM version
    field(block, "01.00.0000", 16); // boot code version
    field(block, "A0000000", 8);    // boot code offset
    field(block, "00020000", 8);    // boot code size
    field(block, "02.05.2201", 16); // OS version
    field(block, "A0020000", 8);    // OS offset
    field(block, "00300000", 8);    // OS size
    field(block, "7.00", 4);        // protocol version
    field(block, "VIRTCALC", 16);   // product identifier
    if (!longForm) {
        field(block, "Virtual", 16); // user name
        return block;
    }
    field(block, "Virtual", 20);       // user name
    field(block, "Tolvane tests", 20); // organisation
    return block;
}
