#include "SendCommand.h"

#include "ArgReader.h"
#include "CasioCommandHeader.h"
#include "CasioFileSender.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
#include "Interruption.h"
#include "Log.h"
#include "UploadProgress.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct LocalFile {
    std::string path;
    std::string name; // its name on the calculator: the base name
};

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What keeps the file from being sent; empty when nothing does.
std::string problemWith(const LocalFile& file) {
    struct stat status;
    if (stat(file.path.c_str(), &status) != 0) {
        return "no such file";
    }
    if (!S_ISREG(status.st_mode)) {
        return "not a regular file";
    }
    if (access(file.path.c_str(), R_OK) != 0) {
        return "not readable";
    }
    if (status.st_size == 0) {
        return "empty; the calculator takes no empty file";
    }
    if (status.st_size > CasioFileSender::maxFileSize) {
        return std::to_string(status.st_size) + " bytes; the calculator takes " +
               std::to_string(CasioFileSender::maxFileSize) + " at most";
    }
    if (file.name.empty() || file.name.size() > CasioCommandHeader::maxFieldLength) {
        return "its name must be 1 to 255 bytes";
    }
    return "";
}

// Every file, checked before anything is sent; false after naming each that cannot go.
bool checkAll(const std::vector<std::string>& paths, std::vector<LocalFile>* files) {
    bool sound = true;
    std::set<std::string> names;
    for (const std::string& path : paths) {
        const LocalFile file{path, baseName(path)};
        std::string problem = problemWith(file);
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

bool readWhole(const std::string& path, std::vector<unsigned char>* bytes) {
    std::ifstream stream(path, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    return !stream.bad() && stream.is_open();
}

class ProgressLine final : public CasioSendListener {
public:
    ProgressLine(int partCount, int size, const std::string& label)
        : label(label), progress(partCount, size, this->label.c_str()) {}

    void partsAcknowledged(int parts, int /*partCount*/) override { progress.partSent(parts); }

private:
    std::string label;
    UploadProgress progress;
};

// Sends one file as asked; when a pipelined transfer breaks, again on a fresh link, part by
// part, from then on. False after saying why the file is not on the calculator.
class Sender {
public:
    Sender(CommandContext& context, bool pipelined)
        : context(context), storage(context.storage()), folder(context.line.value("folder")),
          overwrite(context.line.has("overwrite")), pipelined(pipelined) {}

    bool send(const LocalFile& file, const std::string& label) {
        std::vector<unsigned char> bytes;
        if (!readWhole(file.path, &bytes)) {
            Log::error((file.path + ": can't read it").c_str());
            return false;
        }
        Buffer image(bytes.data(), static_cast<int>(bytes.size()));
        CasioUpload upload = {folder.c_str(), file.name.c_str(), storage.c_str(),
                              &image,         overwrite,         pipelined};
        int refusal = CasioStorage::notRefused;
        bool failed = attempt(upload, label, &refusal);
        if (failed && refusal == CasioFileSender::pipelineBroken && !Interruption::happened()) {
            Log::warning("The link does not take pipelined parts: sending again, part by part");
            pipelined = false;
            // Whatever the broken transfer left on the calculator is replaced.
            upload.pipelined = false;
            upload.overwrite = true;
            context.link.close(false);
            failed = context.openLink() == nullptr || attempt(upload, label, &refusal);
        }
        if (failed && !Interruption::happened()) {
            report(file, refusal);
        }
        return !failed;
    }

private:
    bool attempt(const CasioUpload& upload, const std::string& label, int* refusal) {
        const int size = upload.image->getSize();
        ProgressLine progress(CasioDataPart::partsFor(size), size, label);
        return CasioFileSender::sendFile(context.link.socket(), upload, &progress, refusal);
    }

    void report(const LocalFile& file, int refusal) {
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

} // namespace

int runSend(CommandContext& context) {
    const std::string folder = context.line.value("folder");
    if (folder.find('/') != std::string::npos ||
        folder.size() > CasioCommandHeader::maxFieldLength) {
        Log::error(("'" + folder + "' is no calculator folder: 1 to 255 bytes, no '/'").c_str());
        return exitUsage;
    }
    std::vector<LocalFile> files;
    if (!checkAll(context.line.operands(), &files)) {
        return exitFailed;
    }
    ArgReader::warnIfFolderNameLong(folder.c_str());
    for (const LocalFile& file : files) {
        ArgReader::warnIfFileNameLong(file.name.c_str());
    }
    if (context.openLink() == nullptr) {
        return exitFailed;
    }
    Sender sender(context, !context.line.has("no-pipeline"));
    bool allDone = true;
    for (size_t k = 0; k < files.size() && !Interruption::happened(); ++k) {
        const std::string label = "File " + std::to_string(k + 1) + "/" +
                                  std::to_string(files.size()) + " " + files[k].name + "  ";
        allDone = sender.send(files[k], label) && allDone;
    }
    return allDone ? exitDone : exitFailed;
}
