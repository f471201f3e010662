#include "LibusbDouble.h"
#include "Log.h"
#include "PseudoTerminal.h"
#include "ScriptedCalculator.h"
#include "StdoutCapture.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

int tolvaneUploaderMain(int argc, char** argv);

namespace {

struct Outputs {
    int status;
    std::string standardOutput;
    std::string standardError;
};

// Points standard error at a pseudo-terminal, or at a plain file, for one run.
class StderrRedirect {
public:
    explicit StderrRedirect(bool terminal) {
        fflush(stderr);
        savedStderr = dup(STDERR_FILENO);
        if (terminal) {
            int slave = -1;
            EXPECT_EQ(openpty(&readEnd, &slave, nullptr, nullptr, nullptr), 0);
            dup2(slave, STDERR_FILENO);
            close(slave);
            fcntl(readEnd, F_SETFL, O_NONBLOCK);
        } else {
            char path[] = "/tmp/tolvane-stderr-XXXXXX";
            readEnd = mkstemp(path);
            unlink(path);
            dup2(readEnd, STDERR_FILENO);
        }
        isTerminal = terminal;
    }

    std::string finish() {
        fflush(stderr);
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
        if (!isTerminal) {
            lseek(readEnd, 0, SEEK_SET);
        }
        std::string text;
        char chunk[4096];
        ssize_t count;
        while ((count = read(readEnd, chunk, sizeof chunk)) > 0) {
            text.append(chunk, static_cast<size_t>(count));
        }
        close(readEnd);
        return text;
    }

private:
    int savedStderr = -1;
    int readEnd = -1;
    bool isTerminal = false;
};

class UploadProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string missing = pseudoTerminalMissing(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        LibusbDouble::reset();
        LibusbDouble::addDevice(0x07CF, 0x6101);
        calculator.emplace();
        // Tests run side by side in processes of their own: each needs a file of its own.
        char pattern[] = "/tmp/tolvane-progress-XXXXXX";
        close(mkstemp(pattern));
        file = pattern;
        std::ofstream(file, std::ios::binary) << std::string(600, 'p');
    }

    void TearDown() override { std::remove(file.c_str()); }

    Outputs upload(bool terminal, std::vector<std::string> options = {}) {
        std::vector<std::string> arguments = {"TolvaneUploader", "-f", file};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        StderrRedirect errors(terminal);
        StdoutCapture output;
        const int status = tolvaneUploaderMain(static_cast<int>(arguments.size()), argv.data());
        std::string standardOutput = output.finish();
        return {status, standardOutput, errors.finish()};
    }

    std::optional<ScriptedCalculator> calculator;
    std::string file;
};

TEST_F(UploadProgressTest, ATerminalSeesOneLineRedrawnInPlace) {
    const Outputs withTerminal = upload(true);
    EXPECT_EQ(withTerminal.status, 0);
    const std::string& line = withTerminal.standardError;
    EXPECT_NE(line.find("Part 1/3"), std::string::npos) << line;
    EXPECT_NE(line.find("Part 3/3  100%"), std::string::npos) << line;
    EXPECT_NE(line.find(" left"), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line; // one line, ended once
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");

    // Standard output stays byte for byte what it is without a terminal.
    const Outputs withoutTerminal = upload(false);
    EXPECT_EQ(withoutTerminal.standardError, "");
    EXPECT_EQ(withoutTerminal.standardOutput, withTerminal.standardOutput);
}

TEST_F(UploadProgressTest, QuietMeansNoProgressEvenOnATerminal) {
    EXPECT_EQ(upload(true, {"-q"}).standardError, "");
    EXPECT_EQ(upload(true, {"-l", "0"}).standardError, "");
    EXPECT_NE(upload(true, {"-l", "1"}).standardError, "");
}

TEST_F(UploadProgressTest, AFailedUploadStillEndsTheLine) {
    calculator->answerPartWith(2, {0x15, '0', '0', '0', '7', '0'});
    const Outputs result = upload(true);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.standardError.find("Part 1/3"), std::string::npos);
    EXPECT_EQ(result.standardError.find("Part 2/3"), std::string::npos);
    EXPECT_EQ(result.standardError.substr(result.standardError.size() - 2), "\r\n");
}

} // namespace
