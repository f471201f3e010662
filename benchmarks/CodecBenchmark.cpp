// What one 256-byte file part costs to frame and to read back, beside memcpy of the same
// bytes. Run build/benchmarks/codec_benchmark; Release builds give the figures to quote.
#include "Buffer.h"
#include "CasioEscaper.h"
#include "CasioPacker.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <random>

namespace {

constexpr unsigned char typeFilePart = 0x02;
constexpr unsigned char subtypeFile = 0x45;
constexpr int partHeaderSize = 8;
constexpr int partDataSize = 256;
constexpr int partSize = partHeaderSize + partDataSize;
constexpr int areaSize = 2048;

enum Content { randomBytes, allEscaped };

// The extended data of file part 1 of 1: "00010001" and 256 bytes of content.
std::array<unsigned char, partSize> makePart(Content content) {
    std::array<unsigned char, partSize> part{};
    memcpy(part.data(), "00010001", partHeaderSize);
    if (content == randomBytes) {
        std::mt19937 generator(2016);
        std::uniform_int_distribution<int> byte(0, 255);
        for (int i = partHeaderSize; i < partSize; ++i) {
            part[i] = static_cast<unsigned char>(byte(generator));
        }
    }
    // allEscaped: zeros, each of which travels as two bytes.
    return part;
}

void setLabel(benchmark::State& state, Content content) {
    state.SetLabel(content == randomBytes ? "random" : "all escaped");
}

void memcpyPart(benchmark::State& state) {
    auto part = makePart(static_cast<Content>(state.range(0)));
    unsigned char copy[areaSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(part.data());
        memcpy(copy, part.data(), partSize);
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * partSize);
    setLabel(state, static_cast<Content>(state.range(0)));
}

void packPart(benchmark::State& state) {
    auto part = makePart(static_cast<Content>(state.range(0)));
    Buffer data(part.data(), partSize);
    unsigned char packetData[areaSize];
    Buffer packet(packetData, areaSize);
    for (auto _ : state) {
        packet.setSize(areaSize);
        if (CasioPacker::pack({typeFilePart, subtypeFile, &data}, &packet)) {
            state.SkipWithError("pack failed");
            break;
        }
        benchmark::DoNotOptimize(packetData);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * partSize);
    state.counters["packet bytes"] = packet.getSize();
    setLabel(state, static_cast<Content>(state.range(0)));
}

void unpackPart(benchmark::State& state) {
    auto part = makePart(static_cast<Content>(state.range(0)));
    Buffer data(part.data(), partSize);
    unsigned char packetData[areaSize];
    Buffer packet(packetData, areaSize);
    if (CasioPacker::pack({typeFilePart, subtypeFile, &data}, &packet)) {
        state.SkipWithError("pack failed");
        return;
    }
    unsigned char restoredData[areaSize];
    Buffer restored(restoredData, areaSize);
    CasioPacketInfo info{0, 0, &restored};
    for (auto _ : state) {
        restored.setSize(areaSize);
        if (CasioPacker::unpack(&info, &packet)) {
            state.SkipWithError("unpack failed");
            break;
        }
        benchmark::DoNotOptimize(restoredData);
        benchmark::ClobberMemory();
    }
    if (restored.getSize() != partSize || memcmp(restoredData, part.data(), partSize) != 0) {
        state.SkipWithError("unpack did not give the part back");
    }
    state.SetBytesProcessed(state.iterations() * partSize);
    setLabel(state, static_cast<Content>(state.range(0)));
}

void escapePart(benchmark::State& state) {
    auto part = makePart(static_cast<Content>(state.range(0)));
    Buffer input(part.data(), partSize);
    unsigned char escapedData[areaSize];
    Buffer escaped(escapedData, areaSize);
    for (auto _ : state) {
        escaped.setSize(areaSize);
        CasioEscaper::escapeBuffer(&input, &escaped);
        benchmark::DoNotOptimize(escapedData);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * partSize);
    setLabel(state, static_cast<Content>(state.range(0)));
}

void restorePart(benchmark::State& state) {
    auto part = makePart(static_cast<Content>(state.range(0)));
    Buffer input(part.data(), partSize);
    unsigned char escapedData[areaSize];
    Buffer escaped(escapedData, areaSize);
    CasioEscaper::escapeBuffer(&input, &escaped);
    unsigned char restoredData[areaSize];
    Buffer restored(restoredData, areaSize);
    for (auto _ : state) {
        restored.setSize(areaSize);
        CasioEscaper::restoreBuffer(&escaped, &restored);
        benchmark::DoNotOptimize(restoredData);
        benchmark::ClobberMemory();
    }
    // Counted in restored bytes, so that the figure compares with the escape beside it.
    state.SetBytesProcessed(state.iterations() * partSize);
    setLabel(state, static_cast<Content>(state.range(0)));
}

} // namespace

BENCHMARK(memcpyPart)->Arg(randomBytes)->Arg(allEscaped);
BENCHMARK(packPart)->Arg(randomBytes)->Arg(allEscaped);
BENCHMARK(unpackPart)->Arg(randomBytes)->Arg(allEscaped);
BENCHMARK(escapePart)->Arg(randomBytes)->Arg(allEscaped);
BENCHMARK(restorePart)->Arg(randomBytes)->Arg(allEscaped);

BENCHMARK_MAIN();
