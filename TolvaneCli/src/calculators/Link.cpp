#include "Link.h"

#include "CasioProtocolTools.h"
#include "Log.h"

namespace {

constexpr int connectAttempts = 5;

// Why no calculator could be opened, and what to do about it.
std::string whatToDo(CalcChoice choice, const std::string& chosen) {
    switch (choice) {
    case CalcChoice::NoneAttached:
        return "No calculator found: plug it in and put it in its USB receive mode";
    case CalcChoice::SeveralAttached:
        return "Several calculators are attached: choose one with -c ADDRESS (see tolvane "
               "devices), or use --all";
    case CalcChoice::NotAttached:
        return "No calculator " + chosen + " is attached: see tolvane devices";
    case CalcChoice::Ambiguous:
        return "Several calculators have the serial " + chosen + ": choose one by its address";
    case CalcChoice::Busy:
        return "The calculator is in use by another program: let it end, then try again";
    default:
        return "Can't open the calculator: see ACCESS RIGHTS in tolvane(1) to let you use it";
    }
}

} // namespace

Link::~Link() {
    close(false);
}

bool Link::openDevice(bool quietly) {
    if (context.initUsbContext()) {
        Log::error("Can't init the USB context !");
        return false;
    }
    contextReady = true;
    libusb_device_handle* handle = nullptr;
    const int level = Log::getLoglevel();
    if (quietly && level < LOGLEVEL_DEBUG) {
        Log::setLoglevel(-1);
    }
    choice = CalcChooser::open(&context, chosen.c_str(), &handle, &chosenCalculator);
    Log::setLoglevel(level);
    if (choice != CalcChoice::Opened) {
        if (!quietly && choice != CalcChoice::IsDrive) {
            Log::error(whatToDo(choice, chosen).c_str());
        }
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
