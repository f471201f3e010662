#pragma once

#include "Wire.h"

// The information block a calculator answers the device information command with (06 02):
// 164 bytes of fixed-width text fields padded with 0xFF, or 188 bytes for the models that
// add a longer user name and an organisation name.
class DeviceInfo {
public:
    static constexpr size_t shortSize = 164;
    static constexpr size_t longSize = 188;

    // The flash capacity field, in KiB, follows the storage's capacity.
    static Bytes block(long long flashCapacityBytes, bool longForm);
};
