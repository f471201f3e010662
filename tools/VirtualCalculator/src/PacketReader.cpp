#include "PacketReader.h"

namespace {

constexpr size_t flagOffset = 3;
constexpr size_t lengthOffset = 4;
constexpr size_t dataOffset = 8;

// The whole packet's size from its header; nothing while the header is incomplete.
std::optional<size_t> packetSize(const Bytes& bytes, std::string& problem) {
    if (bytes.size() <= flagOffset) {
        return std::nullopt;
    }
    const uint8_t flag = bytes[flagOffset];
    if (flag == '0') {
        return wire::shortPacketSize;
    }
    if (flag != '1') {
        problem = "extended data flag is " + wire::hexDump({flag}) + ", neither '0' nor '1'";
        return std::nullopt;
    }
    if (bytes.size() < dataOffset) {
        return std::nullopt;
    }
    const std::optional<unsigned> length = wire::readHex(bytes, lengthOffset, 4);
    if (!length) {
        problem = "malformed extended data length digits";
        return std::nullopt;
    }
    return *length + wire::extendedOverhead;
}

bool checksumHolds(const Bytes& raw) {
    const std::optional<unsigned> received = wire::readHex(raw, raw.size() - 2, 2);
    return received && *received == wire::checksum(raw, raw.size() - 2);
}

Frame decode(const Bytes& raw) {
    Frame frame{raw, std::nullopt, ""};
    const std::optional<unsigned> received = wire::readHex(raw, raw.size() - 2, 2);
    if (!received) {
        frame.problem = "malformed checksum digits";
        return frame;
    }
    const uint8_t computed = wire::checksum(raw, raw.size() - 2);
    if (*received != computed) {
        frame.problem = "wrong checksum: the packet says " + wire::hexDump({uint8_t(*received)}) +
                        ", its bytes make " + wire::hexDump({computed});
        return frame;
    }
    const std::optional<unsigned> subtype = wire::readHex(raw, 1, 2);
    if (!subtype) {
        frame.problem = "malformed subtype digits";
        return frame;
    }
    Packet packet;
    packet.type = raw[0];
    packet.subtype = static_cast<uint8_t>(*subtype);
    if (raw[flagOffset] == '1') {
        const Bytes escaped(raw.begin() + dataOffset, raw.end() - 2);
        if (escaped.empty()) {
            frame.problem = "extended data announced with a length of 0000";
            return frame;
        }
        std::optional<Bytes> data = wire::restore(escaped, frame.problem);
        if (!data) {
            return frame;
        }
        packet.data = std::move(*data);
    }
    frame.packet = std::move(packet);
    return frame;
}

// A packet that fills its transfer exactly but announces another length: the length is
// wrong, not the checksum.
std::string lengthMismatch(const Bytes& transfer, size_t announced) {
    return "extended data length " + std::to_string(announced - wire::extendedOverhead) +
           " announces a packet of " + std::to_string(announced) + " bytes, the transfer carried " +
           std::to_string(transfer.size());
}

} // namespace

std::vector<Frame> PacketReader::take(const Bytes& transfer) {
    bool atTransferStart = pending.empty();
    pending.insert(pending.end(), transfer.begin(), transfer.end());
    std::vector<Frame> frames;
    while (!pending.empty()) {
        std::string problem;
        const std::optional<size_t> size = packetSize(pending, problem);
        if (!problem.empty()) {
            frames.push_back({pending, std::nullopt, problem});
            pending.clear();
            break;
        }
        if (!size || pending.size() < *size) {
            break;
        }
        Frame frame = decode(Bytes(pending.begin(), pending.begin() + static_cast<long>(*size)));
        if (!frame.packet) {
            if (atTransferStart && *size != transfer.size() && transfer.size() > 2 &&
                checksumHolds(transfer)) {
                frame = {transfer, std::nullopt, lengthMismatch(transfer, *size)};
            }
            frames.push_back(std::move(frame));
            pending.clear();
            break;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(*size));
        frames.push_back(std::move(frame));
        atTransferStart = false;
    }
    return frames;
}

std::optional<size_t> PacketReader::announcedSize() const {
    std::string problem;
    return packetSize(pending, problem);
}
