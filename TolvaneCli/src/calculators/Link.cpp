#include "Link.h"

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
        choice = CalcChoice::Unopened;
        return false;
    }
    contextReady = true;
    libusb_device_handle* handle = nullptr;
    choice = CalcChooser::open(&context, chosen.c_str(), &handle);
    if (choice != CalcChoice::Opened) {
        close(false);
        return false;
    }
    calcSocket.emplace();
    calcSocket->setDeviceHandle(handle);
    return true;
}

bool Link::openSession() {
    if (!openDevice()) {
        return false;
    }
    if (CasioProtocolTools::connectProtocol(&*calcSocket, connectAttempts)) {
        Log::error("Can't connect the protocol !");
        choice = CalcChoice::Unopened;
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
    if (sessionOpen && calcSocket->isTerminated()) {
        // Ended already, before its time.
    } else if (sessionOpen && !calcSocket->deviceGone()) {
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
