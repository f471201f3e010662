#include "CasioProtocolTools.h"
#include "CalcConnector.h"
#include "LibusbDouble.h"
#include "LinkOverDouble.h"
#include "Log.h"
#include "StdoutCapture.h"
#include "UsbContext.h"
#include "WireBytes.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using LibusbDouble::Bytes;

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}
using WireBytes::ack;
using WireBytes::concat;
using WireBytes::packet;
using WireBytes::text;

const Bytes connectRequest = packet(0x05, "00070");
const Bytes disconnectSignal = packet(0x18, "00070");
const Bytes fileExists = packet(0x15, "0206E");

class ProtocolTest : public LinkOverDouble {
protected:
    ProtocolTest() : LinkOverDouble(LOGLEVEL_INFO) {}

    bool exchange(Bytes toSend, int timeout, CasioPacketInfo* answer) {
        Buffer packetBuffer(toSend.data(), static_cast<int>(toSend.size()));
        return CasioProtocolTools::sendPacketAndGetAnswer(&socket, &packetBuffer, timeout, answer);
    }

    bool exchangeAndAck(Bytes toSend, int timeout) {
        Buffer packetBuffer(toSend.data(), static_cast<int>(toSend.size()));
        return CasioProtocolTools::sendPacketAndAck(&socket, &packetBuffer, timeout);
    }

    static int timesSent(const Bytes& bytes) {
        int count = 0;
        for (const auto& transfer : LibusbDouble::transfers()) {
            count += transfer.endpoint == 0x01 && transfer.moved == bytes;
        }
        return count;
    }
};

TEST_F(ProtocolTest, ConnectSendsAZeroByteThenRequestsUntilAcknowledged) {
    WireBytes::answerEveryPacketWith(ack());
    StdoutCapture capture;
    EXPECT_FALSE(CasioProtocolTools::connectProtocol(&socket, 5));
    EXPECT_EQ(capture.finish(), "[INFO]: Sending connection packet ...\n"
                                "[INFO]: Protocol connected !\n");
    EXPECT_EQ(LibusbDouble::bytesSent(), concat({0x00}, connectRequest));
}

TEST_F(ProtocolTest, ConnectMakesExactlyMaxRetryAttempts) {
    WireBytes::answerEveryPacketWith(fileExists);
    StdoutCapture capture;
    EXPECT_TRUE(CasioProtocolTools::connectProtocol(&socket, 5));
    std::string expected;
    for (int i = 0; i < 5; ++i) {
        expected += "[INFO]: Sending connection packet ...\n"
                    "[ERROR]: Unexpected answer while reading ACK !\n"
                    "[ERROR]: Failed to send and ACK connection packet !\n";
    }
    EXPECT_EQ(capture.finish(), expected);
    EXPECT_EQ(timesSent(connectRequest), 5);

    LibusbDouble::clearTransfers();
    EXPECT_TRUE(CasioProtocolTools::connectProtocol(&socket, 0));
    EXPECT_EQ(LibusbDouble::bytesSent(), Bytes({0x00}));
}

// Ten seconds of silence, not a hundred tries per attempt: later attempts fail at once,
// without sending what would not be answered.
TEST_F(ProtocolTest, ASilentCalculatorEndsEveryConnectAttemptWithinTenSeconds) {
    Log::setLoglevel(LOGLEVEL_INFO);
    StdoutCapture capture;
    EXPECT_TRUE(CasioProtocolTools::connectProtocol(&socket, 5));
    const std::string attempt = "[INFO]: Sending connection packet ...\n";
    const std::string failedAttempt = "[ERROR]: Failed to send or get an answer from the calc !\n"
                                      "[ERROR]: Failed to send and ACK connection packet !\n";
    std::string receives;
    for (int i = 0; i < 5; ++i) {
        receives += "[ERROR]: bulkTransfereBuffer: Error in bulk transfere\n"
                    "[ERROR]: receiveBuffer: Error receiving bulk\n";
    }
    std::string expected =
        attempt + receives + "[ERROR]: The calc does not answer !\n" + failedAttempt;
    for (int i = 1; i < 5; ++i) {
        expected += attempt + failedAttempt;
    }
    EXPECT_EQ(capture.finish(), expected);
    EXPECT_EQ(LibusbDouble::now(), 10000);
    EXPECT_EQ(LibusbDouble::inTransferCount(), 5);
    EXPECT_EQ(timesSent(connectRequest), 1);
}

TEST_F(ProtocolTest, ConnectGoesOnWhenTheZeroByteCannotBeSent) {
    for (int i = 0; i < 10; ++i) {
        LibusbDouble::queueOut({0, LIBUSB_ERROR_PIPE});
    }
    WireBytes::answerEveryPacketWith(ack());
    Log::setLoglevel(-1);
    EXPECT_FALSE(CasioProtocolTools::connectProtocol(&socket, 1));
    EXPECT_EQ(LibusbDouble::bytesSent(), connectRequest);
}

TEST_F(ProtocolTest, DisconnectSendsTheSignalAndReadsNothing) {
    EXPECT_FALSE(CasioProtocolTools::disconnectProtocol(&socket, 5));
    EXPECT_EQ(LibusbDouble::bytesSent(), disconnectSignal);
    EXPECT_EQ(LibusbDouble::inTransferCount(), 0);

    LibusbDouble::clearTransfers();
    for (int i = 0; i < 5; ++i) {
        LibusbDouble::queueOut({0, LIBUSB_ERROR_NO_DEVICE});
    }
    Log::setLoglevel(LOGLEVEL_ERROR);
    StdoutCapture capture;
    EXPECT_TRUE(CasioProtocolTools::disconnectProtocol(&socket, 5));
    const std::string printed = capture.finish();
    EXPECT_EQ(printed.substr(printed.size() - 48),
              "[ERROR]: Failed to send the disconnect packet !\n");
    EXPECT_EQ(LibusbDouble::outTransferCount(), 5);
}

TEST_F(ProtocolTest, SendAckSendsTheAcknowledgement) {
    EXPECT_FALSE(CasioProtocolTools::sendAck(&socket, 1));
    EXPECT_EQ(LibusbDouble::bytesSent(), ack());
}

TEST_F(ProtocolTest, AResendRequestIsAnsweredBySendingAgainUncounted) {
    LibusbDouble::queueIn({WireBytes::resendRequest(), 0});
    LibusbDouble::queueIn({ack(), 0});
    Log::setLoglevel(LOGLEVEL_DEBUG);
    StdoutCapture capture;
    EXPECT_FALSE(exchangeAndAck(connectRequest, 1));
    const std::string pass = "[DEBUG]: Sending message ...\n"
                             "[DEBUG]: Sending waiting for ack message ...\n"
                             "[DEBUG]: Reading ack message ...\n";
    EXPECT_EQ(capture.finish(), pass + pass);
    EXPECT_EQ(timesSent(connectRequest), 2);
}

TEST_F(ProtocolTest, EndlessResendRequestsAreBounded) {
    WireBytes::answerEveryPacketWith(WireBytes::resendRequest());
    StdoutCapture capture;
    EXPECT_TRUE(exchangeAndAck(connectRequest, 5));
    EXPECT_EQ(capture.finish(), "[ERROR]: The calc keeps asking to send again !\n"
                                "[ERROR]: Failed to send or get an answer from the calc !\n");
    EXPECT_EQ(timesSent(connectRequest), CasioProtocolTools::maxResendRequests + 1);
}

// Receives that bring nothing at once (zero-length packets) are no silence.
TEST_F(ProtocolTest, AnEmptyReceiveSendsThePacketAgainWithTheFullArea) {
    for (int i = 0; i < 10; ++i) {
        LibusbDouble::queueIn({{}, 0});
    }
    LibusbDouble::queueIn({ack(), 0});
    Log::setLoglevel(-1);
    EXPECT_FALSE(exchangeAndAck(connectRequest, 2));
    EXPECT_EQ(timesSent(connectRequest), 2);
    EXPECT_EQ(LibusbDouble::transfers().back().offered, CasioPacker::maxReceivedPacketSize);
}

// However many passes the caller allows, the packet is not sent again into a silence.
TEST_F(ProtocolTest, NoAnswerWithinTenSecondsFails) {
    Log::setLoglevel(-1);
    CasioReceivedPacket received;
    CasioPacketInfo& answer = received.info;
    EXPECT_TRUE(exchange(connectRequest, 100, &answer));
    EXPECT_EQ(timesSent(connectRequest), 1);
    EXPECT_EQ(LibusbDouble::inTransferCount(), 5);
}

// A calculator that keeps answering, but never usefully, is given thirty seconds in all.
TEST_F(ProtocolTest, NoExchangeLastsLongerThanThirtySeconds) {
    const Bytes resend = WireBytes::resendRequest();
    const struct {
        const char* name;
        size_t pieceSize;
    } cases[] = {
        {"slow requests to send again", resend.size()},
        {"requests to send again a byte at a time", 1},
    };
    for (const auto& scenario : cases) {
        LibusbDouble::clearScript();
        for (int i = 0; i < 200; ++i) {
            const size_t piece = i * scenario.pieceSize % resend.size();
            LibusbDouble::queueIn(
                {Bytes(resend.begin() + piece, resend.begin() + piece + scenario.pieceSize), 0,
                 1900});
        }
        Log::setLoglevel(LOGLEVEL_ERROR);
        const long long start = LibusbDouble::now();
        StdoutCapture capture;
        EXPECT_TRUE(exchangeAndAck(connectRequest, 5)) << scenario.name;
        EXPECT_LE(LibusbDouble::now() - start, 30000 + 2000) << scenario.name;
        // What did arrive of the last answer is judged as usual.
        const std::string printed = capture.finish();
        EXPECT_EQ(printed.rfind("[ERROR]: The calc takes too long to answer !\n", 0), 0u)
            << printed;
        EXPECT_TRUE(endsWith(printed, "[ERROR]: Failed to send or get an answer from the calc !\n"))
            << printed;
    }
}

// The header says how long the packet is, so a packet in pieces is read whole.
TEST_F(ProtocolTest, AnAnswerSplitAfterItsHeaderIsReadWhole) {
    const Bytes answer = WireBytes::framed(0x06, 0x02, Bytes(164, 0xFF));
    for (size_t split : {6, 7, 8, 100}) {
        LibusbDouble::queueIn({Bytes(answer.begin(), answer.begin() + split), 0});
        LibusbDouble::queueIn({Bytes(answer.begin() + split, answer.end()), 0});
        CasioReceivedPacket received;
        CasioPacketInfo& info = received.info;
        ASSERT_FALSE(exchange(connectRequest, 1, &info)) << split;
        EXPECT_EQ(info.subtype, 0x02);
        EXPECT_EQ(info.extendedData->getSize(), 164) << split;
    }
}

TEST_F(ProtocolTest, APacketThatCannotBeSentIsNotTriedAgain) {
    for (int i = 0; i < 10; ++i) {
        LibusbDouble::queueOut({0, LIBUSB_ERROR_PIPE});
    }
    Log::setLoglevel(-1);
    CasioReceivedPacket received;
    CasioPacketInfo& answer = received.info;
    EXPECT_TRUE(exchange(connectRequest, 5, &answer));
    EXPECT_EQ(LibusbDouble::outTransferCount(), 10);
    EXPECT_EQ(LibusbDouble::inTransferCount(), 0);
}

TEST_F(ProtocolTest, ACorruptOrShortAnswerEndsTheExchangeWithoutResending) {
    for (Bytes answer : {packet(0x06, "00071"), Bytes{0x06, '0', '0'}}) {
        LibusbDouble::clearTransfers();
        LibusbDouble::queueIn({answer, 0}); // the short one waits out the other tries
        Log::setLoglevel(-1);
        StdoutCapture capture;
        EXPECT_TRUE(exchangeAndAck(connectRequest, 5));
        EXPECT_NE(capture.finish().find("packetsize"), std::string::npos);
        EXPECT_EQ(timesSent(connectRequest), 1);
    }
}

TEST_F(ProtocolTest, AnAnswerArrivingInPiecesIsJoined) {
    const Bytes answer = ack();
    LibusbDouble::queueIn({Bytes(answer.begin(), answer.begin() + 4), 0});
    LibusbDouble::queueIn({Bytes(answer.begin() + 4, answer.end()), 0});
    EXPECT_FALSE(exchangeAndAck(connectRequest, 1));
}

TEST_F(ProtocolTest, AnyAnswerButAResendRequestIsHandedBack) {
    LibusbDouble::queueIn({fileExists, 0});
    CasioReceivedPacket received;
    CasioPacketInfo& answer = received.info;
    EXPECT_FALSE(exchange(connectRequest, 1, &answer));
    EXPECT_EQ(answer.type, 0x15);
    EXPECT_EQ(answer.subtype, 0x02);
    EXPECT_EQ(answer.extendedData->getSize(), CasioPacker::maxReceivedExtendedDataSize);

    for (Bytes refused : {fileExists, packet(0x06, "0106F")}) {
        LibusbDouble::queueIn({refused, 0});
        StdoutCapture capture;
        EXPECT_TRUE(exchangeAndAck(connectRequest, 1));
        EXPECT_EQ(capture.finish(), "[ERROR]: Unexpected answer while reading ACK !\n");
    }
}

TEST_F(ProtocolTest, AnAnswersDataStaysReadableAfterTheCall) {
    LibusbDouble::queueIn({packet(0x06, "0010005ABCDE5B"), 0});
    CasioReceivedPacket received;
    CasioPacketInfo& answer = received.info;
    ASSERT_FALSE(exchange(connectRequest, 1, &answer));
    ASSERT_EQ(answer.extendedData->getSize(), 5);
    const unsigned char* data = answer.extendedData->getData();
    EXPECT_EQ(Bytes(data, data + 5), text("ABCDE"));
}

} // namespace
