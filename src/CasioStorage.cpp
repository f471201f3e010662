#include "CasioStorage.h"

#include "CasioCalcTurn.h"
#include "CasioCommandHeader.h"
#include "CasioDataFetcher.h"
#include "CasioDataPart.h"
#include "CasioFileSender.h"
#include "CasioPacker.h"
#include "CasioProtocolTools.h"
#include "CasioTurnChecker.h"
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

class EntryCollector final : public CasioTurnChecker {
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

// The one packet, command `code`, whose size field is the answer.
class SizeReader final : public CasioTurnChecker {
public:
    explicit SizeReader(unsigned char code) : code(code) {}

    void packetReceived(const CasioPacketInfo& packet) override {
        CasioStorageCommand answer;
        if (readCommand(packet, code, &answer)) {
            size = answer.size;
            told = true;
        }
    }

    unsigned char code;
    bool told = false;
    uint32_t size = 0;
};

const CasioDataFetcher::Words fileWords = {
    "The calc sent no file !",
    "The calc sent less of the file than it announced !",
    "The calc sent an unexpected packet with the file !",
    "The calc sent an unreadable part of the file !",
    "The calc sent more parts than it announced !",
    "The calc sent the parts of the file out of order !",
    "The calc sent more of the file than it announced !",
};

// The one file asked for, into the sink.
class FileFetcher final : public CasioDataFetcher {
public:
    explicit FileFetcher(CasioFileSink* sink)
        : CasioDataFetcher(CasioStorage::commandFile, fileWords, false), sink(sink) {}

private:
    bool announced(const CasioStorageCommand& command) override {
        sink->fileAnnounced(command.size);
        return false;
    }
    bool bytes(const Buffer& bytes) override { return sink->fileBytes(bytes); }

    CasioFileSink* sink;
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

bool CasioStorage::runCommand(Socket* socket, unsigned char code,
                              const CasioStorageCommand& command, int* refusal) {
    if (refusal != nullptr) {
        *refusal = notRefused;
    }
    CasioReceivedPacket answer;
    if (exchangeCommand(socket, code, command, &answer.info)) {
        return true;
    }
    return !Tools::isPlainAck(answer.info) && rejectAnswer(answer.info, refusal);
}

bool CasioStorage::runCommandWithTurn(Socket* socket, unsigned char code,
                                      const CasioStorageCommand& command,
                                      CasioTurnListener* listener, int* refusal) {
    return runCommand(socket, code, command, refusal) || CasioCalcTurn::run(socket, listener);
}

bool CasioStorage::askSize(Socket* socket, unsigned char code, unsigned char answerCode,
                           const CasioStorageCommand& command, uint32_t* size, int* refusal) {
    SizeReader reader(answerCode);
    if (runCommandWithTurn(socket, code, command, &reader, refusal) || reader.report()) {
        return true;
    }
    if (!reader.told) {
        Log::error("The calc did not tell its free space !");
        return true;
    }
    *size = reader.size;
    return false;
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
    return askSize(socket, commandFreeSpace, commandFreeSpaceIs,
                   CasioCommandHeader::naming(nullptr, nullptr, device), freeBytes, refusal);
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
    return runCommand(socket, commandDelete, CasioCommandHeader::naming(folder, name, device),
                      refusal);
}

bool CasioStorage::optimize(Socket* socket, const char* device, int* refusal) {
    socket->setPatience(LinkLimits::slow);
    const bool failed = runCommand(socket, commandOptimize,
                                   CasioCommandHeader::naming(nullptr, nullptr, device), refusal);
    socket->setPatience(LinkLimits::normal);
    return failed;
}
