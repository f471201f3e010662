#include "SendCommand.h"

#include "CalcPath.h"
#include "CasioFileSender.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
#include "Interruption.h"
#include "Log.h"
#include "NameHints.h"
#include "TransferProgress.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

const CommandHelp sendHelp = {
    "copy files to the calculator",
    "Sends every FILE in one link session, each under its own base name, into the\n"
    "storage's root or FOLDER. Every FILE is checked before anything is sent. A file\n"
    "already on the calculator is left alone without -w; the others still go.",
    {storageOption,
     {'F', "folder", "FOLDER", "the folder on the calculator (default: the root)"},
     {'w', "overwrite", nullptr, "replace files of the same name on the calculator"},
     {'\0', "no-pipeline", nullptr,
      "wait for each part's acknowledgement before\nsending the next (slower)"},
     noEjectOption}};

namespace {

using LocalFile = SendCommand::LocalFile;

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What keeps the file from being sent; empty when nothing does.
std::string problemWith(LocalFile* file) {
    struct stat status;
    if (stat(file->path.c_str(), &status) != 0) {
        return "no such file";
    }
    if (!S_ISREG(status.st_mode)) {
        return "not a regular file";
    }
    if (access(file->path.c_str(), R_OK) != 0) {
        return "not readable";
    }
    if (status.st_size == 0) {
        return "empty; the calculator takes no empty file";
    }
    if (status.st_size > CasioFileSender::maxFileSize) {
        return std::to_string(status.st_size) + " bytes; the calculator takes " +
               std::to_string(CasioFileSender::maxFileSize) + " at most";
    }
    if (!CalcPath::isPlainName(file->name)) {
        return "its name must be 1 to 255 bytes without control characters";
    }
    file->size = status.st_size;
    return "";
}

// Every file, checked before anything is sent; false after naming each that cannot go.
bool checkAll(const std::vector<std::string>& paths, std::vector<LocalFile>* files) {
    bool sound = true;
    std::set<std::string> names;
    for (const std::string& path : paths) {
        LocalFile file{path, baseName(path), 0};
        std::string problem = problemWith(&file);
        if (problem.empty() && !names.insert(file.name).second) {
            problem = "another file of the same name is sent too";
        }
        if (!problem.empty()) {
            Log::error((path + ": " + problem).c_str());
            sound = false;
        }
        files->push_back(file);
    }
    return sound;
}

// The file's bytes, read whole; false after saying why not. A file that is no longer the size
// it was checked at is not sent: the calculator would be told a size it does not get.
bool readWhole(const LocalFile& file, std::vector<unsigned char>* bytes) {
    const int descriptor = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        Log::error((file.path + ": can't open it (" + strerror(errno) + ")").c_str());
        return false;
    }
    // One byte more than expected, to see a file that has grown.
    bytes->resize(static_cast<size_t>(file.size) + 1);
    size_t count = 0;
    ssize_t got = 0;
    while (count < bytes->size() &&
           ((got = read(descriptor, bytes->data() + count, bytes->size() - count)) > 0 ||
            (got < 0 && errno == EINTR))) {
        count += got > 0 ? static_cast<size_t>(got) : 0;
    }
    const int readError = got < 0 ? errno : 0;
    close(descriptor);
    if (readError != 0) {
        Log::error((file.path + ": can't read it (" + strerror(readError) + ")").c_str());
        return false;
    }
    if (count != static_cast<size_t>(file.size)) {
        Log::error((file.path + ": changed since it was checked; not sent").c_str());
        return false;
    }
    bytes->resize(count);
    return true;
}

class ProgressLine final : public CasioSendListener {
public:
    ProgressLine(int partCount, int size, const std::string& label)
        : label(label), progress(partCount, size, this->label.c_str()) {}

    void partsAcknowledged(int parts, int /*partCount*/) override { progress.partSent(parts); }

private:
    std::string label;
    TransferProgress progress;
};

enum class Outcome { Sent, NotSent, LinkLost };

// Sends one file as asked; when a pipelined transfer breaks, again in a fresh session, part by
// part, from then on.
class Sender {
public:
    Sender(CommandContext& context, bool pipelined)
        : context(context), storage(context.storage()), folder(context.line.value("folder")),
          overwrite(context.line.has("overwrite")), pipelined(pipelined) {}

    Outcome send(const LocalFile& file, const std::string& label) {
        std::vector<unsigned char> bytes;
        if (!readWhole(file, &bytes)) {
            return Outcome::NotSent;
        }
        Buffer image(bytes.data(), static_cast<int>(bytes.size()));
        CasioUpload upload = {folder.c_str(), file.name.c_str(), storage.c_str(),
                              &image,         overwrite,         pipelined};
        int refusal = CasioStorage::notRefused;
        bool failed = attempt(upload, label, &refusal);
        if (failed && refusal == CasioFileSender::pipelineBroken && !Interruption::happened() &&
            !context.socket()->deviceGone()) {
            Log::warning("The link does not take pipelined parts: sending again, part by part");
            pipelined = false;
            // Whatever the broken transfer left on the calculator is replaced.
            upload.pipelined = false;
            upload.overwrite = true;
            if (!context.link.restartSession()) {
                return Outcome::LinkLost;
            }
            failed = attempt(upload, label, &refusal);
        }
        if (failed && !Interruption::happened() && sessionEnded(context.socket()) != nullptr) {
            return Outcome::LinkLost;
        }
        if (failed && !Interruption::happened()) {
            report(file, refusal);
        }
        return failed ? Outcome::NotSent : Outcome::Sent;
    }

private:
    bool attempt(const CasioUpload& upload, const std::string& label, int* refusal) {
        const int size = upload.image->getSize();
        ProgressLine progress(CasioDataPart::partsFor(size), size, label);
        return CasioFileSender::sendFile(context.socket(), upload, &progress, refusal);
    }

    static void report(const LocalFile& file, int refusal) {
        const std::string why =
            refusal == CasioProtocolTools::subtypeExists
                ? "exists on the calculator; -w replaces it"
                : std::string("not sent: ") + CasioStorage::refusalReason(refusal);
        Log::error((file.path + ": " + why).c_str());
    }

    CommandContext& context;
    std::string storage;
    std::string folder;
    bool overwrite;
    bool pipelined;
};

// One line for the files a lost link kept from the calculator, the one under way first.
void reportLost(Socket* socket, const std::vector<LocalFile>& files, size_t from) {
    std::string names;
    for (size_t k = from; k < files.size(); ++k) {
        names += (k > from ? ", " : "") + files[k].path;
    }
    const char* why = socket != nullptr ? sessionEnded(socket) : nullptr;
    Log::error((std::string(why != nullptr ? why : "the link to the calculator was lost") +
                "; not sent: " + names)
                   .c_str());
}

} // namespace

std::optional<int> SendCommand::check(const CommandLine& line) {
    const std::string folder = line.value("folder");
    if (line.has("folder") && !CalcPath::isPlainName(folder)) {
        Log::error(("'" + folder +
                    "' is no calculator folder: 1 to 255 bytes, no '/' or control characters, "
                    "not . or ..")
                       .c_str());
        return exitUsage;
    }
    if (!checkAll(line.operands(), &files)) {
        return exitFailed;
    }
    NameHints::warnIfFolderNameLong(folder.c_str());
    for (const LocalFile& file : files) {
        NameHints::warnIfFileNameLong(file.name.c_str());
    }
    return std::nullopt;
}

int SendCommand::run(CommandContext& context) const {
    Sender sender(context, !context.line.has("no-pipeline"));
    bool allDone = true;
    for (size_t k = 0; k < files.size() && !Interruption::happened(); ++k) {
        const std::string label = "File " + std::to_string(k + 1) + "/" +
                                  std::to_string(files.size()) + " " + files[k].name + "  ";
        const Outcome outcome = sender.send(files[k], label);
        if (outcome == Outcome::LinkLost) {
            reportLost(context.socket(), files, k);
            return exitFailed;
        }
        allDone = outcome == Outcome::Sent && allDone;
    }
    return allDone ? exitDone : exitFailed;
}

int SendCommand::runOnDrive(DriveContext& context) const {
    DriveFiles* drive = context.files();
    if (drive == nullptr) {
        return exitFailed;
    }
    const std::string folder = context.line.value("folder");
    const bool replace = context.line.has("overwrite");
    bool allDone = true;
    for (const LocalFile& file : files) {
        const DriveFiles::Outcome outcome = drive->send(
            {file.path, file.path, static_cast<uint64_t>(file.size), folder, file.name, replace});
        if (outcome == DriveFiles::Outcome::Interrupted) {
            return exitFailed;
        }
        allDone = outcome == DriveFiles::Outcome::Done && allDone;
    }
    return allDone ? exitDone : exitFailed;
}
