// tolvane with several calculators attached, against the virtual calculator's bus of many:
// listing them, choosing one, and working on every one at once.

#include "E2eSupport.h"

#include <gtest/gtest.h>

namespace {

const std::string tolvane = TOLVANE;

class SeveralCalculatorsE2eTest : public ::testing::Test {
protected:
    // tolvane ARGS (after `env`, so that the environment can be set) under a virtual
    // calculator with `calculatorOptions`, storage in "storage".
    RunResult run(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& calculatorOptions,
                  const std::string& environment = "NOTHING=") {
        std::vector<std::string> options{"--storage", "storage", "--count-transfers"};
        options.insert(options.end(), calculatorOptions.begin(), calculatorOptions.end());
        std::vector<std::string> command{"/usr/bin/env", environment, tolvane};
        command.insert(command.end(), arguments.begin(), arguments.end());
        RunResult result = runOnCalculator(options, command, directory.path());
        EXPECT_TRUE(violationsIn(result.err).empty()) << result.err;
        EXPECT_FALSE(sanitizerReported(result)) << result.err;
        return result;
    }

    std::string stored(const std::string& path) {
        return readFile(directory / ("storage/" + path));
    }

    TemporaryDirectory directory;
};

TEST_F(SeveralCalculatorsE2eTest, DevicesListsEveryCalculatorWithoutASession) {
    const struct {
        std::vector<std::string> bus;
        std::string listed;
    } cases[] = {
        {{"--no-device"}, ""},
        {{}, "1-1\tlink\tVirtual calculator\tVC0000000001\n"},
        {{"--calculators", "2", "--drive", "--at", "1-4.2", "--held", "--serial", ""},
         "1-4.1\tlink\tVirtual calculator\tVC0000000001\n"
         "1-4.2\tlink\tVirtual calculator\t\tbusy\n"
         "1-4.3\tdrive\tVirtual calculator drive\tVC0000000003\tunmounted\n"},
    };
    for (const auto& scenario : cases) {
        const RunResult result = run({"devices"}, scenario.bus);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, scenario.listed);
        EXPECT_FALSE(contains(result.err, "[ERROR]")) << result.err;
        EXPECT_FALSE(contains(result.err, "claimed the interface 1")) << "no session is opened";
    }
}

// Which calculator a command takes: -c wins over the environment; an address or a serial; the
// only one; never a guess among several.
TEST_F(SeveralCalculatorsE2eTest, ACommandTakesTheCalculatorChosenOrTheOnlyOne) {
    writeFile(directory / "storage/1-4.2/fls0/TWO.TXT", "2");
    writeFile(directory / "storage/1-4.3/fls0/THREE.TXT", "3");
    const std::vector<std::string> three = {"--calculators", "3"};
    const struct {
        std::vector<std::string> arguments;
        std::string environment;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {{"list"}, "NOTHING=", 2, "", "Several calculators are attached: choose one with -c"},
        {{"list", "-c", "1-4.2"}, "NOTHING=", 0, "1\tTWO.TXT\n", ""},
        {{"-c", "VC0000000003", "list"}, "NOTHING=", 0, "1\tTHREE.TXT\n", ""},
        {{"list"}, "TOLVANE_CALCULATOR=1-4.3", 0, "1\tTHREE.TXT\n", ""},
        {{"list", "-c", "1-4.2"}, "TOLVANE_CALCULATOR=1-4.3", 0, "1\tTWO.TXT\n", ""},
        {{"list", "-c", "1-9"}, "NOTHING=", 1, "", "No calculator 1-9 is attached"},
    };
    for (const auto& scenario : cases) {
        const RunResult result = run(scenario.arguments, three, scenario.environment);
        EXPECT_EQ(result.status, scenario.status) << result.err;
        EXPECT_EQ(result.out, scenario.out);
        EXPECT_TRUE(contains(result.err, scenario.err)) << result.err;
        if (scenario.status == 2) {
            EXPECT_TRUE(contains(result.err, "  1-4.3\tlink")) << "the calculators are listed";
            EXPECT_TRUE(contains(result.err, "0 OUT and 0 IN transfers to all")) << result.err;
        }
    }
    const RunResult one = run({"list"}, {});
    EXPECT_EQ(one.status, 0) << "one calculator needs no choosing: " << one.err;
}

// Each calculator in its own session at once, link and drive alike; one that fails stops no
// other, and the last line names it.
TEST_F(SeveralCalculatorsE2eTest, AllWorksOnEveryCalculatorAndOneFailingStopsNoOther) {
    const std::string bytes = patternBytes(3000);
    writeFile(directory / "GAME.G1A", bytes);
    const std::vector<std::string> bus = {"--calculators", "2",     "--drives",   "2",
                                          "--at",          "1-4.2", "--capacity", "1000"};
    const std::vector<std::string> fine = {"1-4.1/fls0/", "1-4.3/", "1-4.4/"};
    RunResult result = run({"send", "--all", "GAME.G1A"}, bus);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "1-4.2: [ERROR]: GAME.G1A: not sent: the calculator's memory "
                                     "is full"))
        << result.err;
    EXPECT_TRUE(contains(result.err, "[ERROR]: Done on 4 calculators; failed on 1-4.2"))
        << result.err;
    for (const std::string& storage : fine) {
        EXPECT_TRUE(stored(storage + "GAME.G1A") == bytes) << storage;
    }

    result = run({"list", "--all"}, bus);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.size(), 3 * std::string("1-4.1\t3000\tGAME.G1A\n").size());
    for (const char* address : {"1-4.1", "1-4.3", "1-4.4"}) {
        EXPECT_TRUE(contains(result.out, address + std::string("\t3000\tGAME.G1A\n")))
            << result.out;
    }
    EXPECT_TRUE(contains(result.err, "[INFO]: Done on all 4 calculators")) << result.err;

    writeFile(directory / "back/.keep", "");
    result = run({"get", "--all", "-o", "back", "GAME.G1A"}, bus);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "1-4.2: [ERROR]: GAME.G1A: not fetched")) << result.err;
    for (const char* address : {"1-4.1", "1-4.3", "1-4.4"}) {
        EXPECT_TRUE(readFile(directory / ("back/" + std::string(address) + "/GAME.G1A")) == bytes)
            << address;
    }
    EXPECT_FALSE(fileExists(directory / "back/1-4.2/GAME.G1A"));
}

// -c <TAB> offers the addresses of the calculators attached, from tolvane's own listing.
TEST_F(SeveralCalculatorsE2eTest, TheCompletionOffersTheAddressesAttached) {
    const RunResult result =
        runOnCalculator({"--calculators", "3"},
                        {"/bin/bash", "--norc", "-c",
                         "source \"$1\"; COMP_WORDS=(\"$2\" list -c ''); COMP_CWORD=3; _tolvane; "
                         "printf '%s\\n' \"${COMPREPLY[@]}\"",
                         "bash", TOLVANE_COMPLETION, tolvane},
                        directory.path());
    EXPECT_EQ(result.out, "1-4.1\n1-4.2\n1-4.3\n") << result.err;
}

// Ctrl-C ends every session properly, then the status is 130.
TEST_F(SeveralCalculatorsE2eTest, AnInterruptEndsEverySession) {
    writeFile(directory / "BIG.BIN", patternBytes(1024 * 1024));
    const RunResult result = runOnCalculator(
        {"--storage", "storage", "--report", "report.txt", "--calculators", "3"},
        {"/bin/sh", "-c",
         tolvane + " send --all --no-pipeline BIG.BIN 2> err.txt & pid=$!; "
                   "until [ \"$(grep -c 'accepted fls0/BIG.BIN' report.txt 2> /dev/null)\" = 3 ]; "
                   "do sleep 0.05; done; sleep 0.2; kill -INT $pid; wait $pid; echo \"status $?\""},
        directory.path());
    EXPECT_EQ(result.out, "status 130\n") << result.err;
    const std::string report = readFile(directory / "report.txt");
    EXPECT_EQ(count(report, "terminated after"), 3u) << report;
    EXPECT_TRUE(violationsIn(report).empty()) << report;
    EXPECT_TRUE(filesBelow(directory / "storage").empty());
}

} // namespace
