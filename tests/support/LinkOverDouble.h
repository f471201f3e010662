#pragma once

#include "CalcConnector.h"
#include "LibusbDouble.h"
#include "Log.h"
#include "Socket.h"
#include "UsbContext.h"

#include <gtest/gtest.h>

// A fixture with a socket connected to the calculator on a fresh libusb double, nothing yet
// on the wire, and the log level at `level`.
class LinkOverDouble : public ::testing::Test {
protected:
    explicit LinkOverDouble(int level = LOGLEVEL_ERROR) : level(level) {}

    void SetUp() override {
        LibusbDouble::reset();
        LibusbDouble::addDevice(CalcConnector::calcVendorId, CalcConnector::calcProductId);
        connectAgain();
    }

    // A new handle for the socket: what it knew of the calculator's silence is forgotten.
    void connectAgain() {
        Log::setLoglevel(-1);
        if (!contextReady) {
            context.initUsbContext();
            contextReady = true;
        }
        ASSERT_FALSE(socket.setDeviceHandle(CalcConnector::connect(&context)));
        LibusbDouble::clearTransfers();
        Log::setLoglevel(level);
    }

    UsbContext context;
    Socket socket;

private:
    int level;
    bool contextReady = false;
};
