#include "Link.h"

#include "CalcConnector.h"
#include "CasioProtocolTools.h"
#include "Log.h"

namespace {

constexpr int connectAttempts = 5;

} // namespace

Link::~Link() {
    close(false);
}

bool Link::openDevice() {
    if (context.initUsbContext()) {
        Log::error("Can't init the USB context !");
        return false;
    }
    contextReady = true;
    calcSocket.emplace();
    if (calcSocket->setDeviceHandle(CalcConnector::connect(&context))) {
        Log::error("Can't connect to the calc !");
        close(false);
        return false;
    }
    return true;
}

bool Link::openSession() {
    if (!openDevice()) {
        return false;
    }
    if (CasioProtocolTools::connectProtocol(&*calcSocket, connectAttempts)) {
        Log::error("Can't connect the protocol !");
        close(false);
        return false;
    }
    sessionOpen = true;
    return true;
}

bool Link::restartSession() {
    close(false);
    return openSession();
}

bool Link::close(bool interrupted) {
    bool ended = true;
    if (sessionOpen && !calcSocket->deviceGone()) {
        // The calculator waits for the terminate, whatever stopped us; a stop asked for still
        // holds for the rest of the command.
        calcSocket->ignoreInterrupt();
        const unsigned char reason = interrupted ? CasioProtocolTools::terminateUserAsked
                                                 : CasioProtocolTools::terminateNormal;
        ended = !CasioProtocolTools::terminateProtocol(&*calcSocket, reason);
    } else if (sessionOpen) {
        ended = false;
    }
    sessionOpen = false;
    calcSocket.reset();
    if (contextReady) {
        context.deinitUsbContext();
        contextReady = false;
    }
    return ended;
}
