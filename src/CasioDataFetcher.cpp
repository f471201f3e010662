#include "CasioDataFetcher.h"

#include "CasioDataPart.h"
#include "CasioProtocolTools.h"

using Tools = CasioProtocolTools;

CasioDataFetcher::CasioDataFetcher(unsigned char code, const Words& words, bool several)
    : code(code), words(words), several(several) {}

void CasioDataFetcher::packetReceived(const CasioPacketInfo& packet) {
    if (failed() || stopped) {
        return;
    }
    const bool isAnnouncement = Tools::isPacket(packet, Tools::typeCommand, code);
    if (announcements == 0 || (several && isAnnouncement)) {
        announce(packet);
    } else if (Tools::isPacket(packet, Tools::typeData, code)) {
        take(packet);
    } else {
        fail(words.unexpectedPacket);
    }
}

bool CasioDataFetcher::judge() {
    if (stopped) {
        return true;
    }
    if (!failed() && announcements == 0 && !several) {
        fail(words.nothingSent);
    }
    if (!failed() && announcements > 0 && !ended) {
        fail(words.lessThanAnnounced);
    }
    return report();
}

void CasioDataFetcher::announce(const CasioPacketInfo& packet) {
    if (announcements > 0 && !ended) {
        fail(words.lessThanAnnounced);
        return;
    }
    CasioStorageCommand command;
    if (!readCommand(packet, code, &command)) {
        return;
    }
    ++announcements;
    ended = false;
    size = command.size;
    received = 0;
    partCount = 0;
    nextPart = 1;
    if (announced(command)) {
        stop();
        return;
    }
    endIfWhole();
}

void CasioDataFetcher::take(const CasioPacketInfo& packet) {
    CasioPart part;
    if (CasioDataPart::read(packet.extendedData, &part)) {
        fail(words.unreadablePart);
        return;
    }
    if (partCount == 0) {
        partCount = part.count;
    }
    const uint64_t total = static_cast<uint64_t>(received) + part.bytes.getSize();
    if (part.count != partCount || part.number > partCount) {
        fail(words.moreParts);
    } else if (part.number != nextPart) {
        fail(words.outOfOrder);
    } else if (total > size) {
        fail(words.moreThanAnnounced);
    } else if (bytes(part.bytes)) {
        stop();
    } else {
        received = static_cast<uint32_t>(total);
        ++nextPart;
        endIfWhole();
    }
}

// Every byte announced, and every part the parts announce.
bool CasioDataFetcher::whole() const {
    return received == size && (partCount == 0 ? size == 0 : nextPart > partCount);
}

void CasioDataFetcher::endIfWhole() {
    if (ended || !whole()) {
        return;
    }
    ended = true;
    if (complete()) {
        stop();
    }
}

// What failed with words of its own stays a failure.
void CasioDataFetcher::stop() {
    stopped = !failed();
}
