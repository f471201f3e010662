#include "CalcConnector.h"
#include "LibusbDouble.h"
#include "Log.h"
#include "Socket.h"
#include "SocketTools.h"
#include "StdoutCapture.h"
#include "UsbContext.h"
#include "WireBytes.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using LibusbDouble::Bytes;
using WireBytes::text;

constexpr uint16_t calcVendor = 0x07CF;
constexpr uint16_t calcProduct = 0x6101;

class UsbTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        LibusbDouble::reset();
        Log::setLoglevel(LOGLEVEL_INFO);
    }

    // Connects as both programs do and returns everything printed on the way.
    std::string connect(Socket& socket, bool* failed) {
        StdoutCapture capture;
        UsbContext context;
        context.initUsbContext();
        *failed = socket.setDeviceHandle(CalcConnector::connect(&context));
        return capture.finish();
    }
};

TEST_F(UsbTransportTest, AContextThatCannotBeMadeIsReported) {
    LibusbDouble::setInitResult(LIBUSB_ERROR_OTHER);
    UsbContext context;
    StdoutCapture capture;
    EXPECT_TRUE(context.initUsbContext());
    EXPECT_EQ(context.getlibusbContext(), nullptr);
    EXPECT_EQ(capture.finish(), "[ERROR]: can't init libusb !\n\n"
                                "[ERROR]: getlibusbContext: libusbContext => NULL !\n\n");
}

TEST_F(UsbTransportTest, TheContextLivesUntilDeinitialisedOnPurpose) {
    {
        UsbContext context;
        EXPECT_FALSE(context.initUsbContext());
        EXPECT_NE(context.getlibusbContext(), nullptr);
    }
    EXPECT_EQ(LibusbDouble::exitCount(), 0);

    UsbContext context;
    context.initUsbContext();
    context.deinitUsbContext();
    EXPECT_EQ(LibusbDouble::exitCount(), 1);
    Log::setLoglevel(-1);
    EXPECT_EQ(context.getlibusbContext(), nullptr);
}

TEST_F(UsbTransportTest, ConnectOpensTheCalculatorAndLeavesNoStrayReference) {
    LibusbDouble::addDevice(0x1234, 0x0001);
    LibusbDouble::addDevice(calcVendor, calcProduct);
    {
        Socket socket;
        bool failed = true;
        EXPECT_EQ(connect(socket, &failed), "[INFO]: Openning socket to calc...\n"
                                            "[INFO]: Openning socket to calc\n"
                                            "[INFO]: Socket connected !\n");
        EXPECT_FALSE(failed);
        EXPECT_EQ(LibusbDouble::openedDevice(), 1);
        EXPECT_EQ(LibusbDouble::freeListCount(), 1);
        // Only the open handle holds the device now.
        EXPECT_EQ(LibusbDouble::deviceReferences(1), 1);
        EXPECT_EQ(LibusbDouble::deviceReferences(0), 0);
    }
    EXPECT_EQ(LibusbDouble::openHandleCount(), 0);
    EXPECT_EQ(LibusbDouble::deviceReferences(1), 0);
    EXPECT_FALSE(LibusbDouble::misuseSeen());
}

// The interface is claimed after opening, a bound kernel driver detached first, and
// released before the handle is closed.
TEST_F(UsbTransportTest, TheInterfaceIsClaimedForTheSocketsLifeAndReleasedBeforeClosing) {
    LibusbDouble::addDevice(calcVendor, calcProduct);
    LibusbDouble::setKernelDriverActive(true);
    {
        Socket socket;
        bool failed = true;
        connect(socket, &failed);
        ASSERT_FALSE(failed);
        EXPECT_EQ(LibusbDouble::detachCount(), 1);
        EXPECT_EQ(LibusbDouble::claimCount(), 1);
        EXPECT_EQ(LibusbDouble::releaseCount(), 0);
    }
    EXPECT_EQ(LibusbDouble::releaseCount(), 1);
    EXPECT_EQ(LibusbDouble::closedWhileClaimed(), 0);
    EXPECT_EQ(LibusbDouble::openHandleCount(), 0);
}

TEST_F(UsbTransportTest, AnInterfaceThatCannotBeClaimedFailsTheConnectWithItsCause) {
    const struct {
        int claimResult;
        const char* cause;
    } cases[] = {
        {LIBUSB_ERROR_BUSY, "[ERROR]: The calculator is in use by another program !\n"},
        {LIBUSB_ERROR_IO, "[ERROR]: Can't claim the calculator's USB interface !\n"},
    };
    for (const auto& scenario : cases) {
        LibusbDouble::reset();
        LibusbDouble::addDevice(calcVendor, calcProduct);
        LibusbDouble::setClaimResult(scenario.claimResult);
        Socket socket;
        bool failed = false;
        EXPECT_EQ(connect(socket, &failed), std::string("[INFO]: Openning socket to calc...\n"
                                                        "[INFO]: Openning socket to calc\n") +
                                                scenario.cause +
                                                "[ERROR]: Calc is detected but impossible to "
                                                "connect !\n");
        EXPECT_TRUE(failed);
        EXPECT_EQ(LibusbDouble::openHandleCount(), 0);
        EXPECT_EQ(LibusbDouble::deviceReferences(0), 0);
    }
}

TEST_F(UsbTransportTest, TheFoundDeviceOutlivesTheFreedList) {
    LibusbDouble::addDevice(calcVendor, calcProduct);
    UsbContext context;
    context.initUsbContext();
    libusb_device* device = CalcConnector::findCalcDevice(&context, calcVendor, calcProduct);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(LibusbDouble::freeListCount(), 1);
    EXPECT_EQ(LibusbDouble::deviceReferences(0), 1);
    libusb_unref_device(device);
    EXPECT_FALSE(LibusbDouble::misuseSeen());
}

TEST_F(UsbTransportTest, TheFirstCalculatorListedWinsAndUnreadableDevicesAreSkipped) {
    LibusbDouble::addDevice(calcVendor, calcProduct, LIBUSB_ERROR_IO);
    LibusbDouble::addDevice(calcVendor, calcProduct);
    LibusbDouble::addDevice(calcVendor, calcProduct);
    Log::setLoglevel(LOGLEVEL_DEBUG);
    Socket socket;
    bool failed = true;
    EXPECT_EQ(connect(socket, &failed), "[INFO]: Openning socket to calc...\n"
                                        "[DEBUG]: Reading USB device list ...\n"
                                        "[DEBUG]: Checking a USB peripheral ...\n"
                                        "[INFO]: Buggy USB peripheral encountered !\n"
                                        "[DEBUG]: Checking a USB peripheral ...\n"
                                        "[DEBUG]: Found the calculator over USB !\n"
                                        "[INFO]: Openning socket to calc\n"
                                        "[INFO]: Socket connected !\n");
    EXPECT_FALSE(failed);
    EXPECT_EQ(LibusbDouble::openedDevice(), 1);
}

TEST_F(UsbTransportTest, AMissingCalculatorIsReportedAndTheListStillFreed) {
    LibusbDouble::addDevice(calcVendor, 0x6102);
    Socket socket;
    bool failed = false;
    EXPECT_EQ(connect(socket, &failed), "[INFO]: Openning socket to calc...\n"
                                        "[ERROR]: Can't find the calculator's USB peripheral !\n"
                                        "[ERROR]: Failed to find the calc !\n"
                                        "[INFO]: Check the receive mode ?\n");
    EXPECT_TRUE(failed);
    EXPECT_EQ(LibusbDouble::freeListCount(), 1);
    EXPECT_EQ(LibusbDouble::openCount(), 0);
    EXPECT_EQ(LibusbDouble::deviceReferences(0), 0);
}

TEST_F(UsbTransportTest, AnEmptyBusAndAnUnreadableListFindNothing) {
    Socket socket;
    bool failed = false;
    connect(socket, &failed);
    EXPECT_TRUE(failed);
    EXPECT_EQ(LibusbDouble::freeListCount(), 1);

    LibusbDouble::reset();
    LibusbDouble::setDeviceListResult(LIBUSB_ERROR_NO_MEM);
    Log::setLoglevel(LOGLEVEL_ERROR);
    Socket other;
    EXPECT_EQ(connect(other, &failed), "[ERROR]: Can't get the list of USB devices !\n"
                                       "[ERROR]: Failed to find the calc !\n");
    EXPECT_TRUE(failed);
    EXPECT_EQ(LibusbDouble::freeListCount(), 0);
}

TEST_F(UsbTransportTest, AnOpenThatFailsIsReportedByItsCauseAndReleasesTheDevice) {
    struct Case {
        int openResult;
        const char* cause;
    };
    for (const Case& c :
         {Case{LIBUSB_ERROR_ACCESS, "Not enought permission to open the calculator, run as root "
                                    "or add a rule to udev !"},
          Case{LIBUSB_ERROR_BUSY, "Unknown error while opening the socket to the calculator !"}}) {
        LibusbDouble::reset();
        LibusbDouble::addDevice(calcVendor, calcProduct);
        LibusbDouble::setOpenResult(c.openResult);
        Socket socket;
        bool failed = false;
        EXPECT_EQ(connect(socket, &failed), std::string("[INFO]: Openning socket to calc...\n"
                                                        "[INFO]: Openning socket to calc\n"
                                                        "[ERROR]: ") +
                                                c.cause +
                                                "\n[ERROR]: Calc is detected but impossible to "
                                                "connect !\n");
        EXPECT_TRUE(failed);
        EXPECT_EQ(LibusbDouble::deviceReferences(0), 0);
        EXPECT_FALSE(LibusbDouble::misuseSeen());
    }
}

class SocketTest : public UsbTransportTest {
protected:
    void SetUp() override {
        UsbTransportTest::SetUp();
        LibusbDouble::addDevice(calcVendor, calcProduct);
        Log::setLoglevel(-1);
        bool failed = true;
        connect(socket, &failed);
        ASSERT_FALSE(failed);
        Log::setLoglevel(LOGLEVEL_ERROR);
    }

    Socket socket;
};

TEST_F(SocketTest, TransfersUseTheBulkEndpointsAndTheTwoSecondTimeout) {
    Bytes packet = text("hello");
    Buffer out(packet.data(), 5);
    EXPECT_EQ(socket.sendBuffer(&out), SOCKET_OK);
    EXPECT_EQ(out.getSize(), 5);

    LibusbDouble::queueIn({text("abc"), 0});
    unsigned char area[64];
    Buffer in(area, 64);
    EXPECT_EQ(socket.receiveBuffer(&in), SOCKET_OK);
    EXPECT_EQ(in.getSize(), 3);
    EXPECT_EQ(Bytes(area, area + 3), text("abc"));

    const auto& transfers = LibusbDouble::transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].endpoint, 0x01);
    EXPECT_EQ(transfers[0].moved, text("hello"));
    EXPECT_EQ(transfers[1].endpoint, 0x82);
    EXPECT_EQ(transfers[1].offered, 64);
    EXPECT_EQ(transfers[0].timeout, 2000u);
    EXPECT_EQ(transfers[1].timeout, 2000u);
}

// A timed-out transfer may have moved some bytes: they count, sent or received.
TEST_F(SocketTest, AFailedTransferStillCountsTheBytesThatMoved) {
    LibusbDouble::queueOut({3, LIBUSB_ERROR_TIMEOUT});
    Bytes packet = text("hello");
    Buffer out(packet.data(), 5);
    StdoutCapture capture;
    EXPECT_EQ(socket.sendBuffer(&out), SOCKET_ERROR);
    EXPECT_EQ(out.getSize(), 3);

    LibusbDouble::queueIn({text("abc"), LIBUSB_ERROR_TIMEOUT});
    unsigned char area[64];
    Buffer in(area, 64);
    EXPECT_EQ(socket.receiveBuffer(&in), SOCKET_ERROR);
    ASSERT_EQ(in.getSize(), 3);
    EXPECT_EQ(Bytes(area, area + 3), text("abc"));
    EXPECT_EQ(capture.finish(), "[ERROR]: bulkTransfereBuffer: Error in bulk transfere\n"
                                "[ERROR]: receiveBuffer: Error sending bulk\n"
                                "[ERROR]: bulkTransfereBuffer: Error in bulk transfere\n"
                                "[ERROR]: receiveBuffer: Error receiving bulk\n");
}

TEST_F(SocketTest, ASecondHandleClosesTheOneItReplaces) {
    Log::setLoglevel(-1);
    UsbContext context;
    context.initUsbContext();
    EXPECT_FALSE(socket.setDeviceHandle(CalcConnector::connect(&context)));
    EXPECT_EQ(LibusbDouble::openHandleCount(), 1);
    EXPECT_EQ(LibusbDouble::closeCount(), 1);
}

TEST(UnconnectedSocket, RefusesANullHandleAndEveryTransfer) {
    LibusbDouble::reset();
    Log::setLoglevel(LOGLEVEL_ERROR);
    {
        Socket socket;
        EXPECT_TRUE(socket.setDeviceHandle(nullptr));
        Bytes packet = text("hello");
        Buffer out(packet.data(), 5);
        unsigned char area[64];
        Buffer in(area, 64);
        StdoutCapture capture;
        EXPECT_EQ(socket.sendBuffer(&out), SOCKET_ERROR);
        EXPECT_EQ(socket.receiveBuffer(&in), SOCKET_ERROR);
        EXPECT_EQ(capture.finish(), "[ERROR]: bulkTransfere: Not connected !\n"
                                    "[ERROR]: receiveBuffer: Error sending bulk\n"
                                    "[ERROR]: bulkTransfere: Not connected !\n"
                                    "[ERROR]: receiveBuffer: Error receiving bulk\n");
        EXPECT_EQ(out.getSize(), 0);
        EXPECT_EQ(in.getSize(), 0);
    }
    EXPECT_TRUE(LibusbDouble::transfers().empty());
    EXPECT_EQ(LibusbDouble::closeCount(), 0);
}

class SocketToolsTest : public SocketTest {
protected:
    bool send(Bytes bytes, int timeout) {
        Buffer buffer(bytes.data(), static_cast<int>(bytes.size()));
        const bool failed = SocketTools::sendBufferOrTimeout(&socket, &buffer, timeout);
        EXPECT_EQ(buffer.getSize(), static_cast<int>(bytes.size()));
        return failed;
    }

    bool receive(int timeout, int minimum, Bytes* received) {
        unsigned char area[4096];
        Buffer buffer(area, sizeof area);
        const bool failed = SocketTools::receiveBufferOrTimeout(&socket, &buffer, timeout, minimum);
        received->assign(area, area + buffer.getSize());
        return failed;
    }
};

TEST_F(SocketToolsTest, SendContinuesPartialSendsFromTheFirstUnsentByte) {
    EXPECT_FALSE(send({}, 10));
    EXPECT_TRUE(LibusbDouble::transfers().empty());

    EXPECT_FALSE(send(text("abcdef"), 1));
    EXPECT_EQ(LibusbDouble::outTransferCount(), 1);

    LibusbDouble::clearTransfers();
    LibusbDouble::queueOut({4, 0});
    EXPECT_FALSE(send(text("abcdef"), 10));
    ASSERT_EQ(LibusbDouble::transfers().size(), 2u);
    EXPECT_EQ(LibusbDouble::transfers()[1].offered, 2);
    EXPECT_EQ(LibusbDouble::bytesSent(), text("abcdef"));
}

// The calculator must never see the first bytes of a packet twice.
TEST_F(SocketToolsTest, AFailedSendIsContinuedAfterTheBytesItMoved) {
    Bytes packet(300);
    for (size_t i = 0; i < packet.size(); ++i) {
        packet[i] = static_cast<uint8_t>(i);
    }
    LibusbDouble::queueOut({100, LIBUSB_ERROR_TIMEOUT});
    Log::setLoglevel(-1);
    EXPECT_FALSE(send(packet, 10));
    ASSERT_EQ(LibusbDouble::transfers().size(), 2u);
    EXPECT_EQ(LibusbDouble::transfers()[1].offered, 200);
    EXPECT_EQ(LibusbDouble::transfers()[1].moved, Bytes(packet.begin() + 100, packet.end()));
    EXPECT_EQ(LibusbDouble::bytesSent(), packet);
}

TEST_F(SocketToolsTest, SendGivesUpWhenTheTriesAreUsed) {
    for (int i = 0; i < 4; ++i) {
        LibusbDouble::queueOut({0, LIBUSB_ERROR_PIPE});
    }
    StdoutCapture capture;
    EXPECT_TRUE(send(text("abcdef"), 3));
    std::string expected;
    for (int i = 0; i < 3; ++i) {
        expected += "[ERROR]: bulkTransfereBuffer: Error in bulk transfere\n"
                    "[ERROR]: receiveBuffer: Error sending bulk\n";
    }
    EXPECT_EQ(capture.finish(), expected);
    EXPECT_EQ(LibusbDouble::outTransferCount(), 3);

    // A limit below one still makes the first try.
    LibusbDouble::clearTransfers();
    LibusbDouble::queueOut({1, 0});
    EXPECT_TRUE(send(text("abcdef"), 0));
    EXPECT_EQ(LibusbDouble::outTransferCount(), 1);
}

TEST_F(SocketToolsTest, ReceiveJoinsPiecesUntilTheMinimum) {
    LibusbDouble::queueIn({text("abcd"), 0});
    LibusbDouble::queueIn({text("ef"), 0});
    LibusbDouble::queueIn({text("never"), 0});
    Bytes received;
    EXPECT_FALSE(receive(10, 6, &received));
    EXPECT_EQ(received, text("abcdef"));
    EXPECT_EQ(LibusbDouble::inTransferCount(), 2);
    EXPECT_EQ(LibusbDouble::transfers()[1].offered, 4096 - 4);
}

TEST_F(SocketToolsTest, ReceiveKeepsWhatArrivedWhenTheMinimumIsNotReached) {
    LibusbDouble::queueIn({text("abc"), 0});
    Log::setLoglevel(-1);
    Bytes received;
    EXPECT_TRUE(receive(3, 6, &received));
    EXPECT_EQ(received, text("abc"));
    EXPECT_EQ(LibusbDouble::inTransferCount(), 3);

    EXPECT_TRUE(receive(0, 6, &received));
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(LibusbDouble::inTransferCount(), 3);
}

TEST_F(SocketToolsTest, BytesOfAFailedReceiveAreKeptAndJoined) {
    LibusbDouble::queueIn({text("abc"), LIBUSB_ERROR_TIMEOUT});
    LibusbDouble::queueIn({text("def"), 0});
    Log::setLoglevel(-1);
    Bytes received;
    EXPECT_FALSE(receive(10, 6, &received));
    EXPECT_EQ(received, text("abcdef"));
}

// Ten seconds without a byte from the calculator end the tries, whatever their count, and
// are reported once; bytes from the calculator, and only they, start the count afresh.
TEST_F(SocketToolsTest, TenSecondsOfSilenceEndTheTries) {
    const LibusbDouble::InStep silent{{}, LIBUSB_ERROR_TIMEOUT, 0};
    const struct {
        const char* name;
        std::vector<LibusbDouble::InStep> steps;
        int minimum;
        bool failed;
        int transfers;
    } cases[] = {
        {"nothing at all", {}, 6, true, 5},
        {"a byte after four timeouts",
         {silent, silent, silent, silent, {text("a"), 0}},
         2,
         true,
         10},
        {"a slow answer", {silent, silent, silent, silent, {text("abcdef"), 0}}, 6, false, 5},
        {"slow pieces",
         {silent,
          silent,
          silent,
          {text("abc"), 0},
          silent,
          silent,
          silent,
          silent,
          {text("def"), 0}},
         6,
         false,
         9},
    };
    for (const auto& scenario : cases) {
        LibusbDouble::clearScript();
        Socket fresh;
        bool unconnected = true;
        connect(fresh, &unconnected);
        LibusbDouble::clearTransfers();
        for (const auto& step : scenario.steps) {
            LibusbDouble::queueIn(step);
        }
        Log::setLoglevel(LOGLEVEL_ERROR);
        StdoutCapture capture;
        unsigned char area[64];
        Buffer buffer(area, sizeof area);
        EXPECT_EQ(SocketTools::receiveBufferOrTimeout(&fresh, &buffer, 20, scenario.minimum),
                  scenario.failed)
            << scenario.name;
        EXPECT_EQ(LibusbDouble::inTransferCount(), scenario.transfers) << scenario.name;
        const std::string printed = capture.finish();
        const std::string silence = "[ERROR]: The calc does not answer !\n";
        EXPECT_EQ(printed.find(silence) != std::string::npos, scenario.failed) << scenario.name;
        EXPECT_EQ(printed.find(silence), printed.rfind(silence)) << "reported once";
        EXPECT_EQ(fresh.calcIsSilent(), scenario.failed) << scenario.name;
    }
}

// Trying again does not help a calculator that has stopped answering, nor does a calculator
// that takes nothing count as answering. A last try each way is still made: an answer owed
// may yet come.
TEST_F(SocketToolsTest, ASilentCalculatorGetsOneLastTryEachWay) {
    Log::setLoglevel(-1);
    for (int i = 0; i < 5; ++i) {
        LibusbDouble::queueOut({0, LIBUSB_ERROR_TIMEOUT});
    }
    EXPECT_TRUE(send(text("abcdef"), 10));
    EXPECT_EQ(LibusbDouble::outTransferCount(), 5);
    EXPECT_EQ(LibusbDouble::now(), 10000);
    EXPECT_TRUE(socket.calcIsSilent());

    LibusbDouble::clearTransfers();
    EXPECT_FALSE(send(text("abcdef"), 10));
    EXPECT_EQ(LibusbDouble::outTransferCount(), 1);
    Bytes received;
    EXPECT_TRUE(receive(10, 6, &received));
    EXPECT_EQ(LibusbDouble::inTransferCount(), 1);
}

} // namespace
