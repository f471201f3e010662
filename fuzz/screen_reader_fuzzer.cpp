// The screen reader on any bytes a calculator in its projector mode could send, into areas of
// any size (heap blocks of exactly that size): every picture fits its area with sides a screen
// can have, and what the reader finds does not depend on how the bytes are cut into reads.
// Input: frame area (2 bytes, little-endian), picture area in pixels (2 bytes), read size
// (1 byte; 0: all at once), then the stream, read whole once and then in reads of that size.

#include "CasioScreenReader.h"
#include "FuzzSupport.h"

#include <string>
#include <tuple>
#include <vector>

using FuzzSupport::check;
using FuzzSupport::ExactBytes;

namespace {

// Each picture's sides and a digest of its pixels, then the counts.
struct Findings : CasioScreenListener {
    void pictureReceived(const CasioScreenPicture& picture) override {
        const int size = picture.width * picture.height * 3;
        check(picture.width >= 1 && picture.height >= 1 &&
                  picture.width <= CasioScreenReader::maxSide &&
                  picture.height <= CasioScreenReader::maxSide && size <= pictureArea,
              "a picture no screen has, or larger than its area");
        unsigned digest = 0;
        for (int i = 0; i < size; ++i) {
            digest = digest * 31 + picture.rgb[i];
        }
        pictures.push_back(
            {static_cast<unsigned>(picture.width), static_cast<unsigned>(picture.height), digest});
    }
    auto all() const {
        const CasioScreenCounts& c = counts;
        return std::make_tuple(pictures, c.pictures, c.checks, c.damaged, c.impossible,
                               c.otherKinds, c.otherFormats, c.skippedBytes,
                               std::string(c.otherKind), std::string(c.otherFormat));
    }

    int pictureArea = 0;
    std::vector<std::vector<unsigned>> pictures;
    CasioScreenCounts counts = {};
};

Findings read(const uint8_t* stream, size_t size, int frameArea, int pictureArea, size_t readSize) {
    ExactBytes frames(static_cast<size_t>(frameArea));
    ExactBytes picture(static_cast<size_t>(pictureArea));
    Findings findings;
    findings.pictureArea = pictureArea;
    CasioScreenReader reader(Buffer(frames.data(), frameArea), Buffer(picture.data(), pictureArea),
                             &findings, nullptr);
    const size_t step = readSize == 0 ? size : readSize;
    for (size_t at = 0; at < size; at += step) {
        ExactBytes piece(stream + at, size - at < step ? size - at : step);
        reader.feed(Buffer(piece.data(), piece.intSize()));
    }
    findings.counts = reader.counts();
    check(findings.counts.pictures == findings.pictures.size(), "pictures counted, not handed on");
    return findings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::Reader input(data, size);
    const int frameArea = input.u16();
    const int pictureArea = input.u16() * 3;
    const size_t readSize = input.byte();
    const Findings whole = read(input.here(), input.remaining(), frameArea, pictureArea, 0);
    const Findings pieces = read(input.here(), input.remaining(), frameArea, pictureArea, readSize);
    check(whole.all() == pieces.all(), "what the reader finds depends on the reads");
    return 0;
}
