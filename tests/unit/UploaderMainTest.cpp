#include "LibusbDouble.h"
#include "Log.h"
#include "ScriptedCalculator.h"
#include "StdoutCapture.h"
#include "WireBytes.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <libusb.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

int tolvaneUploaderMain(int argc, char** argv);

namespace {

using LibusbDouble::Bytes;
using WireBytes::framed;
using WireBytes::packet;
using WireBytes::text;

const std::string banners = "Tolvane Uploader [09 april 2016] V0.0.1 by Marovel\n"
                            "libtolvane [09 april 2016] V0.0.1\n";
const std::string connected = "[INFO]: Openning socket to calc...\n"
                              "[INFO]: Openning socket to calc\n"
                              "[INFO]: Socket connected !\n"
                              "[INFO]: Sending connection packet ...\n"
                              "[INFO]: Protocol connected !\n";
const Bytes connectRequest = packet(0x05, "00070");
const Bytes disconnectSignal = packet(0x18, "00070");
const Bytes fileExists = packet(0x15, "0206E");
const Bytes memoryFull = packet(0x15, "0506B");
const Bytes refusal = packet(0x15, "00070");

struct ProgramRun {
    int status;
    std::string printed;
};

// Runs the uploader's main in a fresh working directory, over a calculator on the double.
class UploaderMainTest : public ::testing::Test {
protected:
    void SetUp() override {
        LibusbDouble::reset();
        LibusbDouble::addDevice(0x07CF, 0x6101);
        calculator.emplace();
        Log::setLoglevel(LOGLEVEL_ERROR);
        char pattern[] = "/tmp/tolvane-uploader-XXXXXX";
        directory = mkdtemp(pattern);
        previousDirectory = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(directory.c_str()), 0);
    }

    void TearDown() override {
        ASSERT_EQ(chdir(previousDirectory), 0);
        free(previousDirectory);
        std::system(("rm -rf " + directory).c_str());
    }

    static void writeFile(const std::string& name, const Bytes& bytes) {
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    static ProgramRun run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "TolvaneUploader");
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        StdoutCapture capture;
        const int status = tolvaneUploaderMain(static_cast<int>(arguments.size()), argv.data());
        return {status, capture.finish()};
    }

    static bool sentPacketOfType(unsigned char type) {
        for (const auto& transfer : LibusbDouble::transfers()) {
            if (transfer.endpoint == 0x01 && transfer.moved.size() > 1 &&
                transfer.moved[0] == type) {
                return true;
            }
        }
        return false;
    }

    static bool endsWith(const std::string& text, const std::string& ending) {
        return text.size() >= ending.size() &&
               text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
    }

    int calculatorPartsSince() {
        const int parts = calculator->partsReceived() - partsCounted;
        partsCounted = calculator->partsReceived();
        return parts;
    }

    std::optional<ScriptedCalculator> calculator;
    int partsCounted = 0;
    std::string directory;
    char* previousDirectory = nullptr;
};

Bytes counting(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 13);
    }
    return bytes;
}

const std::string uploaded = "[INFO]: File has been read !\n"
                             "[INFO]: File request accepted !\n"
                             "[INFO]: Starting to upload ...\n"
                             "[INFO]: File uploaded !\n";

TEST_F(UploaderMainTest, A300ByteUploadPutsExactlyTheseBytesOnTheWire) {
    const Bytes file = counting(300);
    writeFile("ABC.TXT", file);
    const ProgramRun result = run({"-f", "ABC.TXT"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.printed, banners + connected + uploaded);

    Bytes expected = {0x00};
    for (const Bytes& sent :
         {connectRequest, framed(0x01, 0x45, text("00050000012C000700000400ABC.TXTfls0")),
          framed(0x02, 0x45,
                 WireBytes::concat(text("00020001"), Bytes(file.begin(), file.begin() + 256))),
          framed(0x02, 0x45,
                 WireBytes::concat(text("00020002"), Bytes(file.begin() + 256, file.end()))),
          disconnectSignal}) {
        expected = WireBytes::concat(expected, sent);
    }
    EXPECT_EQ(LibusbDouble::bytesSent(), expected);
    EXPECT_EQ(LibusbDouble::openHandleCount(), 0);
}

TEST_F(UploaderMainTest, PartsAreSentInOrderForEveryLayout) {
    for (size_t size : {1u, 255u, 256u, 257u, 513u}) {
        LibusbDouble::clearTransfers();
        writeFile("F", counting(size));
        ASSERT_EQ(run({"-f", "F", "-q"}).status, 0) << size;
        const int parts = static_cast<int>((size + 255) / 256);
        EXPECT_EQ(calculatorPartsSince(), parts) << size;
    }
}

TEST_F(UploaderMainTest, QuietSuccessPrintsOnlyTheBanners) {
    writeFile("P.g3m", counting(10));
    const ProgramRun result = run({"-q", "-f", "P.g3m", "-F", "GAMES", "-d", "crd0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.printed, banners);
    EXPECT_TRUE(sentPacketOfType(0x02));
}

TEST_F(UploaderMainTest, OverwriteChoosesTheRequestMode) {
    writeFile("A", {'x'});
    run({"-f", "A", "-w"});
    run({"-f", "A"});
    std::vector<Bytes> requests;
    for (const auto& transfer : LibusbDouble::transfers()) {
        if (transfer.endpoint == 0x01 && !transfer.moved.empty() && transfer.moved[0] == 0x01) {
            requests.push_back(transfer.moved);
        }
    }
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(Bytes(requests[0].begin() + 8, requests[0].begin() + 10), text("02"));
    EXPECT_EQ(Bytes(requests[1].begin() + 8, requests[1].begin() + 10), text("00"));
}

TEST_F(UploaderMainTest, ARefusedRequestIsReportedDisconnectedAndAFailure) {
    struct Case {
        Bytes answer;
        std::string lines;
    };
    for (const Case& refused :
         {Case{fileExists, "[ERROR]: File already exists !\n[INFO]: use -w to overwrite ?\n"},
          Case{memoryFull, "[ERROR]: Memory full !\n[INFO]: optimize the memory ?\n"},
          Case{packet(0x06, "0106F"),
               "Bad file send answer: type:0x6 subtype:0x1 extended size: 4096\n"},
          Case{packet(0x00, "00070"),
               "Bad file send answer: type:0 subtype:0 extended size: 4096\n"}}) {
        LibusbDouble::clearTransfers();
        calculator->answerRequestWith(refused.answer);
        writeFile("A", {'x'});
        const ProgramRun result = run({"-f", "A"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.printed, banners + connected + "[INFO]: File has been read !\n" +
                                      refused.lines +
                                      "[ERROR]: Failed the file send request !\n"
                                      "[ERROR]: Failed to upload the file !\n");
        EXPECT_FALSE(sentPacketOfType(0x02));
        EXPECT_TRUE(sentPacketOfType(0x18));
    }
}

TEST_F(UploaderMainTest, AResendRequestIsHonoured) {
    LibusbDouble::queueIn({WireBytes::resendRequest(), 0}); // answers the connect request
    calculator->answerConnectWith({});
    LibusbDouble::queueIn({WireBytes::ack(), 0});
    writeFile("A", {'x'});
    EXPECT_EQ(run({"-f", "A", "-q"}).status, 0);
}

TEST_F(UploaderMainTest, AnUnacknowledgedPartLeavesTheRestUnsent) {
    calculator->answerPartWith(2, refusal);
    writeFile("A", counting(1000));
    const ProgramRun result = run({"-f", "A"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(endsWith(result.printed, "[INFO]: Starting to upload ...\n"
                                         "[ERROR]: Unexpected answer while reading ACK !\n"
                                         "[ERROR]: Failed to send the part packet !\n"
                                         "[ERROR]: Failed to upload the file !\n"));
    EXPECT_EQ(calculator->partsReceived(), 2);
    EXPECT_TRUE(sentPacketOfType(0x18));
}

TEST_F(UploaderMainTest, AnEmptyFileIsOfferedThenRefusedByTheUploader) {
    writeFile("E", {});
    const ProgramRun result = run({"-f", "E"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(endsWith(result.printed, "[INFO]: File request accepted !\n"
                                         "[ERROR]: Zero sized file not handled at this time !\n"
                                         "[ERROR]: Failed to upload the file !\n"));
    EXPECT_TRUE(sentPacketOfType(0x01));
    EXPECT_FALSE(sentPacketOfType(0x02));
}

TEST_F(UploaderMainTest, WhatCannotBeOfferedIsRefusedBeforeAnyRequest) {
    struct Case {
        std::vector<std::string> arguments;
        std::string lines;
    };
    writeFile("A", {'x'});
    ASSERT_EQ(mkdir("folder", 0700), 0);
    writeFile("huge", {});
    ASSERT_EQ(truncate("huge", 16776961), 0);
    for (const Case& refused :
         {Case{{"-f", "A", "-F", std::string(256, 'F')},
               "[ERROR]: Name too long for the file request (255 bytes max) !\n"
               "[ERROR]: Failed the file send request !\n"},
          Case{{"-f", "folder"},
               "[ERROR]: Can't read file: not a regular file !\n"
               "[ERROR]: Failed to load the file !\n"},
          Case{{"-f", "huge"}, "[ERROR]: File too big to upload (16776960 bytes max) !\n"}}) {
        LibusbDouble::clearTransfers();
        Log::setLoglevel(LOGLEVEL_ERROR);
        const ProgramRun result = run(refused.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(
            endsWith(result.printed, refused.lines + "[ERROR]: Failed to upload the file !\n"))
            << result.printed;
        EXPECT_FALSE(sentPacketOfType(0x01));
        EXPECT_TRUE(sentPacketOfType(0x18));
    }
}

TEST_F(UploaderMainTest, TheLargestFileStillUploads) {
    writeFile("big", {});
    ASSERT_EQ(truncate("big", 16776960), 0);
    Log::setLoglevel(-1);
    EXPECT_EQ(run({"-f", "big", "-q"}).status, 0);
    EXPECT_EQ(calculator->partsReceived(), 65535);
}

TEST_F(UploaderMainTest, EverySetUpFailureEndsWithItsOwnLine) {
    EXPECT_EQ(run({}).status, 1);
    EXPECT_EQ(LibusbDouble::initCount(), 0);

    LibusbDouble::setInitResult(LIBUSB_ERROR_OTHER);
    ProgramRun result = run({"-f", "A"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(endsWith(result.printed, "[ERROR]: Can't init the USB context !\n"));

    LibusbDouble::reset();
    calculator.emplace();
    result = run({"-f", "A"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.printed, banners + "[INFO]: Openning socket to calc...\n"
                                        "[ERROR]: Can't find the calculator's USB peripheral !\n"
                                        "[ERROR]: Failed to find the calc !\n"
                                        "[INFO]: Check the receive mode ?\n"
                                        "[ERROR]: Can't connect to the calc !\n");

    LibusbDouble::addDevice(0x07CF, 0x6101);
    calculator->answerConnectWith(refusal);
    result = run({"-f", "A"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(endsWith(result.printed, "[ERROR]: Failed to send and ACK connection packet !\n"
                                         "[ERROR]: Can't connect the protocol !\n"));
    EXPECT_FALSE(sentPacketOfType(0x18));
}

TEST_F(UploaderMainTest, AFailedDisconnectIsAFailureWhateverTheUpload) {
    writeFile("A", {'x'});
    // The zero byte, the connect request, the file request and the part go out; then the
    // device is gone.
    for (int i = 0; i < 4; ++i) {
        LibusbDouble::queueOut({});
    }
    for (int i = 0; i < 5; ++i) {
        LibusbDouble::queueOut({0, LIBUSB_ERROR_NO_DEVICE});
    }
    ProgramRun result = run({"-f", "A"});
    EXPECT_EQ(result.status, 1);
    std::string failedTries;
    for (int i = 0; i < 5; ++i) {
        failedTries += "[ERROR]: bulkTransfereBuffer: Error in bulk transfere\n"
                       "[ERROR]: receiveBuffer: Error sending bulk\n";
    }
    EXPECT_TRUE(endsWith(result.printed, "[INFO]: File uploaded !\n" + failedTries +
                                             "[ERROR]: Failed to send the disconnect packet !\n"
                                             "[ERROR]: Can't disconnect the protocol !\n"));

    LibusbDouble::clearTransfers();
    calculator->answerRequestWith(fileExists);
    for (int i = 0; i < 3; ++i) {
        LibusbDouble::queueOut({});
    }
    for (int i = 0; i < 5; ++i) {
        LibusbDouble::queueOut({0, LIBUSB_ERROR_NO_DEVICE});
    }
    result = run({"-f", "A"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.printed.find("[ERROR]: Failed to upload the file !\n"), std::string::npos);
    EXPECT_TRUE(endsWith(result.printed, "[ERROR]: Can't disconnect the protocol !\n"));
}

} // namespace
