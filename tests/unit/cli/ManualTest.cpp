// The manual's table of messages against the program: every message it documents is made of
// texts that tolvane, as built, holds.

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string contentsOf(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The arguments of a roff request line, quotes removed.
std::vector<std::string> argumentsOf(const std::string& line) {
    std::vector<std::string> arguments;
    std::istringstream words(line.substr(line.find(' ') + 1));
    words >> std::ws;
    while (!words.eof()) {
        std::string argument;
        if (words.peek() == '"') {
            words.get();
            std::getline(words, argument, '"');
        } else {
            words >> argument;
        }
        arguments.push_back(argument);
        words >> std::ws;
    }
    return arguments;
}

// The texts of a message as the manual writes it: bold is the program's, italic (\fI...\fP)
// a placeholder, " ..." more that varies.
std::vector<std::string> piecesOf(std::string text) {
    for (size_t at = text.find("\\fI"); at != std::string::npos; at = text.find("\\fI", at)) {
        const size_t end = text.find("\\fP", at);
        text.replace(at, end == std::string::npos ? std::string::npos : end + 3 - at, "\n");
    }
    for (const auto& [escape, plain] :
         {std::pair<std::string, std::string>{"\\-", "-"}, {"\\&", ""}, {"...", "\n"}}) {
        for (size_t at = text.find(escape); at != std::string::npos; at = text.find(escape, at)) {
            text.replace(at, escape.size(), plain);
        }
    }
    // Messages are put together around ": " and "; ", and start with their level.
    std::vector<std::string> pieces;
    std::string piece;
    for (size_t i = 0; i <= text.size(); ++i) {
        const bool cut =
            i == text.size() || text[i] == '\n' ||
            ((text[i] == ':' || text[i] == ';') && i + 1 < text.size() && text[i + 1] == ' ');
        if (!cut) {
            piece += text[i];
            continue;
        }
        const size_t first = piece.find_first_not_of(' ');
        piece = first == std::string::npos ? "" : piece.substr(first);
        if (!piece.empty() && piece.back() == ':') {
            piece.pop_back();
        }
        if (piece.size() > 2 && piece != "[ERROR]" && piece != "[WARNING]") {
            pieces.push_back(piece);
        }
        piece.clear();
    }
    return pieces;
}

// Each message of the DIAGNOSTICS section: the tag of each entry, and what its text quotes.
std::vector<std::string> documentedMessages(const std::string& manual) {
    const size_t begin = manual.find(".SH DIAGNOSTICS");
    std::istringstream section(manual.substr(begin, manual.find(".SH LIMITS") - begin));
    std::vector<std::string> messages;
    bool tag = false;
    for (std::string line; std::getline(section, line);) {
        const std::vector<std::string> arguments = argumentsOf(line);
        if (tag && line.rfind(".B ", 0) == 0) {
            messages.push_back(line.substr(3));
        } else if (tag && line.rfind(".BI ", 0) == 0) {
            std::string message;
            for (size_t i = 0; i < arguments.size(); ++i) {
                message += i % 2 == 0 ? arguments[i] : "\\fI" + arguments[i] + "\\fP";
            }
            messages.push_back(message);
        } else if (line.rfind(".RB \\(lq ", 0) == 0 && arguments.size() > 1) {
            messages.push_back(arguments[1]);
        }
        tag = line == ".TP";
    }
    return messages;
}

TEST(Manual, EveryMessageItDocumentsIsOneTheProgramCanPrint) {
    const std::string program = contentsOf(TOLVANE);
    const std::vector<std::string> messages = documentedMessages(contentsOf(TOLVANE_MANUAL));
    EXPECT_GT(messages.size(), 20u);
    for (const std::string& message : messages) {
        for (const std::string& piece : piecesOf(message)) {
            EXPECT_NE(program.find(piece), std::string::npos) << "'" << piece << "' of " << message;
        }
    }
}

} // namespace
