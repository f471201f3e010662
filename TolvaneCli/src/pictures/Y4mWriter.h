#pragma once

#include "CasioScreenReader.h"

#include <cstdio>
#include <string>
#include <vector>

// Live video of the calculator's screen as a YUV4MPEG2 stream, which players and encoders read
// from a pipe with no options (`mpv -`, `ffmpeg -i -`): the stream header once, then for each
// frame `FRAME` and the three planes. The stream's size is fixed by the screen it is made for,
// enlarged by `scale`; a picture of another size is drawn at the top left, cut or bordered in
// black.
class Y4mWriter {
public:
    Y4mWriter(FILE* output, int width, int height, int scale, int framesPerSecond);

    // Writes one whole frame (after the header, before the first) to the stream's descriptor,
    // past anything buffered in `output`, whatever signals come meanwhile. False when it could
    // not be written whole: errno then tells why.
    bool writeFrame(const CasioScreenPicture& picture);

    std::string header() const;
    // The bytes of each frame, "FRAME\n" included.
    size_t frameSize() const { return frame.size(); }

private:
    void draw(const CasioScreenPicture& picture);
    bool writeAll(const void* bytes, size_t size);

    FILE* output;
    int width; // of the stream: the screen's, enlarged
    int height;
    int scale;
    int framesPerSecond;
    bool headerWritten = false;
    std::vector<unsigned char> frame; // "FRAME\n", then the Y, Cb and Cr planes
};
