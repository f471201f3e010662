#include "CasioDriveScreen.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr unsigned char pollCode = 0xC0;
constexpr unsigned char readCode = 0xC1;
constexpr unsigned char writeCode = 0xC2;
constexpr unsigned char offerMark = 0xD0;
constexpr int countOffset = 6;
constexpr int availableOffset = 6;
constexpr int activityOffset = 10;

// SCSI status bytes, sense keys and additional sense codes, and the kernel's host and driver
// codes (scsi/scsi.h and scsi/sg.h hold them under other names).
constexpr int statusGood = 0x00;
constexpr int statusCheckCondition = 0x02;
constexpr int statusConditionMet = 0x04;
constexpr int keyNotReady = 0x2;
constexpr int keyIllegalRequest = 0x5;
constexpr int mediumNotPresent = 0x3A;
constexpr int hostNoConnect = 0x01;
constexpr int hostTimeOut = 0x03;
constexpr int hostBadTarget = 0x04;
constexpr int driverTimeout = 0x06;
constexpr int driverStatusMask = 0x0F;

struct Sense {
    int key = -1; // -1: none could be read
    int code = -1;
};

// Fixed format (70h, 71h): the key at 2, the additional code at 12; descriptor format (72h,
// 73h): at 1 and 2. Only the bytes the device wrote count, and only within the room for them.
Sense senseOf(const ScsiCommand& command) {
    Sense sense;
    const int size =
        command.senseSize < command.senseCapacity ? command.senseSize : command.senseCapacity;
    if (command.sense == nullptr || size < 1) {
        return sense;
    }
    const unsigned char* bytes = command.sense;
    const int format = bytes[0] & 0x7F;
    const bool fixed = format == 0x70 || format == 0x71;
    const bool descriptor = format == 0x72 || format == 0x73;
    const int keyAt = fixed ? 2 : 1;
    const int codeAt = fixed ? 12 : 2;
    if ((fixed || descriptor) && size > keyAt) {
        sense.key = bytes[keyAt] & 0x0F;
    }
    if ((fixed || descriptor) && size > codeAt) {
        sense.code = bytes[codeAt];
    }
    return sense;
}

CasioDriveVerdict verdictOfCall(int error) {
    switch (error) {
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN:
        return CasioDriveVerdict::gone;
    case EPERM:
    case EACCES:
        return CasioDriveVerdict::forbidden;
    case ETIMEDOUT:
        return CasioDriveVerdict::silent;
    default:
        return CasioDriveVerdict::again;
    }
}

void putCount(int count, unsigned char* block) {
    block[countOffset] = static_cast<unsigned char>(count >> 8);
    block[countOffset + 1] = static_cast<unsigned char>(count & 0xFF);
}

bool countBlock(unsigned char code, int count, unsigned char* block) {
    if (count < 1 || count > CasioDriveScreen::largestCount) {
        return true;
    }
    memset(block, 0, CasioDriveScreen::blockSize);
    block[0] = code;
    putCount(count, block);
    return false;
}

int bigEndian16(const unsigned char* bytes) {
    return bytes[0] << 8 | bytes[1];
}

} // namespace

void CasioDriveScreen::pollBlock(unsigned char* block) {
    memset(block, 0, blockSize);
    block[0] = pollCode;
}

bool CasioDriveScreen::readBlock(int count, unsigned char* block) {
    return countBlock(readCode, count, block);
}

bool CasioDriveScreen::writeBlock(int count, unsigned char* block) {
    return countBlock(writeCode, count, block);
}

void CasioDriveScreen::testUnitReadyBlock(unsigned char* block) {
    memset(block, 0, testUnitReadySize);
}

// The other bytes are taken as reserved: a model that puts something there is still read.
bool CasioDriveScreen::readOffer(const unsigned char* answer, int size, CasioScreenOffer* offer) {
    if (size != pollAnswerSize || answer[0] != offerMark) {
        return true;
    }
    offer->available = bigEndian16(answer + availableOffset);
    offer->activity = bigEndian16(answer + activityOffset);
    return false;
}

// Whatever is not clearly one of the others may pass: the caller tries again, for a while.
CasioDriveVerdict CasioDriveScreen::judge(const ScsiCommand& command) {
    if (command.error != 0) {
        return verdictOfCall(command.error);
    }
    if (command.hostStatus == hostNoConnect || command.hostStatus == hostBadTarget) {
        return CasioDriveVerdict::gone;
    }
    if (command.hostStatus == hostTimeOut ||
        (command.driverStatus & driverStatusMask) == driverTimeout) {
        return CasioDriveVerdict::silent;
    }
    if (command.hostStatus != 0) {
        return CasioDriveVerdict::again;
    }
    if (command.status == statusGood || command.status == statusConditionMet) {
        return CasioDriveVerdict::done;
    }
    if (command.status == statusCheckCondition && senseOf(command).key == keyIllegalRequest) {
        return CasioDriveVerdict::refused;
    }
    return CasioDriveVerdict::again;
}

CasioDriveMedium CasioDriveScreen::mediumOf(const ScsiCommand& testUnitReady) {
    if (judge(testUnitReady) == CasioDriveVerdict::done) {
        return CasioDriveMedium::present;
    }
    const Sense sense = senseOf(testUnitReady);
    const bool absent = testUnitReady.error == 0 && testUnitReady.hostStatus == 0 &&
                        testUnitReady.status == statusCheckCondition && sense.key == keyNotReady &&
                        sense.code == mediumNotPresent;
    return absent ? CasioDriveMedium::absent : CasioDriveMedium::unknown;
}
