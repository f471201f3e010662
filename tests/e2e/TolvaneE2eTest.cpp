// tolvane, the very binary a user runs, with the real libusb, against the virtual calculator:
// what it prints where, how it exits, and what ends up on either side of the cable.

#include "E2eSupport.h"

#include <gtest/gtest.h>

namespace {

const std::string tolvane = TOLVANE;

// Every byte value, and the escape byte 0x5C at every other place.
std::string escapeHeavyBytes(size_t size) {
    std::string bytes = patternBytes(size, 3);
    for (size_t i = 0; i < size; i += 2) {
        bytes[i] = '\\';
    }
    return bytes;
}

class TolvaneE2eTest : public ::testing::Test {
protected:
    // tolvane ARGS under the virtual calculator, its storage in "storage", in the working
    // directory; the run must keep to the protocol whatever its outcome.
    RunResult run(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& calculatorOptions = {}) {
        std::vector<std::string> options{"--storage", "storage", "--count-transfers"};
        options.insert(options.end(), calculatorOptions.begin(), calculatorOptions.end());
        std::vector<std::string> command{tolvane};
        command.insert(command.end(), arguments.begin(), arguments.end());
        RunResult result = runOnCalculator(options, command, directory.path());
        EXPECT_TRUE(violationsIn(result.err).empty()) << result.err;
        EXPECT_FALSE(sanitizerReported(result)) << result.err;
        return result;
    }

    // A shell script run under the virtual calculator; "$TOLVANE" names the program.
    RunResult script(const std::string& text, const std::vector<std::string>& calculatorOptions) {
        RunResult result = runOnCalculator(calculatorOptions,
                                           {"/bin/sh", "-c", "TOLVANE=" + tolvane + "; " + text},
                                           directory.path());
        EXPECT_TRUE(violationsIn(result.err).empty()) << result.err;
        return result;
    }

    void put(const std::string& path, const std::string& bytes) {
        writeFile(directory / ("storage/" + path), bytes);
    }
    std::string stored(const std::string& path) {
        return readFile(directory / ("storage/" + path));
    }
    std::string local(const std::string& path) { return readFile(directory / path); }
    // Local files, temporary ones included, but not the calculator's storage.
    std::vector<std::string> localFiles() {
        std::vector<std::string> files;
        for (const std::string& file : filesBelow(directory.path())) {
            if (file.rfind("storage/", 0) != 0) {
                files.push_back(file);
            }
        }
        return files;
    }

    static void expectOneSession(const RunResult& run) {
        EXPECT_TRUE(contains(run.err, "claimed the interface 1 times and released it 1 times"))
            << run.err;
    }
    static void expectNoConnection(const RunResult& run) {
        EXPECT_TRUE(contains(run.err, "the host made 0 OUT and 0 IN transfers")) << run.err;
    }

    TemporaryDirectory directory;
};

TEST_F(TolvaneE2eTest, TheCommandLineFollowsTheConventions) {
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {{"--help"}, 0, "usage: tolvane [-q|-v] [-c ADDRESS|--all] COMMAND", ""},
        {{"get", "--help"},
         0,
         "usage: tolvane get [-d DEV] [-o PATH] [-w] [--whole] [--no-eject] [NAME...]",
         ""},
        {{"--version"}, 0, "tolvane 0.0.1\n", ""},
        {{}, 2, "", "missing command"},
        {{"frob"}, 2, "", "unknown command 'frob'"},
        {{"get"}, 2, "", "get: missing NAME..."},
        {{"list", "-x"}, 2, "", "list: unknown option '-x'"},
        {{"list", "--storage"}, 2, "", "needs a value"},
        {{"free", "-d", "sd9"}, 2, "", "unknown storage device 'sd9'"},
        {{"get", "A/B/C"}, 2, "", "'A/B/C' is no calculator file"},
        {{"info", "extra"}, 2, "", "info: unexpected 'extra'"},
        {{"send", "-F", "..", "X"}, 2, "", "'..' is no calculator folder"},
        {{"send", "-F", "A\tB", "X"}, 2, "", "is no calculator folder"},
        {{"send", "-F", "", "X"}, 2, "", "'' is no calculator folder"},
        {{"get", "-o", "", "A"}, 2, "", "-o needs a path"},
        {{"delete", "A\x01"}, 2, "", "is no calculator file"},
    };
    for (const auto& scenario : cases) {
        std::vector<std::string> argv{tolvane};
        argv.insert(argv.end(), scenario.arguments.begin(), scenario.arguments.end());
        const RunResult result = runCaptured(argv, directory.path());
        EXPECT_EQ(result.status, scenario.status) << result.err;
        EXPECT_TRUE(contains(result.out, scenario.out)) << result.out;
        EXPECT_TRUE(contains(result.err, scenario.err)) << result.err;
        if (scenario.status != 0) {
            EXPECT_EQ(result.out, "") << "usage errors go to standard error";
            EXPECT_TRUE(contains(result.err, "usage: tolvane")) << result.err;
        }
    }
}

TEST_F(TolvaneE2eTest, InfoPrintsEveryFieldInOrder) {
    for (const std::vector<std::string>& block :
         {std::vector<std::string>{}, std::vector<std::string>{"--long-info"}}) {
        const RunResult result = run({"info"}, block);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "Hardware ID: Gy363007\n"
                              "Processor: SH7305\n"
                              "OS version: 02.05.2201\n"
                              "Boot code version: 01.00.0000\n"
                              "Flash: 16384 KiB\n"
                              "RAM: 512 KiB\n"
                              "Protocol: 7.00\n"
                              "Product ID: VIRTCALC\n"
                              "User name: Virtual\n");
    }
}

TEST_F(TolvaneE2eTest, ListAndFreeDescribeAStorage) {
    put("fls0/GAME.G1A", std::string(1234, 'g'));
    put("fls0/A.TXT", "a");
    put("fls0/NOTES/B.TXT", "bb");
    for (const std::vector<std::string>& folders :
         {std::vector<std::string>{}, std::vector<std::string>{"--list-folders"}}) {
        const RunResult result = run({"list"}, folders);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "1\tA.TXT\n1234\tGAME.G1A\n2\tNOTES/B.TXT\n");
    }
    const RunResult free = run({"free"}, {"--capacity", "100000"});
    EXPECT_EQ(free.status, 0) << free.err;
    EXPECT_EQ(free.out, "98763\tfls0\n");

    const RunResult noCard = run({"list", "-d", "crd0"});
    EXPECT_EQ(noCard.status, 1);
    EXPECT_EQ(noCard.out, "");
    EXPECT_TRUE(contains(noCard.err, "Can't list the files of crd0")) << noCard.err;
}

// All in one link session, each file byte for byte: empty, around a part, every byte value
// with the escape byte throughout, and a large one.
TEST_F(TolvaneE2eTest, GetFetchesEveryNameByteForByte) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"EMPTY", ""},
        {"ONE", "1"},
        {"PART.BIN", patternBytes(256)},
        {"PARTS.BIN", patternBytes(257)},
        {"ESCAPES.BIN", escapeHeavyBytes(3000)},
        {"BIG.BIN", patternBytes(1024 * 1024, 5)},
    };
    std::vector<std::string> arguments{"get"};
    for (const auto& [name, bytes] : files) {
        put("fls0/" + name, bytes);
        arguments.push_back(name);
    }
    put("fls0/DIR/IN.TXT", "in a folder");
    arguments.push_back("DIR/IN.TXT");
    const RunResult result = run(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    expectOneSession(result);
    for (const auto& [name, bytes] : files) {
        EXPECT_TRUE(local(name) == bytes) << name << " differs";
    }
    EXPECT_EQ(local("IN.TXT"), "in a folder");
    EXPECT_EQ(localFiles().size(), files.size() + 1) << "no temporary file is left";
}

TEST_F(TolvaneE2eTest, GetAsksForADamagedPartAgain) {
    const std::string bytes = escapeHeavyBytes(2000);
    put("fls0/D.BIN", bytes);
    const RunResult result = run({"get", "D.BIN"}, {"--corrupt", "download:3"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(local("D.BIN") == bytes);
    EXPECT_TRUE(contains(result.err, "fault corrupt")) << result.err;
}

TEST_F(TolvaneE2eTest, GetOfAMissingNameStillFetchesTheOthers) {
    put("fls0/A.TXT", "a");
    put("fls0/B.TXT", "b");
    const RunResult result = run({"get", "A.TXT", "MISSING", "B.TXT"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "MISSING: not fetched")) << result.err;
    EXPECT_EQ(localFiles(), (std::vector<std::string>{"A.TXT", "B.TXT"}));
    expectOneSession(result);
}

// What arrives out of order, short, long or more than announced leaves no file behind.
TEST_F(TolvaneE2eTest, AFileThatDoesNotArriveWholeLeavesNothingBehind) {
    put("fls0/W.BIN", patternBytes(1000));
    const std::vector<std::vector<std::string>> faults = {
        {"--misnumber", "download:2"}, {"--extra-part"},           {"--announce-size", "900"},
        {"--announce-size", "1100"},   {"--unplug", "download:3"},
    };
    for (const std::vector<std::string>& fault : faults) {
        const RunResult result = run({"get", "W.BIN"}, fault);
        EXPECT_EQ(result.status, 1) << fault[0] << result.err;
        EXPECT_TRUE(localFiles().empty()) << fault[0];
    }
    // Nor does a file that this side can't write whole, which is said as it is.
    const RunResult limited =
        script("ulimit -f 1; \"$TOLVANE\" get W.BIN; echo \"status $?\"", {"--storage", "storage"});
    EXPECT_EQ(limited.out, "status 1\n") << limited.err;
    EXPECT_TRUE(contains(limited.err, "W.BIN: can't write it (File too large)")) << limited.err;
    EXPECT_TRUE(localFiles().empty());
}

TEST_F(TolvaneE2eTest, GetToStandardOutputWritesTheBytesAndNothingElse) {
    const std::string bytes = escapeHeavyBytes(700);
    put("fls0/OUT.BIN", bytes);
    const RunResult result = run({"get", "-o", "-", "OUT.BIN"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out == bytes);
    EXPECT_TRUE(localFiles().empty());
}

TEST_F(TolvaneE2eTest, ALocalFileIsReplacedOnlyWithOverwrite) {
    put("fls0/SAME.TXT", "from the calculator");
    writeFile(directory / "SAME.TXT", "mine");
    RunResult result = run({"get", "SAME.TXT"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "SAME.TXT: exists; -w replaces it")) << result.err;
    EXPECT_EQ(local("SAME.TXT"), "mine");
    expectNoConnection(result);

    result = run({"get", "-w", "SAME.TXT", "-o", "."});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(local("SAME.TXT"), "from the calculator");
}

TEST_F(TolvaneE2eTest, SendStoresEveryFileInOneSession) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"GAME.G1A", patternBytes(5000, 2)},
        {"HELLO.TXT", "hello\n"},
        {"ESC.BIN", escapeHeavyBytes(600)},
    };
    std::vector<std::string> arguments{"send"};
    for (const auto& [name, bytes] : files) {
        writeFile(directory / ("build/" + name), bytes);
        arguments.push_back("build/" + name);
    }
    const RunResult result = run(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    expectOneSession(result);
    for (const auto& [name, bytes] : files) {
        EXPECT_TRUE(stored("fls0/" + name) == bytes) << name;
    }

    const RunResult intoFolder = run({"send", "-d", "crd0", "-F", "DIR", "build/HELLO.TXT"});
    EXPECT_EQ(intoFolder.status, 1) << "there is no SD card yet";
    writeFile(directory / "storage/crd0/.keep", "");
    EXPECT_EQ(run({"send", "-d", "crd0", "-F", "DIR", "build/HELLO.TXT"}).status, 0);
    EXPECT_EQ(stored("crd0/DIR/HELLO.TXT"), "hello\n");
}

// Pipelined by default: one OUT and one IN transfer per part all the same, besides the zero
// byte, the opening check, the file command and the terminate (and four answers).
TEST_F(TolvaneE2eTest, APipelinedSendCostsOneTransferEachWayPerPart) {
    const std::string bytes = escapeHeavyBytes(40 * 256 + 17);
    writeFile(directory / "PIPE.BIN", bytes);
    const RunResult result = run({"send", "PIPE.BIN"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(stored("fls0/PIPE.BIN") == bytes);
    EXPECT_TRUE(contains(result.err, "the host made 45 OUT and 44 IN transfers")) << result.err;
    EXPECT_TRUE(contains(result.err, "40 of 41 parts of")) << "parts went ahead: " << result.err;
}

// A link that cannot take pipelined parts: the file is sent again part by part, on a fresh
// link, and so are the files after it.
TEST_F(TolvaneE2eTest, ALinkThatCannotPipelineStillGetsEveryFileWhole) {
    const std::string first = patternBytes(3000, 1);
    const std::string second = patternBytes(2000, 2);
    writeFile(directory / "ONE.BIN", first);
    writeFile(directory / "TWO.BIN", second);
    // A calculator that keeps what came of the broken transfer has it replaced.
    const RunResult result =
        run({"send", "ONE.BIN", "TWO.BIN"}, {"--cannot-pipeline", "--keep-partial"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(stored("fls0/ONE.BIN") == first);
    EXPECT_TRUE(stored("fls0/TWO.BIN") == second);
    EXPECT_EQ(count(result.err, "The link does not take pipelined parts"), 1u) << result.err;
    EXPECT_EQ(count(result.err, "which this link cannot take"), 1u) << "no pipelining after";
}

// A refusal in mid-file breaks the pipelined transfer; the second try, part by part, meets it
// again and reports it. Nothing is tried a third time.
TEST_F(TolvaneE2eTest, AFullMemoryInMidPipelineIsReportedAfterOneSecondTry) {
    writeFile(directory / "FULL.BIN", patternBytes(2000));
    const RunResult result =
        run({"send", "FULL.BIN"}, {"--refuse", "part:3:05", "--refuse", "part:3:05"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "FULL.BIN: not sent: the calculator's memory is full"))
        << result.err;
    EXPECT_EQ(count(result.err, "fault refuse"), 2u) << result.err;
    EXPECT_TRUE(contains(result.err, "claimed the interface 2 times")) << result.err;
    EXPECT_FALSE(fileExists(directory / "storage/fls0/FULL.BIN"));
}

// Nothing is sent, not even the connection opened, unless every file can go.
TEST_F(TolvaneE2eTest, SendChecksEveryLocalFileBeforeConnecting) {
    writeFile(directory / "GOOD.TXT", "good");
    writeFile(directory / "EMPTY.TXT", "");
    writeFile(directory / "DIR/X", "x");
    const struct {
        std::string file;
        std::string problem;
    } cases[] = {
        {"MISSING.TXT", "MISSING.TXT: no such file"},
        {"DIR", "DIR: not a regular file"},
        {"EMPTY.TXT", "EMPTY.TXT: empty"},
        {"DIR/../GOOD.TXT", "another file of the same name"},
    };
    for (const auto& scenario : cases) {
        const RunResult result = run({"send", "GOOD.TXT", scenario.file});
        EXPECT_EQ(result.status, 1) << scenario.file;
        EXPECT_TRUE(contains(result.err, scenario.problem)) << result.err;
        expectNoConnection(result);
    }
    EXPECT_FALSE(fileExists(directory / "storage/fls0/GOOD.TXT"));
}

TEST_F(TolvaneE2eTest, SendLeavesAnExistingFileAloneUnlessOverwriting) {
    put("fls0/SAME.TXT", "old");
    writeFile(directory / "SAME.TXT", "new");
    writeFile(directory / "OTHER.TXT", "other");
    RunResult result = run({"send", "SAME.TXT", "OTHER.TXT"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "SAME.TXT: exists on the calculator; -w replaces it"))
        << result.err;
    EXPECT_EQ(stored("fls0/SAME.TXT"), "old");
    EXPECT_EQ(stored("fls0/OTHER.TXT"), "other");

    result = run({"send", "-w", "SAME.TXT"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(stored("fls0/SAME.TXT"), "new");
}

TEST_F(TolvaneE2eTest, SendReportsAFullMemoryAndGoesOn) {
    writeFile(directory / "BIG.BIN", std::string(3000, 'b'));
    writeFile(directory / "SMALL.BIN", std::string(100, 's'));
    const RunResult result = run({"send", "BIG.BIN", "SMALL.BIN"}, {"--capacity", "2000"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "BIG.BIN: not sent: the calculator's memory is full"))
        << result.err;
    EXPECT_FALSE(fileExists(directory / "storage/fls0/BIG.BIN"));
    EXPECT_EQ(stored("fls0/SMALL.BIN"), std::string(100, 's'));
}

TEST_F(TolvaneE2eTest, DeleteAndOptimizeTidyTheStorage) {
    put("fls0/A.TXT", "a");
    put("fls0/DIR/B.TXT", "b");
    RunResult result = run({"delete", "A.TXT", "MISSING", "DIR/B.TXT"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "MISSING: not deleted")) << result.err;
    EXPECT_FALSE(fileExists(directory / "storage/fls0/A.TXT"));
    EXPECT_FALSE(fileExists(directory / "storage/fls0/DIR/B.TXT"));
    expectOneSession(result);

    // A slow calculator is waited for (for longer than other commands: see the unit tests).
    result = run({"optimize"}, {"--optimize-delay", "3000"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "optimized fls0")) << result.err;
}

TEST_F(TolvaneE2eTest, LogCopiesEveryByteAndEndsOnSilence) {
    const std::string bytes = patternBytes(5000, 9);
    writeFile(directory / "stream.bin", bytes);
    const RunResult result =
        runOnCalculator({"--stream", "stream.bin"}, {tolvane, "log"}, directory.path());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(violationsIn(result.err).empty()) << result.err;
    EXPECT_TRUE(result.out == bytes) << result.out.size() << " bytes";
}

// The whole stream, through a pause and an unplug, on standard output when SIGTERM ends it.
TEST_F(TolvaneE2eTest, LogFollowsThroughSilenceAndReplugUntilASignal) {
    const std::string bytes = patternBytes(3000, 4);
    writeFile(directory / "stream.bin", bytes);
    const RunResult result =
        script(": > out.bin; \"$TOLVANE\" log --follow >> out.bin 2> err.txt & pid=$!; "
               "while [ \"$(wc -c < out.bin)\" -lt 3000 ]; do sleep 0.1; done; "
               "kill -TERM $pid; wait $pid; echo \"status $?\"",
               {"--stream", "stream.bin", "--stream-plan", "1000,pause:3,1000,unplug:2",
                "--plug-after", "1"});
    EXPECT_EQ(result.out, "status 0\n") << result.err;
    EXPECT_TRUE(local("out.bin") == bytes);
    const std::string messages = local("err.txt");
    EXPECT_TRUE(contains(messages, "Waiting for a calculator")) << messages;
    EXPECT_TRUE(contains(messages, "went away")) << messages;
    EXPECT_TRUE(contains(messages, "is back")) << messages;
}

// Interrupted in mid-file: the link is terminated properly and no file is left behind.
TEST_F(TolvaneE2eTest, AnInterruptedGetLeavesNoFileAndEndsTheLink) {
    put("fls0/BIG.BIN", patternBytes(1024 * 1024));
    const RunResult result =
        script("\"$TOLVANE\" get BIG.BIN 2> err.txt & pid=$!; "
               "until ls .tolvane-* > /dev/null 2>&1; do sleep 0.05; done; sleep 0.3; "
               "kill -INT $pid; wait $pid; echo \"status $?\"; ls",
               {"--storage", "storage"});
    EXPECT_TRUE(contains(result.out, "status 130\n")) << result.out << result.err;
    EXPECT_FALSE(contains(result.out, "BIG.BIN")) << result.out;
    EXPECT_TRUE(contains(local("err.txt"), "Interrupted")) << local("err.txt");
    EXPECT_TRUE(contains(result.err, "terminated")) << result.err;
    EXPECT_FALSE(contains(result.err, "left without the terminate")) << result.err;
}

// Interrupted in mid-file, the upload stops at once rather than after its last part, the
// link is terminated properly and the calculator keeps nothing of the file. (The pipelined
// stop is covered by the file sender's unit tests.)
TEST_F(TolvaneE2eTest, AnInterruptedSendStopsAndEndsTheLink) {
    writeFile(directory / "BIG.BIN", patternBytes(4 * 1024 * 1024));
    const RunResult result =
        script("\"$TOLVANE\" send --no-pipeline BIG.BIN 2> err.txt & pid=$!; "
               "until grep -q 'accepted fls0/BIG.BIN' report.txt 2> /dev/null; do sleep 0.05; "
               "done; sleep 0.3; kill -INT $pid; wait $pid; echo \"status $?\"",
               {"--storage", "storage", "--report", "report.txt"});
    const std::string report = local("report.txt");
    EXPECT_TRUE(violationsIn(report).empty()) << report;
    EXPECT_EQ(result.out, "status 130\n") << result.err;
    EXPECT_TRUE(contains(local("err.txt"), "Interrupted")) << local("err.txt");
    EXPECT_TRUE(contains(report, "terminated")) << report;
    EXPECT_TRUE(filesBelow(directory / "storage").empty());
}

// A calculator unplugged in mid-file, whether its parts go pipelined or not: one line says so
// and names what was not sent; nothing crashes and nothing is tried again.
TEST_F(TolvaneE2eTest, ACalculatorUnpluggedInMidSendEndsItWithOneLine) {
    writeFile(directory / "A.BIN", patternBytes(2000, 1));
    writeFile(directory / "B.BIN", patternBytes(700, 2));
    for (const std::vector<std::string>& how :
         {std::vector<std::string>{"send"}, std::vector<std::string>{"send", "--no-pipeline"}}) {
        std::vector<std::string> arguments = how;
        arguments.insert(arguments.end(), {"A.BIN", "B.BIN"});
        const RunResult result = run(arguments, {"--unplug", "part:2"});
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_EQ(count(result.err, "[ERROR]"), 1u) << result.err;
        EXPECT_TRUE(contains(result.err, "the calculator was unplugged; not sent: A.BIN, B.BIN"))
            << result.err;
        EXPECT_FALSE(contains(result.err, "refused")) << result.err;
    }
}

// A part that stays damaged ends the calculator's turn half-way: no command is sent into it,
// the other names fail with a line each, and the session is ended.
TEST_F(TolvaneE2eTest, AnAbandonedTurnEndsTheSession) {
    put("fls0/A.BIN", patternBytes(1000));
    put("fls0/B.BIN", "b");
    std::vector<std::string> faults;
    for (int i = 0; i < 6; ++i) {
        faults.insert(faults.end(), {"--corrupt", "download:2"});
    }
    const RunResult result = run({"get", "A.BIN", "B.BIN"}, faults);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "A.BIN: not fetched")) << result.err;
    EXPECT_TRUE(
        contains(result.err, "B.BIN: not fetched: the session with the calculator broke off"))
        << result.err;
    EXPECT_TRUE(contains(result.err, "terminated")) << result.err;
    EXPECT_TRUE(localFiles().empty());
}

// Devices and FIFOs are written into, without -w; a file named "-" on the calculator is a file.
TEST_F(TolvaneE2eTest, GetWritesIntoDevicesAndTakesEveryNameAsAFile) {
    put("fls0/-", "dash");
    put("fls0/A.TXT", "into a device");
    RunResult result = run({"get", "-o", "/dev/stdout", "A.TXT"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "into a device");
    EXPECT_EQ(run({"get", "-o", "/dev/null", "A.TXT"}).status, 0);
    // /dev/stdout is standard output, even redirected to a file: appended to, never replaced.
    result = script("echo first > log.txt; for w in '' -w; do \"$TOLVANE\" get $w -o /dev/stdout "
                    "A.TXT >> log.txt || echo failed; done",
                    {"--storage", "storage"});
    EXPECT_EQ(result.out, "") << result.err;
    EXPECT_EQ(local("log.txt"), "first\ninto a deviceinto a device");
    result = run({"get", "-"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(local("-"), "dash");
}

// A file that changes between its check and its turn is not sent with a size the calculator
// was not told; the others go, and the session ends properly.
TEST_F(TolvaneE2eTest, AFileThatCannotBeReadWholeIsSkipped) {
    writeFile(directory / "BIG.BIN", patternBytes(1024 * 1024));
    writeFile(directory / "SHRINKS.BIN", patternBytes(5000));
    const RunResult result = script(
        "\"$TOLVANE\" send --no-pipeline BIG.BIN SHRINKS.BIN 2> err.txt & pid=$!; "
        "until grep -q 'accepted fls0/BIG.BIN' report.txt 2> /dev/null; do sleep 0.05; done; "
        "head -c 100 SHRINKS.BIN > SHORT; mv SHORT SHRINKS.BIN; wait $pid; echo \"status $?\"",
        {"--storage", "storage", "--report", "report.txt"});
    EXPECT_EQ(result.out, "status 1\n") << result.err;
    EXPECT_TRUE(
        contains(local("err.txt"), "SHRINKS.BIN: not sent: it has changed since it was checked"))
        << local("err.txt");
    EXPECT_EQ(filesBelow(directory / "storage"), std::vector<std::string>{"fls0/BIG.BIN"});
    EXPECT_FALSE(contains(local("report.txt"), "without the terminate")) << local("report.txt");
}

// A reader that goes away ends the stream: log quietly, get without fetching further names.
TEST_F(TolvaneE2eTest, AReaderThatGoesAwayEndsTheOutput) {
    writeFile(directory / "stream.bin", patternBytes(5000, 9));
    RunResult result = runOnCalculator(
        {"--stream", "stream.bin", "--stream-plan", "1000,pause:30"},
        {"/bin/sh", "-c",
         "{ " + tolvane + " log --follow; echo \"status $?\" > status.txt; } | head -c 10 > out"},
        directory.path());
    EXPECT_LT(result.seconds, 20) << result.err;
    EXPECT_EQ(local("status.txt"), "status 0\n") << result.err;
    EXPECT_EQ(local("out").size(), 10u);

    // The calculator's turn ends as soon as nothing more can be written: 1 MiB is 4097 packets.
    put("fls0/A.BIN", patternBytes(1024 * 1024));
    result = script("{ \"$TOLVANE\" get -o - A.BIN 2> err.txt; echo \"status $?\" > status.txt; "
                    "} | head -c 10 > out",
                    {"--storage", "storage"});
    EXPECT_EQ(local("status.txt"), "status 1\n") << result.err;
    EXPECT_EQ(local("err.txt"), "") << "a reader gone is no error to tell";
    EXPECT_TRUE(contains(result.err, "terminated while sending fls0/A.BIN, after ")) << result.err;
    EXPECT_FALSE(contains(result.err, "after 4097 of")) << result.err;
    EXPECT_FALSE(contains(result.err, "without the terminate")) << result.err;
}

} // namespace
