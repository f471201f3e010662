// What a picture of a colour calculator's screen (384 x 216, 1RC2) costs on its way to a
// video or a file: reading the frame, then enlarging it and converting it to YUV for the
// YUV4MPEG2 stream, or encoding it as a PNG. Run build/benchmarks/screen_benchmark.
#include "CasioScreenReader.h"
#include "PngWriter.h"
#include "ScreenWire.h"
#include "Y4mWriter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace {

// The last picture read, as a command keeps it.
class LatestPicture : public CasioScreenListener {
public:
    void pictureReceived(const CasioScreenPicture& received) override { picture = received; }
    CasioScreenPicture picture = {0, 0, nullptr};
};

// A reader over areas for the colour screen, and one 1RC2 frame of the test pattern.
struct Screen {
    Screen()
        : frame(screenwire::frame(screenwire::Kind::Typz1, screenwire::Format::Rc2,
                                  screenwire::testPattern(screenwire::Kind::Typz1))),
          frameArea(CasioScreenReader::screenFrameArea),
          pictureArea(CasioScreenReader::screenPictureArea),
          reader(Buffer(frameArea.data(), static_cast<int>(frameArea.size())),
                 Buffer(pictureArea.data(), static_cast<int>(pictureArea.size())), &latest,
                 nullptr) {}

    bool read() {
        reader.feed(Buffer(frame.data(), static_cast<int>(frame.size())));
        return latest.picture.rgb != nullptr;
    }

    std::vector<unsigned char> frame;
    std::vector<unsigned char> frameArea;
    std::vector<unsigned char> pictureArea;
    LatestPicture latest;
    CasioScreenReader reader;
};

FILE* nowhere() {
    static FILE* const file = fopen("/dev/null", "w");
    return file;
}

void readFrame(benchmark::State& state) {
    Screen screen;
    for (auto _ : state) {
        if (!screen.read()) {
            state.SkipWithError("no picture");
            break;
        }
        benchmark::DoNotOptimize(screen.pictureArea.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(screen.frame.size()));
}

// What --stream does with each picture: read, enlarge, convert, write (to /dev/null here).
void readAndWriteVideoFrame(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    Screen screen;
    Y4mWriter video(nowhere(), CasioScreenReader::colourWidth, CasioScreenReader::colourHeight,
                    scale, 30);
    for (auto _ : state) {
        if (!screen.read() || !video.writeFrame(screen.latest.picture)) {
            state.SkipWithError("no frame");
            break;
        }
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void writePng(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    Screen screen;
    if (!screen.read()) {
        state.SkipWithError("no picture");
        return;
    }
    for (auto _ : state) {
        if (!PngWriter::write(nowhere(), screen.latest.picture, scale)) {
            state.SkipWithError("PNG not written");
            break;
        }
    }
    FILE* file = tmpfile();
    if (file != nullptr && PngWriter::write(file, screen.latest.picture, scale)) {
        state.counters["file bytes"] = static_cast<double>(ftell(file));
    }
    if (file != nullptr) {
        fclose(file);
    }
}

} // namespace

BENCHMARK(readFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(readAndWriteVideoFrame)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond);
BENCHMARK(writePng)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
