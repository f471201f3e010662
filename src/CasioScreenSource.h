#pragma once

#include "Buffer.h"

// Where the screen of a calculator in its projector mode comes from: the bytes it sends, a
// part at a time, and the way back for the answer to its check. A link calculator's socket is
// one (SocketScreenSource), a drive calculator's vendor commands another.
class CasioScreenSource {
public:
    // Takes what the calculator offers, at most `bytes`' size; after it the size is the count
    // taken, 0 when nothing came for a while. True when the calculator can no longer be read.
    virtual bool receive(Buffer* bytes) = 0;
    // Sends the answer to the calculator's check; true when it could not be sent.
    virtual bool answer(Buffer* bytes) = 0;

protected:
    ~CasioScreenSource() = default;
};
