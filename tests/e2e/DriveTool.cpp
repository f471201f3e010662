// A drive calculator's files through tolvane_drive, as the commands reach them, for the
// end-to-end tests: each run mounts the drive, does one thing and finishes with it.
//   DriveTool state ADDRESS                         where it is mounted, without mounting it
//   DriveTool [--no-eject] list ADDRESS             SIZE<TAB>NAME per file, and the mount's mode
//   DriveTool [--no-eject] free ADDRESS             FREE of TOTAL bytes
//   DriveTool [--no-eject] get ADDRESS NAME         the file's bytes
//   DriveTool [--no-eject] [-w] send ADDRESS LOCAL SIZE [FOLDER]
//   DriveTool [--no-eject] delete ADDRESS NAME
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

bool run(const std::string& verb, const std::vector<std::string>& operands, DriveFiles& files,
         bool replace) {
    std::vector<DriveFile> listed;
    DriveSpace space;
    uint64_t size = 0;
    std::string path;
    if (verb == "list" && files.list(&listed)) {
        for (const DriveFile& file : listed) {
            printf("%llu\t%s\n", static_cast<unsigned long long>(file.size), file.name.c_str());
        }
        return true;
    }
    if (verb == "free" && files.space(&space)) {
        printf("%llu of %llu\n", static_cast<unsigned long long>(space.free),
               static_cast<unsigned long long>(space.total));
        return true;
    }
    if (verb == "get" && files.find(operands.at(0), &path, &size)) {
        return files.copyOut(path, operands[0], [](const unsigned char* bytes, size_t count) {
            return fwrite(bytes, 1, count, stdout) == count;
        }) == DriveFiles::Outcome::Done;
    }
    if (verb == "send") {
        const std::string local = operands.at(0);
        const DriveUpload upload{local,
                                 local,
                                 strtoull(operands.at(1).c_str(), nullptr, 10),
                                 operands.size() > 2 ? operands[2] : "",
                                 local.substr(local.rfind('/') + 1),
                                 replace};
        return files.send(upload) == DriveFiles::Outcome::Done;
    }
    return verb == "delete" && files.remove(operands.at(0));
}

} // namespace

int main(int argc, char** argv) {
    Log::setOutput(stderr);
    Log::setLoglevel(LOGLEVEL_WARNING);
    struct sigaction action = {};
    action.sa_handler = onInterrupt; // without SA_RESTART: a blocked read ends
    sigaction(SIGINT, &action, nullptr);
    std::vector<std::string> words(argv + 1, argv + argc);
    const bool keepMounted = !words.empty() && words[0] == "--no-eject";
    words.erase(words.begin(), words.begin() + (keepMounted ? 1 : 0));
    const bool replace = !words.empty() && words[0] == "-w";
    words.erase(words.begin(), words.begin() + (replace ? 1 : 0));
    if (words.size() < 2) {
        return 2;
    }
    std::string point;
    if (words[0] == "state") {
        const bool mounted = DriveMount::mountPointOf(words[1], &point);
        printf("%s\n", mounted ? ("mounted at " + point).c_str() : "not mounted");
        return 0;
    }
    DriveMount drive;
    if (!drive.open(words[1])) {
        return 1;
    }
    fprintf(stderr, "DriveTool: %s at %s%s\n", drive.device().node.c_str(), drive.folder().c_str(),
            drive.readOnly() ? " (read-only)" : "");
    DriveFiles files(drive.folder(), drive.readOnly());
    const bool done =
        run(words[0], std::vector<std::string>(words.begin() + 2, words.end()), files, replace);
    fflush(stdout);
    const bool finished = drive.finish(files.changed(), keepMounted);
    return LinkInterrupt::requested() ? 130 : done && finished ? 0 : 1;
}
