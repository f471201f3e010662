#pragma once

#include "Wire.h"

#include <optional>
#include <string>
#include <vector>

struct Packet {
    uint8_t type = 0;
    uint8_t subtype = 0;
    Bytes data; // extended data, restored
};

// One packet's worth of received bytes: the packet, or what is wrong with them.
struct Frame {
    Bytes raw;
    std::optional<Packet> packet;
    std::string problem;
};

// Cuts the host's OUT byte stream into packets. A packet normally comes in one transfer,
// but one split over several transfers is joined, and several in one transfer are
// separated. After a framing error the rest of that transfer is dropped, so that the
// next transfer starts afresh.
class PacketReader {
public:
    std::vector<Frame> take(const Bytes& transfer);

    // Bytes of a packet whose end has not arrived yet.
    const Bytes& waiting() const { return pending; }
    // The size the waiting packet announces, once its header is complete.
    std::optional<size_t> announcedSize() const;
    void drop() { pending.clear(); }

private:
    Bytes pending;
};
