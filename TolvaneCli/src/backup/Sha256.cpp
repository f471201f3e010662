#include "Sha256.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t initialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

uint32_t rotateRight(uint32_t value, int bits) {
    return (value >> bits) | (value << (32 - bits));
}

uint32_t bigEndianAt(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

} // namespace

Sha256::Sha256() {
    memcpy(state, initialState, sizeof state);
}

void Sha256::compress(const unsigned char* bytes) {
    uint32_t schedule[64];
    for (int i = 0; i < 16; ++i) {
        schedule[i] = bigEndianAt(bytes + 4 * i);
    }
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotateRight(schedule[i - 15], 7) ^ rotateRight(schedule[i - 15], 18) ^
                            (schedule[i - 15] >> 3);
        const uint32_t s1 = rotateRight(schedule[i - 2], 17) ^ rotateRight(schedule[i - 2], 19) ^
                            (schedule[i - 2] >> 10);
        schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
    }
    uint32_t v[8];
    memcpy(v, state, sizeof v);
    for (int i = 0; i < 64; ++i) {
        const uint32_t s1 = rotateRight(v[4], 6) ^ rotateRight(v[4], 11) ^ rotateRight(v[4], 25);
        const uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const uint32_t first = v[7] + s1 + choice + roundConstants[i] + schedule[i];
        const uint32_t s0 = rotateRight(v[0], 2) ^ rotateRight(v[0], 13) ^ rotateRight(v[0], 22);
        const uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += first;
        v[0] = first + s0 + majority;
    }
    for (int i = 0; i < 8; ++i) {
        state[i] += v[i];
    }
}

void Sha256::add(const unsigned char* bytes, size_t count) {
    total += count;
    while (count > 0) {
        const size_t taken = std::min(count, sizeof block - filled);
        memcpy(block + filled, bytes, taken);
        filled += taken;
        bytes += taken;
        count -= taken;
        if (filled == sizeof block) {
            compress(block);
            filled = 0;
        }
    }
}

// The message is closed by a 1 bit, zeros, and its length in bits in the last 8 bytes.
std::string Sha256::hex() {
    const uint64_t bits = total * 8;
    unsigned char padding[72] = {0x80};
    const size_t zeros = (filled < 56 ? 56 : 120) - filled;
    for (int i = 0; i < 8; ++i) {
        padding[zeros + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    }
    add(padding, zeros + 8);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const uint32_t word : state) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            text += digits[(word >> shift) & 0xF];
        }
    }
    return text;
}
