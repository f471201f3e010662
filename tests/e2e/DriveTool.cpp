// Sends one local file to a drive calculator through tolvane_drive, as `tolvane send` does,
// but with the size it was checked at given on the command line, so that the end-to-end
// tests can play a file that changed since, and a source as slow as they like (a FIFO).
//   DriveTool [-w] send ADDRESS LOCAL SIZE [FOLDER]
// Exit status 0 when done, 1 otherwise, 130 when interrupted (SIGINT).

#include "DriveFiles.h"
#include "DriveMount.h"
#include "LinkInterrupt.h"
#include "Log.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void onInterrupt(int /*signal*/) {
    LinkInterrupt::request();
}

} // namespace

int main(int argc, char** argv) {
    Log::setOutput(stderr);
    Log::setLoglevel(LOGLEVEL_WARNING);
    struct sigaction action = {};
    action.sa_handler = onInterrupt; // without SA_RESTART: a blocked read ends
    sigaction(SIGINT, &action, nullptr);
    std::vector<std::string> words(argv + 1, argv + argc);
    const bool replace = !words.empty() && words[0] == "-w";
    words.erase(words.begin(), words.begin() + (replace ? 1 : 0));
    if (words.size() < 4 || words[0] != "send") {
        return 2;
    }
    DriveMount drive;
    if (drive.open(words[1])) {
        return 1;
    }
    DriveFiles files(drive.folder(), drive.readOnly());
    const std::string& local = words[2];
    const DriveUpload upload{local, strtoull(words[3].c_str(), nullptr, 10),
                             words.size() > 4 ? words[4] : "", local.substr(local.rfind('/') + 1),
                             replace};
    std::string why;
    const DriveFiles::Outcome outcome = files.send(upload, nullptr, &why);
    if (outcome == DriveFiles::Outcome::Failed) {
        Log::error((local + ": not sent: " + why).c_str());
    }
    const bool unfinished = drive.finish(files.changed(), false);
    return LinkInterrupt::requested()                            ? 130
           : outcome == DriveFiles::Outcome::Done && !unfinished ? 0
                                                                 : 1;
}
