#include "CasioTurnChecker.h"

#include "CasioProtocolTools.h"
#include "Log.h"

bool CasioTurnChecker::report() const {
    if (problem != nullptr) {
        Log::error(problem);
    }
    return failed();
}

void CasioTurnChecker::fail(const char* what) {
    if (problem == nullptr) {
        problem = what;
    }
}

bool CasioTurnChecker::readCommand(const CasioPacketInfo& packet, unsigned char code,
                                   CasioStorageCommand* command) {
    if (!CasioProtocolTools::isPacket(packet, CasioProtocolTools::typeCommand, code)) {
        fail("The calc sent an unexpected packet in its turn !");
        return false;
    }
    if (CasioCommandHeader::read(packet.extendedData, command)) {
        fail("The calc sent an unreadable command !");
        return false;
    }
    return true;
}
