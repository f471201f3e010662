#pragma once

#include "Buffer.h"
#include "CasioScreenSource.h"

// A picture of the calculator's screen: `width` x `height` pixels, row by row from the top,
// three bytes a pixel (red, green, blue).
struct CasioScreenPicture {
    int width;
    int height;
    const unsigned char* rgb;
};

// Takes each intact picture the calculator sends, decoded.
class CasioScreenListener {
public:
    // `picture.rgb` views the reader's picture area, which the next picture overwrites.
    virtual void pictureReceived(const CasioScreenPicture& picture) = 0;

protected:
    ~CasioScreenListener() = default;
};

// What the reader has met so far, so that a caller can tell a user why no picture comes.
struct CasioScreenCounts {
    unsigned long pictures;       // handed to the listener
    unsigned long checks;         // checks the calculator sent
    unsigned long checksAnswered; // of those, answered
    unsigned long damaged;        // frames dropped for a wrong checksum
    unsigned long impossible;     // frames dropped for fields that cannot be, or too big to keep
    unsigned long otherKinds;     // frames of a kind not read here, skipped
    unsigned long otherFormats;   // intact frames of a pixel format not read here, skipped
    unsigned long skippedBytes;   // bytes that began no frame and no check
    char otherKind[6];            // the last kind skipped, e.g. "TYPZ3"; empty if none
    char otherFormat[5];          // the last pixel format skipped; empty if none
};

// Reads what a calculator in its projector mode sends: frames of its screen, one after
// another, unasked, and now and then a check it wants answered. Bytes come in as they arrive,
// cut anywhere; each intact frame of kind TYP01 (monochrome 128 x 64), TYPZ1 or TYPZ2 (colour,
// pixel formats 1RC2, 1RC3, 1RM2) reaches the listener decoded to RGB. A frame that is damaged
// or impossible is dropped, and the search for the next one starts again from the byte after
// its start, since bytes may have been lost. The reader sends nothing but the check's answer.
//
// It allocates nothing: the caller lends it an area for the bytes of the frame under way and
// one for the decoded picture; frames or pictures larger than these are dropped as impossible.
class CasioScreenReader {
public:
    static constexpr int monochromeWidth = 128;
    static constexpr int monochromeHeight = 64;
    static constexpr int colourWidth = 384;
    static constexpr int colourHeight = 216;
    // Wider or taller than this no screen is: such a frame is impossible.
    static constexpr int maxSide = 2048;
    // A TYP01 frame's length; the bytes around the picture bytes of the longest colour frame.
    static constexpr int monochromeFrameSize = 6 + monochromeWidth * monochromeHeight / 8 + 2;
    static constexpr int largestColourOverhead = 26 + 2;

    // The frame area that holds every frame of a picture up to `width` x `height`, in any
    // format, and also every TYP01 frame.
    static constexpr int frameAreaFor(int width, int height) {
        const int colour = largestColourOverhead + width * height * 2;
        return colour > monochromeFrameSize ? colour : monochromeFrameSize;
    }
    static constexpr int pictureAreaFor(int width, int height) { return width * height * 3; }
    // Enough for the screens of every calculator known.
    static constexpr int screenFrameArea = largestColourOverhead + colourWidth * colourHeight * 2;
    static constexpr int screenPictureArea = colourWidth * colourHeight * 3;

    // The check some modes repeat until the host answers it, and the answer.
    static constexpr int checkSize = 8;
    static const unsigned char check[checkSize];
    static const unsigned char checkAnswer[checkSize];

    // `source` takes the answers to the checks; without one (a source with no way back) they
    // stay unanswered. The areas must outlive the reader.
    CasioScreenReader(Buffer frameArea, Buffer pictureArea, CasioScreenListener* listener,
                      CasioScreenSource* source);

    // Takes the next bytes the calculator sent, handing on every picture they complete. True
    // when the answer to a check among them could not be sent.
    bool feed(const Buffer& bytes);
    // Forgets a frame under way: what comes next is from a fresh start (a calculator plugged
    // in again, say).
    void restart();
    const CasioScreenCounts& counts() const { return seen; }

private:
    void makeRoom();
    bool readWhatIsHeld();
    bool answerCheck();
    void dropFirstByte(unsigned long* reason);
    void consume(int count);

    unsigned char* area;
    int capacity;
    int start = 0; // the bytes held are area[start, end)
    int end = 0;
    unsigned char* pixels;
    int pixelCapacity;
    CasioScreenListener* listener;
    CasioScreenSource* source;
    CasioScreenCounts seen = {};
};
