#pragma once

#include "Buffer.h"
#include "CasioCalcTurn.h"
#include "CasioCommandHeader.h"
#include "CasioDeviceInfo.h"
#include "CasioPacker.h"
#include "Socket.h"

#include <cstdint>

// A file as the calculator lists it; folder and name view storage that the next entry reuses.
struct CasioFileEntry {
    uint32_t size;
    Buffer folder;
    Buffer name;
};

// Takes the calculator's files as it lists them, one at a time.
class CasioFileLister {
public:
    virtual void fileListed(const CasioFileEntry& entry) = 0;

protected:
    ~CasioFileLister() = default;
};

// Takes a file the calculator sends, a part at a time: no more is ever held in memory.
class CasioFileSink {
public:
    // The calculator announced the file and its size, before any of its bytes.
    virtual void fileAnnounced(uint32_t size) = 0;
    // The next bytes of the file, in order. True when they could not be kept: the session is
    // then ended at once (see CasioCalcTurn), and the sink says why.
    virtual bool fileBytes(const Buffer& bytes) = 0;

protected:
    ~CasioFileSink() = default;
};

// The storage commands of an open link: device information, listing, free space, fetching,
// deleting and compacting. Each runs whole, the calculator's turn included when it answers
// with packets of its own, and leaves the link ready for the next command. All return true on
// failure; when the calculator refused the command, `refusal` (if given) holds the refusal's
// subtype, otherwise notRefused.
class CasioStorage {
public:
    static constexpr unsigned char commandDeviceInfo = 0x01;
    static constexpr unsigned char commandSendMeAFile = 0x44;
    static constexpr unsigned char commandFile = 0x45;
    static constexpr unsigned char commandDelete = 0x46;
    static constexpr unsigned char commandFreeSpace = 0x4B;
    static constexpr unsigned char commandFreeSpaceIs = 0x4C;
    static constexpr unsigned char commandListFiles = 0x4D;
    static constexpr unsigned char commandFileIs = 0x4E;
    static constexpr unsigned char commandOptimize = 0x51;

    static constexpr int notRefused = -1;
    // What a refusal of a storage command means, in words for a user.
    static const char* refusalReason(int refusal);

    // Sends storage command `code` and reads the calculator's answer; true, after saying so,
    // when the command cannot be packed or no answer came.
    static bool exchangeCommand(Socket* socket, unsigned char code,
                                const CasioStorageCommand& command, CasioPacketInfo* answer);
    // A command the calculator acknowledges: true unless it did.
    static bool runCommand(Socket* socket, unsigned char code, const CasioStorageCommand& command,
                           int* refusal);
    // A command the calculator acknowledges and then answers with a turn of its own, each
    // packet of which `listener` takes.
    static bool runCommandWithTurn(Socket* socket, unsigned char code,
                                   const CasioStorageCommand& command, CasioTurnListener* listener,
                                   int* refusal);
    // A command answered, in the calculator's turn, by one command `answerCode` whose size
    // field is the answer (free space).
    static bool askSize(Socket* socket, unsigned char code, unsigned char answerCode,
                        const CasioStorageCommand& command, uint32_t* size, int* refusal);
    // Says why `answer` is not the acknowledgement that was expected. Always true; `refusal`
    // (if given) then holds the refusal's subtype, or notRefused for another answer.
    static bool rejectAnswer(const CasioPacketInfo& answer, int* refusal);

    static bool readDeviceInfo(Socket* socket, CasioDeviceInfo* info);
    // Every file of the device, folders' files included; entries that are no file are skipped.
    static bool listFiles(Socket* socket, const char* device, CasioFileLister* lister,
                          int* refusal = nullptr);
    static bool freeSpace(Socket* socket, const char* device, uint32_t* freeBytes,
                          int* refusal = nullptr);
    // Fails, after the calculator's turn has ended, when the file did not arrive whole and in
    // order, or the sink could not keep it (the session is terminated then); the sink has
    // then seen only a beginning of it, or nothing.
    static bool fetchFile(Socket* socket, const char* folder, const char* name, const char* device,
                          CasioFileSink* sink, int* refusal = nullptr);
    static bool deleteFile(Socket* socket, const char* folder, const char* name, const char* device,
                           int* refusal = nullptr);
    // Waits for the calculator with LinkLimits::slow patience: compacting takes long.
    static bool optimize(Socket* socket, const char* device, int* refusal = nullptr);
};
