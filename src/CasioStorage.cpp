#include "CasioStorage.h"

#include "CasioCalcTurn.h"
#include "CasioCommandHeader.h"
#include "CasioDataPart.h"
#include "CasioFileSender.h"
#include "CasioPacker.h"
#include "CasioProtocolTools.h"
#include "LinkLimits.h"
#include "Log.h"

namespace {

using Tools = CasioProtocolTools;

constexpr int commandTimeout = 5;
// Room for the longest command, even with its names escaped throughout.
constexpr int packetArea = CasioPacker::maxSentExtendedDataSize + CasioPacker::extendedDataOverhead;

bool is(const CasioPacketInfo& packet, unsigned char type, unsigned char subtype) {
    return Tools::isPacket(packet, type, subtype);
}

// A session the calculator can no longer follow takes no further command.
bool sessionOver(Socket* socket) {
    if (socket->sessionUsable()) {
        return false;
    }
    Log::error("The session with the calc can't go on !");
    return true;
}

// A calculator gone from the bus is said so by the caller, in its own words.
bool judgeSent(Socket* socket, bool failed) {
    if (failed && !socket->deviceGone()) {
        Log::error("No answer from the calc to the command !");
    }
    return failed;
}

// A command that the calculator acknowledges: true unless it did.
bool sendCommand(Socket* socket, unsigned char code, const CasioStorageCommand& command,
                 int* refusal) {
    if (refusal != nullptr) {
        *refusal = CasioStorage::notRefused;
    }
    CasioReceivedPacket answer;
    if (CasioStorage::exchangeCommand(socket, code, command, &answer.info)) {
        return true;
    }
    return !Tools::isPlainAck(answer.info) && CasioStorage::rejectAnswer(answer.info, refusal);
}

// A command the calculator answers with a turn of its own, taken by `listener`.
bool runCommandWithTurn(Socket* socket, unsigned char code, const CasioStorageCommand& command,
                        CasioTurnListener* listener, int* refusal) {
    if (sendCommand(socket, code, command, refusal)) {
        return true;
    }
    return CasioCalcTurn::run(socket, listener);
}

// Remembers the first thing wrong with what the calculator sends in its turn.
class TurnChecker : public CasioTurnListener {
public:
    bool failed() const { return problem != nullptr; }
    // True, after reporting it, when something was wrong.
    bool report() const {
        if (problem != nullptr) {
            Log::error(problem);
        }
        return failed();
    }

protected:
    void fail(const char* what) {
        if (problem == nullptr) {
            problem = what;
        }
    }
    // The command carried by `packet`, if it is command `code` and readable.
    bool readCommand(const CasioPacketInfo& packet, unsigned char code,
                     CasioStorageCommand* command) {
        if (!is(packet, Tools::typeCommand, code)) {
            fail("The calc sent an unexpected packet in its turn !");
            return false;
        }
        if (CasioCommandHeader::read(packet.extendedData, command)) {
            fail("The calc sent an unreadable command !");
            return false;
        }
        return true;
    }

    ~TurnChecker() = default;

private:
    const char* problem = nullptr;
};

class EntryCollector final : public TurnChecker {
public:
    explicit EntryCollector(CasioFileLister* lister) : lister(lister) {}

    void packetReceived(const CasioPacketInfo& packet) override {
        CasioStorageCommand entry;
        if (!readCommand(packet, CasioStorage::commandFileIs, &entry)) {
            return;
        }
        const Buffer& name = entry.fields[CasioCommandHeader::nameField];
        // A folder may be listed as an entry without a name.
        if (name.getSize() > 0) {
            lister->fileListed({entry.size, entry.fields[CasioCommandHeader::folderField], name});
        }
    }

private:
    CasioFileLister* lister;
};

class FreeSpaceReader final : public TurnChecker {
public:
    void packetReceived(const CasioPacketInfo& packet) override {
        CasioStorageCommand answer;
        if (readCommand(packet, CasioStorage::commandFreeSpaceIs, &answer)) {
            freeBytes = answer.size;
            told = true;
        }
    }

    bool told = false;
    uint32_t freeBytes = 0;
};

// Takes the file announcement, then its parts strictly in order, and passes the bytes on
// until anything is wrong; after that only the end of the turn is awaited.
class FileFetcher final : public TurnChecker {
public:
    explicit FileFetcher(CasioFileSink* sink) : sink(sink) {}

    void packetReceived(const CasioPacketInfo& packet) override {
        if (failed()) {
            return;
        }
        if (!announced) {
            announce(packet);
        } else if (is(packet, Tools::typeData, CasioStorage::commandFile)) {
            take(packet);
        } else {
            fail("The calc sent an unexpected packet with the file !");
        }
    }

    bool takesNoMore() const override { return sinkFull; }

    // True, after reporting it, unless the whole file arrived. The sink says itself why it
    // took no more.
    bool judge() {
        if (sinkFull) {
            return true;
        }
        if (!failed() && !announced) {
            fail("The calc sent no file !");
        }
        if (!failed() && (received != size || (partCount > 0 && nextPart <= partCount))) {
            fail("The calc sent less of the file than it announced !");
        }
        return report();
    }

private:
    void announce(const CasioPacketInfo& packet) {
        CasioStorageCommand file;
        if (readCommand(packet, CasioStorage::commandFile, &file)) {
            announced = true;
            size = file.size;
            sink->fileAnnounced(size);
        }
    }

    void take(const CasioPacketInfo& packet) {
        CasioPart part;
        if (CasioDataPart::read(packet.extendedData, &part)) {
            fail("The calc sent an unreadable part of the file !");
            return;
        }
        if (partCount == 0) {
            partCount = part.count;
        }
        const uint64_t total = static_cast<uint64_t>(received) + part.bytes.getSize();
        if (part.count != partCount || part.number > partCount) {
            fail("The calc sent more parts than it announced !");
        } else if (part.number != nextPart) {
            fail("The calc sent the parts of the file out of order !");
        } else if (total > size) {
            fail("The calc sent more of the file than it announced !");
        } else if (sink->fileBytes(part.bytes)) {
            sinkFull = true;
        } else {
            received = static_cast<uint32_t>(total);
            ++nextPart;
        }
    }

    CasioFileSink* sink;
    bool sinkFull = false;
    bool announced = false;
    uint32_t size = 0;
    uint32_t received = 0;
    int partCount = 0;
    int nextPart = 1;
};

} // namespace

const char* CasioStorage::refusalReason(int refusal) {
    switch (refusal) {
    case Tools::subtypeExists:
        return "it exists on the calculator";
    case Tools::subtypeGenericError:
        // What a calculator answers for a missing file or storage.
        return "the calculator has no such file or storage";
    case Tools::subtypeMemoryFull:
        return "the calculator's memory is full";
    case notRefused:
        return "no answer that made sense";
    case CasioFileSender::pipelineBroken:
        return "the link broke off the parts sent ahead of their answers";
    default:
        return "the calculator refused it";
    }
}

bool CasioStorage::exchangeCommand(Socket* socket, unsigned char code,
                                   const CasioStorageCommand& command, CasioPacketInfo* answer) {
    unsigned char data[CasioCommandHeader::maxDataSize];
    Buffer dataBuffer(data, sizeof data);
    unsigned char packetData[packetArea];
    Buffer packet(packetData, packetArea);
    if (sessionOver(socket)) {
        return true;
    }
    if (CasioCommandHeader::build(command, &dataBuffer) ||
        CasioPacker::pack({Tools::typeCommand, code, &dataBuffer}, &packet)) {
        Log::error("Failed to pack the command !");
        return true;
    }
    return judgeSent(socket,
                     Tools::sendPacketAndGetAnswer(socket, &packet, commandTimeout, answer));
}

bool CasioStorage::rejectAnswer(const CasioPacketInfo& answer, int* refusal) {
    const bool isRefusal = answer.type == Tools::typeRefusal;
    if (refusal != nullptr) {
        *refusal = isRefusal ? answer.subtype : notRefused;
    }
    Log::error(!isRefusal                                   ? "Unexpected answer to the command !"
               : answer.subtype == Tools::subtypeMemoryFull ? "The calc refused: memory full !"
               : answer.subtype == Tools::subtypeExists     ? "The calc refused: file exists !"
                                                            : "The calc refused the command !");
    return true;
}

bool CasioStorage::readDeviceInfo(Socket* socket, CasioDeviceInfo* info) {
    CasioReceivedPacket answer;
    if (sessionOver(socket) ||
        judgeSent(socket, Tools::exchangeBarePacket(socket, Tools::typeCommand, commandDeviceInfo,
                                                    commandTimeout, &answer.info))) {
        return true;
    }
    if (!is(answer.info, Tools::typeAck, Tools::subtypeWithInformation)) {
        return rejectAnswer(answer.info, nullptr);
    }
    if (CasioDeviceInfo::read(answer.info.extendedData, info)) {
        Log::error("The calc's information is too short !");
        return true;
    }
    return false;
}

bool CasioStorage::listFiles(Socket* socket, const char* device, CasioFileLister* lister,
                             int* refusal) {
    EntryCollector collector(lister);
    const CasioStorageCommand command = CasioCommandHeader::naming(nullptr, nullptr, device);
    return runCommandWithTurn(socket, commandListFiles, command, &collector, refusal) ||
           collector.report();
}

bool CasioStorage::freeSpace(Socket* socket, const char* device, uint32_t* freeBytes,
                             int* refusal) {
    FreeSpaceReader reader;
    const CasioStorageCommand command = CasioCommandHeader::naming(nullptr, nullptr, device);
    if (runCommandWithTurn(socket, commandFreeSpace, command, &reader, refusal) ||
        reader.report()) {
        return true;
    }
    if (!reader.told) {
        Log::error("The calc did not tell its free space !");
        return true;
    }
    *freeBytes = reader.freeBytes;
    return false;
}

bool CasioStorage::fetchFile(Socket* socket, const char* folder, const char* name,
                             const char* device, CasioFileSink* sink, int* refusal) {
    FileFetcher fetcher(sink);
    const CasioStorageCommand command = CasioCommandHeader::naming(folder, name, device);
    return runCommandWithTurn(socket, commandSendMeAFile, command, &fetcher, refusal) ||
           fetcher.judge();
}

bool CasioStorage::deleteFile(Socket* socket, const char* folder, const char* name,
                              const char* device, int* refusal) {
    return sendCommand(socket, commandDelete, CasioCommandHeader::naming(folder, name, device),
                       refusal);
}

bool CasioStorage::optimize(Socket* socket, const char* device, int* refusal) {
    socket->setPatience(LinkLimits::slow);
    const bool failed = sendCommand(socket, commandOptimize,
                                    CasioCommandHeader::naming(nullptr, nullptr, device), refusal);
    socket->setPatience(LinkLimits::normal);
    return failed;
}
