#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The SHA-256 digest of bytes given a piece at a time, as sha256sum prints it: what a backup
// writes beside each file, and what a restore checks before it sends anything.
class Sha256 {
public:
    Sha256();

    void add(const unsigned char* bytes, size_t count);
    // The digest of everything added, in 64 lower-case hex digits; ends the sum.
    std::string hex();

private:
    void compress(const unsigned char* block);

    uint32_t state[8];
    unsigned char block[64];
    size_t filled = 0;
    uint64_t total = 0;
};
