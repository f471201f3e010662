#pragma once

// Small helpers shared by the fuzz targets. Every buffer handed to the library is a heap
// block of exactly the size the library is told, so that AddressSanitizer reports the
// first byte read or written past it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace FuzzSupport {

// A finding that the sanitizers cannot see (a broken promise rather than a bad access).
[[noreturn]] inline void fail(const char* what) {
    fprintf(stderr, "fuzz invariant broken: %s\n", what);
    abort();
}

inline void check(bool holds, const char* what) {
    if (!holds) {
        fail(what);
    }
}

// The codec and the command line print straight to standard output whatever the log
// level; writing all of it would slow the fuzzer down for nothing.
inline void silenceStdout() {
    if (freopen("/dev/null", "w", stdout) == nullptr) {
        fail("cannot send standard output to /dev/null");
    }
}

// A heap block of exactly `size` bytes (none at all for 0: any access is then reported).
class ExactBytes {
public:
    explicit ExactBytes(size_t size) : bytes(new unsigned char[size]), count(size) {}
    ExactBytes(const uint8_t* source, size_t size) : ExactBytes(size) {
        if (size > 0) {
            memcpy(bytes.get(), source, size);
        }
    }

    unsigned char* data() const { return bytes.get(); }
    size_t size() const { return count; }
    int intSize() const { return static_cast<int>(count); }

private:
    std::unique_ptr<unsigned char[]> bytes;
    size_t count;
};

// Reads every byte of a view, so that AddressSanitizer sees any view that reaches too far.
inline void touch(const unsigned char* bytes, int count) {
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    volatile unsigned sink = sum;
    (void)sink;
}

// Reads the fuzz input front to back; past its end every read gives zeros, so that any
// input, even an empty one, is a valid script.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : position(data), end(data + size) {}

    uint8_t byte() { return position < end ? *position++ : 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
    uint32_t u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }
    int int32() { return static_cast<int>(u32()); }

    size_t remaining() const { return static_cast<size_t>(end - position); }
    const uint8_t* here() const { return position; }
    bool atEnd() const { return position >= end; }

    // Up to `count` bytes, fewer when the input ends first.
    size_t take(size_t count, const uint8_t** bytes) {
        const size_t taken = count < remaining() ? count : remaining();
        *bytes = position;
        position += taken;
        return taken;
    }

private:
    const uint8_t* position;
    const uint8_t* end;
};

} // namespace FuzzSupport
