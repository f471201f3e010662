#pragma once

#include "Buffer.h"
#include "CasioCommandHeader.h"
#include "CasioTurnChecker.h"

#include <cstdint>

// What the calculator sends in its turn when it sends files (45) or main-memory items (25):
// each announced by a command whose size field says how many bytes follow, then its data
// parts (subtype the same code) strictly in order, passed on as they arrive until anything
// is wrong. After that only the end of the turn is awaited.
class CasioDataFetcher : public CasioTurnChecker {
public:
    // What is said of each way the data can go wrong, in the words of what is fetched.
    struct Words {
        const char* nothingSent;
        const char* lessThanAnnounced;
        const char* unexpectedPacket;
        const char* unreadablePart;
        const char* moreParts;
        const char* outOfOrder;
        const char* moreThanAnnounced;
    };

    // `several`: any number of announcements may come, none included; otherwise exactly one.
    CasioDataFetcher(unsigned char code, const Words& words, bool several);

    void packetReceived(const CasioPacketInfo& packet) override;
    bool takesNoMore() const override { return stopped; }
    // True, after reporting it, unless everything announced arrived whole. When the
    // implementation could keep no more, the turn was ended there, and it says why itself.
    bool judge();

protected:
    // The announcement, read (its fields view the packet). True when it cannot be taken: the
    // implementation has then failed with its own words, or else it keeps no more.
    virtual bool announced(const CasioStorageCommand& command) = 0;
    // The next bytes of what was announced. True when they could not be kept.
    virtual bool bytes(const Buffer& bytes) = 0;
    // Every byte of what was announced last has arrived. True when it could not be kept.
    virtual bool complete() { return false; }

    ~CasioDataFetcher() = default;

private:
    void announce(const CasioPacketInfo& packet);
    void take(const CasioPacketInfo& packet);
    bool whole() const;
    void endIfWhole();
    void stop();

    unsigned char code;
    const Words& words;
    bool several;
    int announcements = 0;
    bool ended = false;   // what was announced last arrived whole
    bool stopped = false; // the implementation could keep no more
    uint32_t size = 0;
    uint32_t received = 0;
    int partCount = 0;
    int nextPart = 1;
};
