// TolvaneUploader, the very binary a user runs, against the virtual calculator: what it
// prints, how it exits, and what ends up in the calculator's storage.

#include "E2eSupport.h"
#include "Wire.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const std::string uploaded = "[INFO]: File uploaded !\n";
const std::string uploadFailed = "[ERROR]: Failed to upload the file !\n";

// An answer for --answer: a packet of type 06 whose header is given, with a checksum that
// holds.
std::string answerHex(const std::string& header) {
    Bytes packet{wire::typeAck};
    packet.insert(packet.end(), header.begin(), header.end());
    std::string hex;
    for (uint8_t byte : wire::withChecksum(packet)) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02X", byte);
        hex += pair;
    }
    return hex;
}

class UploaderE2eTest : public ::testing::Test {
protected:
    // Runs the uploader with these arguments (or another command) in the working directory,
    // with the calculator's storage in its subdirectory "storage".
    RunResult upload(const std::vector<std::string>& calculatorOptions,
                     const std::vector<std::string>& uploaderArguments,
                     std::vector<std::string> command = {TOLVANE_UPLOADER}) {
        std::vector<std::string> options{"--storage", "storage"};
        options.insert(options.end(), calculatorOptions.begin(), calculatorOptions.end());
        command.insert(command.end(), uploaderArguments.begin(), uploaderArguments.end());
        return runOnCalculator(options, command, directory.path());
    }

    std::string stored(const std::string& path) { return readFile(directory / "storage/" + path); }
    // The calculator has an SD card only when its directory exists.
    void makeCard() { std::filesystem::create_directories(directory / "storage/crd0"); }
    std::vector<std::string> storedFiles() { return filesBelow(directory / "storage"); }

    // A successful upload: stored whole, and nothing the calculator had to object to.
    void expectUploaded(const RunResult& run, const std::string& path, const std::string& content) {
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
        EXPECT_FALSE(sanitizerReported(run)) << run.err;
        EXPECT_TRUE(endsWith(run.out, uploaded)) << run.out;
        EXPECT_EQ(stored(path).size(), content.size());
        EXPECT_TRUE(stored(path) == content) << path << " differs from what was sent";
    }

    // A failed upload: these lines, status 1, and nothing stored that looks complete.
    void expectFailed(const RunResult& run, const std::string& lines) {
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
        EXPECT_FALSE(sanitizerReported(run)) << run.err;
        EXPECT_TRUE(contains(run.out, lines)) << run.out;
        EXPECT_FALSE(contains(run.out, uploaded));
    }

    TemporaryDirectory directory;
};

class UploadSizeTest : public UploaderE2eTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(UploadSizeTest, StoresTheFileByteForByte) {
    const std::string content = patternBytes(GetParam(), 7);
    writeFile(directory / "DATA.BIN", content);
    const RunResult run = upload({}, {"-f", "DATA.BIN"});
    expectUploaded(run, "fls0/DATA.BIN", content);
    EXPECT_EQ(storedFiles(), std::vector<std::string>{"fls0/DATA.BIN"});
}

// Around the part size, every byte value, and a file of a few hundred KiB.
INSTANTIATE_TEST_SUITE_P(Sizes, UploadSizeTest,
                         ::testing::Values(1, 255, 256, 257, 300, 512, 300 * 1024 + 17),
                         [](const auto& info) { return "Of" + std::to_string(info.param); });

// One OUT and one IN transfer per part; besides them the zero byte, the connect request,
// the file request and the disconnect signal go out, and two answers come back. The
// interface is claimed once and released before the device is closed.
TEST_F(UploaderE2eTest, EachPartCostsOneTransferEachWay) {
    writeFile(directory / "T.BIN", patternBytes(10 * 256 + 1));
    const RunResult run = upload({"--count-transfers"}, {"-f", "T.BIN"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "the host made 15 OUT and 13 IN transfers")) << run.err;
    EXPECT_TRUE(contains(run.err, "the host claimed the interface 1 times and released it 1 times"))
        << run.err;
}

TEST_F(UploaderE2eTest, FolderAndDeviceChooseWhereTheFileGoes) {
    makeCard();
    writeFile(directory / "A.TXT", "in a folder\n");
    expectUploaded(upload({}, {"-f", "A.TXT", "-F", "NOTES"}), "fls0/NOTES/A.TXT", "in a folder\n");
    writeFile(directory / "B.TXT", "on the card\n");
    expectUploaded(upload({}, {"-f", "B.TXT", "-d", "crd0"}), "crd0/B.TXT", "on the card\n");
    writeFile(directory / "C.TXT", "both\n");
    expectUploaded(upload({}, {"-F", "X", "-d", "crd0", "-f", "C.TXT"}), "crd0/X/C.TXT", "both\n");
    EXPECT_EQ(storedFiles(),
              (std::vector<std::string>{"crd0/B.TXT", "crd0/X/C.TXT", "fls0/NOTES/A.TXT"}));
}

TEST_F(UploaderE2eTest, ExistingFileIsReplacedOnlyWithOverwrite) {
    writeFile(directory / "storage/fls0/SAME.TXT", "old contents");
    writeFile(directory / "SAME.TXT", "new contents, longer");

    expectFailed(upload({}, {"-f", "SAME.TXT"}),
                 "[ERROR]: File already exists !\n[INFO]: use -w to overwrite ?\n"
                 "[ERROR]: Failed the file send request !\n" +
                     uploadFailed);
    EXPECT_EQ(stored("fls0/SAME.TXT"), "old contents");

    expectUploaded(upload({}, {"-f", "SAME.TXT", "-w"}), "fls0/SAME.TXT", "new contents, longer");
    EXPECT_EQ(storedFiles(), std::vector<std::string>{"fls0/SAME.TXT"});
}

TEST_F(UploaderE2eTest, FileBeyondTheCapacityIsRefusedAsMemoryFull) {
    writeFile(directory / "storage/fls0/OTHER", std::string(1000, 'o'));
    writeFile(directory / "BIG.BIN", std::string(1025, 'b'));
    expectFailed(upload({"--capacity", "2024"}, {"-f", "BIG.BIN"}),
                 "[ERROR]: Memory full !\n[INFO]: optimize the memory ?\n"
                 "[ERROR]: Failed the file send request !\n" +
                     uploadFailed);
    EXPECT_EQ(storedFiles(), std::vector<std::string>{"fls0/OTHER"});
    // Exactly full is still room.
    expectUploaded(upload({"--capacity", "2025"}, {"-f", "BIG.BIN"}), "fls0/BIG.BIN",
                   std::string(1025, 'b'));
}

TEST_F(UploaderE2eTest, RequestsToSendAgainAreHonoured) {
    const std::string content = patternBytes(700);
    writeFile(directory / "AGAIN.BIN", content);
    const RunResult run = upload(
        {"--resend", "connect", "--resend", "request", "--resend", "part:1", "--resend", "part:3"},
        {"-f", "AGAIN.BIN"});
    expectUploaded(run, "fls0/AGAIN.BIN", content);
    EXPECT_EQ(count(run.err, "fault resend"), 4u) << run.err;
}

TEST_F(UploaderE2eTest, UnplugInMidTransferStoresNothing) {
    writeFile(directory / "GONE.BIN", patternBytes(1000));
    const RunResult run = upload({"--unplug", "part:2"}, {"-f", "GONE.BIN"});
    expectFailed(run, "[ERROR]: Failed to send the part packet !\n" + uploadFailed);
    EXPECT_TRUE(endsWith(run.out, "[ERROR]: Can't disconnect the protocol !\n")) << run.out;
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});
}

TEST_F(UploaderE2eTest, RefusedPartEndsTheUploadAndStoresNothing) {
    writeFile(directory / "PART.BIN", patternBytes(1000));
    const RunResult run = upload({"--refuse", "part:3"}, {"-f", "PART.BIN"});
    expectFailed(run, "[ERROR]: Unexpected answer while reading ACK !\n"
                      "[ERROR]: Failed to send the part packet !\n" +
                          uploadFailed);
    EXPECT_TRUE(endsWith(run.out, uploadFailed)) << run.out;
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});
}

// Each unanswered receive costs the transfer's full two seconds.
TEST_F(UploaderE2eTest, CalculatorSilentForTwoReceivesStillGetsTheFile) {
    const std::string content = patternBytes(600);
    writeFile(directory / "SLOW.BIN", content);
    const RunResult run = upload({"--silent", "part:2:2"}, {"-f", "SLOW.BIN"});
    expectUploaded(run, "fls0/SLOW.BIN", content);
    EXPECT_EQ(count(run.out, "[ERROR]: receiveBuffer: Error receiving bulk\n"), 2u) << run.out;
    EXPECT_GT(run.seconds, 3.9);
}

// Ten seconds of silence end the upload, however many tries the exchanges had left: a
// calculator that never answers, and one that falls silent in mid-file.
TEST_F(UploaderE2eTest, ASilentCalculatorIsGivenUpWithinThirtySeconds) {
    writeFile(directory / "MUTE.BIN", patternBytes(600));
    const struct {
        const char* silence;
        std::string cascade;
    } cases[] = {
        {"connect", "[ERROR]: The calc does not answer !\n"
                    "[ERROR]: Failed to send or get an answer from the calc !\n"
                    "[ERROR]: Failed to send and ACK connection packet !\n"},
        {"part:2", "[ERROR]: The calc does not answer !\n"
                   "[ERROR]: Failed to send or get an answer from the calc !\n"
                   "[ERROR]: Failed to send the part packet !\n" +
                       uploadFailed},
    };
    for (const auto& scenario : cases) {
        const RunResult run = upload({"--silent", scenario.silence}, {"-f", "MUTE.BIN"});
        EXPECT_EQ(run.status, 1) << scenario.silence << run.out;
        EXPECT_TRUE(contains(run.out, scenario.cascade)) << scenario.silence << run.out;
        EXPECT_EQ(count(run.out, "The calc does not answer !"), 1u) << run.out;
        EXPECT_LT(run.seconds, 30) << scenario.silence;
        EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
        EXPECT_EQ(storedFiles(), std::vector<std::string>{});
    }
}

TEST_F(UploaderE2eTest, DamagedAnswersFailTheUpload) {
    writeFile(directory / "D.BIN", "d");
    RunResult run = upload({"--corrupt", "request"}, {"-f", "D.BIN"});
    expectFailed(run, "[WARNING]: Wrong checksum !\n");
    EXPECT_TRUE(contains(run.out, "[ERROR]: Failed the file send request !\n" + uploadFailed));

    // An answer announcing 1024 bytes of extended data and carrying none.
    const std::string header = "0010400";
    const std::string hostile = "request:" + answerHex(header);
    run = upload({"--answer", hostile}, {"-f", "D.BIN"});
    expectFailed(run, "[ERROR]: Failed the file send request !\n" + uploadFailed);
    EXPECT_LT(run.status, 128) << "a hostile answer must not crash the uploader";
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});
}

TEST_F(UploaderE2eTest, EmptyFileIsOfferedButNothingIsStored) {
    writeFile(directory / "EMPTY", "");
    const RunResult run = upload({}, {"-f", "EMPTY"});
    expectFailed(run, "[INFO]: File request accepted !\n"
                      "[ERROR]: Zero sized file not handled at this time !\n" +
                          uploadFailed);
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});
}

TEST_F(UploaderE2eTest, NameWithADirectoryIsRefusedByTheCalculator) {
    writeFile(directory / "sub/IN.TXT", "nested");
    const RunResult run = upload({}, {"-f", "sub/IN.TXT"});
    expectFailed(run, "Bad file send answer: type:0x15 subtype:0x3");
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});
    EXPECT_TRUE(contains(run.err, "not a plain folder and file name")) << run.err;
}

// Each program opens the device anew and starts its own session with the calculator.
TEST_F(UploaderE2eTest, AScriptUploadsSeveralFilesInOneRun) {
    makeCard();
    writeFile(directory / "ONE", "first");
    writeFile(directory / "TWO", "second");
    const std::string uploader = TOLVANE_UPLOADER;
    const RunResult run =
        upload({}, {}, {"/bin/sh", "-c", uploader + " -f ONE && " + uploader + " -f TWO -d crd0"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
    EXPECT_EQ(stored("fls0/ONE"), "first");
    EXPECT_EQ(stored("crd0/TWO"), "second");
}

// A calculator that answers a file part with fewer than the 6 bytes of a packet, then falls
// silent. The uploader waits out ten seconds of silence first, so only the extremes run here;
// the codec's unit tests and fuzzer cover every length.
class ShortAnswerTest : public UploaderE2eTest, public ::testing::WithParamInterface<int> {};

TEST_P(ShortAnswerTest, FailsTheUploadCleanly) {
    writeFile(directory / "S.BIN", patternBytes(600));
    const RunResult run =
        upload({"--short", "part:2:" + std::to_string(GetParam())}, {"-f", "S.BIN"});
    expectFailed(run, "[WARNING]: Corrupted packet !\n"
                      "[ERROR]: Failed to send or get an answer from the calc !\n"
                      "[ERROR]: Failed to send the part packet !\n" +
                          uploadFailed);
    EXPECT_TRUE(contains(run.out, "packetsize " + std::to_string(GetParam()) + "\n"));
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Bytes, ShortAnswerTest, ::testing::Values(1, 5));

TEST_F(UploaderE2eTest, HostileAnswersToAPartFailTheUploadCleanly) {
    writeFile(directory / "H.BIN", patternBytes(600));
    // Announces 16 bytes of extended data, carries 2, and its checksum matches.
    const std::string header = "0010010AB";
    const std::string beyond = "part:2:" + answerHex(header);
    RunResult run = upload({"--answer", beyond}, {"-f", "H.BIN"});
    expectFailed(run, "[WARNING]: Bad extended data size !\n16\n[WARNING]: Corrupted packet !\n");
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});

    run = upload({"--corrupt", "part:2"}, {"-f", "H.BIN"});
    expectFailed(run, "[WARNING]: Wrong checksum !\n");
    EXPECT_TRUE(contains(run.out, "[ERROR]: Failed to send the part packet !\n" + uploadFailed));
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});
}

// What the uploader cannot offer is refused before the file request: the calculator sees
// the connection opened and closed, and nothing else.
TEST_F(UploaderE2eTest, WhatCannotBeOfferedNeverReachesTheCalculator) {
    writeFile(directory / "N.TXT", "n");
    RunResult run = upload({}, {"-f", "N.TXT", "-F", std::string(256, 'F')});
    expectFailed(run, "[ERROR]: Name too long for the file request (255 bytes max) !\n"
                      "[ERROR]: Failed the file send request !\n" +
                          uploadFailed);

    writeFile(directory / "HUGE.BIN", "");
    ASSERT_EQ(truncate((directory / "HUGE.BIN").c_str(), 16776961), 0);
    run = upload({}, {"-f", "HUGE.BIN"});
    expectFailed(run, "[ERROR]: File too big to upload (16776960 bytes max) !\n" + uploadFailed);

    writeFile(directory / "folder/inside", "x");
    run = upload({}, {"-f", "folder"});
    expectFailed(run, "[ERROR]: Can't read file: not a regular file !\n"
                      "[ERROR]: Failed to load the file !\n" +
                          uploadFailed);

    EXPECT_FALSE(contains(run.out, "File request accepted"));
    EXPECT_EQ(storedFiles(), std::vector<std::string>{});
}

TEST_F(UploaderE2eTest, NoCalculatorAttached) {
    writeFile(directory / "X", "x");
    const RunResult run =
        runOnCalculator({"--no-device"}, {TOLVANE_UPLOADER, "-f", "X"}, directory.path());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(endsWith(run.out, "[ERROR]: Can't connect to the calc !\n")) << run.out;
}

} // namespace
