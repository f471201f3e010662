// The uploader under the virtual calculator, both writing to one log or one terminal, as
// when a person runs them: the calculator's notes and the uploader's lines must read in
// the order things happened, each on a line of its own.

#include "E2eSupport.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>

namespace {

// The lines a terminal shows for these bytes: "\r" goes back to the start of the line,
// "\033[K" erases from there to its end, "\n" starts the next line, and any other byte
// overwrites the one under the cursor.
std::vector<std::string> screenLines(const std::string& bytes) {
    const std::string eraseToEnd = "\033[K";
    std::vector<std::string> lines{""};
    size_t column = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::string& line = lines.back();
        if (bytes.compare(i, eraseToEnd.size(), eraseToEnd) == 0) {
            line.erase(column);
            i += eraseToEnd.size() - 1;
        } else if (bytes[i] == '\r') {
            column = 0;
        } else if (bytes[i] == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            line.resize(std::max(line.size(), column + 1), ' ');
            line[column++] = bytes[i];
        }
    }
    return lines;
}

// Fails unless each of `parts` occurs in `text` after the one before it.
void expectInOrder(const std::string& text, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const std::string& part : parts) {
        const size_t found = text.find(part, at);
        ASSERT_TRUE(found != std::string::npos) << "'" << part << "' out of order in:\n" << text;
        at = found + part.size();
    }
}

struct LogCase {
    const char* name;
    bool alreadyStored;
    std::vector<std::string> inOrder;
};

class SharedOutputE2eTest : public ::testing::Test {
protected:
    std::vector<std::string> calculatorAndUploader(const std::string& file) {
        return {VIRTUAL_CALCULATOR, "--storage", "storage", "--", TOLVANE_UPLOADER, "-f", file};
    }

    TemporaryDirectory directory;
};

// Standard output and standard error into one pipe, as in `... > log 2>&1`.
TEST_F(SharedOutputE2eTest, ALogHoldsNotesAndLinesInTheOrderTheyHappened) {
    const std::vector<LogCase> cases{
        {"stored",
         false,
         {"[INFO]: File has been read !\n", "VirtualCalculator: accepted fls0/A.TXT",
          "[INFO]: File request accepted !\n", "VirtualCalculator: stored ",
          "[INFO]: File uploaded !\n"}},
        {"refused",
         true,
         {"[INFO]: File has been read !\n", "VirtualCalculator: refused fls0/A.TXT",
          "[ERROR]: File already exists !\n"}},
    };
    for (const LogCase& test : cases) {
        SCOPED_TRACE(test.name);
        TemporaryDirectory fresh;
        writeFile(fresh / "A.TXT", "some text\n");
        if (test.alreadyStored) {
            writeFile(fresh / "storage/fls0/A.TXT", "older text\n");
        }
        std::vector<std::string> command{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
        const std::vector<std::string> run = calculatorAndUploader("A.TXT");
        command.insert(command.end(), run.begin(), run.end());
        const RunResult result = runCaptured(command, fresh.path());
        EXPECT_EQ(result.status, test.alreadyStored ? 1 : 0) << result.out;
        expectInOrder(result.out, test.inOrder);
    }
}

// The note about the last part arrives while the progress line of the first is drawn.
TEST_F(SharedOutputE2eTest, OnATerminalNotesStartOnALineOfTheirOwn) {
    if (const std::string missing = pseudoTerminalMissing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    writeFile(directory / "TWO.BIN", patternBytes(300));
    const RunResult run = runOnTerminal(calculatorAndUploader("TWO.BIN"), directory.path());
    ASSERT_EQ(run.status, 0) << run.out;

    const std::vector<std::string> lines = screenLines(run.out);
    size_t notes = 0;
    bool progressShown = false;
    for (const std::string& line : lines) {
        if (contains(line, "VirtualCalculator:")) {
            ++notes;
            EXPECT_EQ(line.rfind("VirtualCalculator: ", 0), 0u) << line;
        }
        progressShown = progressShown || line.rfind("Part 2/2  100%", 0) == 0;
    }
    EXPECT_EQ(notes, 2u) << run.out;
    EXPECT_TRUE(progressShown) << run.out;
    expectInOrder(run.out, {"VirtualCalculator: stored ", "Part 2/2", "[INFO]: File uploaded !"});
}

} // namespace
