#pragma once

#include "Buffer.h"
#include "CasioCommandHeader.h"
#include "CasioDataPart.h"
#include "Socket.h"

// A file to send, and how.
struct CasioUpload {
    const char* folder; // empty for the storage's root
    const char* name;
    const char* device;
    Buffer* image;  // the whole file
    bool overwrite; // replace a file of the same name; otherwise leave it and fail
    // Each part goes out before the acknowledgement of the one before it is read.
    bool pipelined;
};

// Told as the calculator acknowledges the parts of a file.
class CasioSendListener {
public:
    virtual void partsAcknowledged(int parts, int partCount) = 0;

protected:
    ~CasioSendListener() = default;
};

// What goes out in data parts after a command that announces it: a file (45) or a main-memory
// item (25).
struct CasioOutgoing {
    unsigned char code; // of the command, and the subtype of its data parts
    CasioStorageCommand command;
    Buffer* image;  // the bytes; zeros follow them up to the size the command announces
    bool overwrite; // the calculator asks before replacing: yes, or leave it and fail
    bool pipelined;
};

// Sends a file into the calculator's storage: the file command, the calculator's answer
// (with the overwrite question settled), then the parts of 256 bytes, acknowledged one by
// one or, pipelined, trailing by one.
class CasioFileSender {
public:
    static constexpr int partSize = CasioDataPart::maxBytes;
    static constexpr int maxFileSize = 0xFFFF * partSize;
    // The data type of the file command, as every upload has always carried it.
    static constexpr unsigned char fileDataType = 0x05;
    // A pipelined transfer met an answer other than a plain acknowledgement, which cannot be
    // repaired once the next part is on its way; the answer it still owed has been read. The
    // file may be partly stored: send it again, not pipelined, overwriting.
    static constexpr int pipelineBroken = -2;

    // True on failure; `refusal` (if given) then holds the calculator's refusal subtype,
    // pipelineBroken, or CasioStorage::notRefused. `listener` may be null.
    static bool sendFile(Socket* socket, const CasioUpload& upload, CasioSendListener* listener,
                         int* refusal = nullptr);
    // The steps of every such transfer: the command, the overwrite question settled, the
    // parts. The caller has checked the sizes: at most maxFileSize, the image no longer than
    // the command announces.
    static bool send(Socket* socket, const CasioOutgoing& outgoing, CasioSendListener* listener,
                     int* refusal);

private:
    static bool offer(Socket* socket, const CasioOutgoing& outgoing, int* refusal);
    static bool sendPartsInTurn(Socket* socket, const CasioOutgoing& outgoing,
                                CasioSendListener* listener, int* refusal);
    static bool sendPartsPipelined(Socket* socket, const CasioOutgoing& outgoing,
                                   CasioSendListener* listener, int* refusal);
};
