#include "GetCommand.h"

#include "CasioDataPart.h"
#include "CasioStorage.h"
#include "Interruption.h"
#include "Log.h"
#include "OutputFile.h"
#include "StandardOutput.h"
#include "TransferProgress.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/stat.h>

const CommandHelp getHelp = {
    "copy files from the calculator",
    "Copies each NAME (FILE or FOLDER/FILE on the calculator) into the current\n"
    "folder, under its calculator name. A file lands whole or not at all; a local\n"
    "file is never replaced without -w. The other names are still fetched when one\n"
    "fails.",
    {storageOption,
     {'o', "output", "PATH",
      "where the file goes: a file, a folder, or -\nfor standard output; with several NAMEs,\n"
      "an existing folder"},
     {'w', "overwrite", nullptr, "replace local files of the same name"},
     noEjectOption}};
// With --all, each calculator's files go into a folder named after its address, under -o
// or the current folder.

namespace {

constexpr const char* standardOutputName = "-";

// Passes the file's bytes on to a stream as they arrive, with a progress line.
class StreamSink final : public CasioFileSink {
public:
    explicit StreamSink(FILE* stream) : stream(stream) {}

    void fileAnnounced(uint32_t size) override {
        if (size > 0) {
            progress = std::make_unique<TransferProgress>(CasioDataPart::partsFor(size),
                                                          static_cast<int>(size));
        }
    }

    bool fileBytes(const Buffer& bytes) override {
        const auto count = static_cast<size_t>(bytes.getSize());
        if (stream == stdout) {
            StandardOutput::write(bytes.getData(), count);
            if (StandardOutput::failed()) {
                return true;
            }
        } else if (fwrite(bytes.getData(), 1, count, stream) != count) {
            return true;
        }
        received += count;
        // The progress line counts parts of 256 bytes, whatever size of part the calculator
        // sends.
        if (progress) {
            progress->partSent(CasioDataPart::partsFor(static_cast<long long>(received)));
        }
        return false;
    }

private:
    FILE* stream;
    std::unique_ptr<TransferProgress> progress;
    uint64_t received = 0;
};

} // namespace

// Where each name goes; false after reporting a usage error.
bool GetCommand::plan(const CommandLine& line) {
    const std::string output = line.value("output");
    if (line.has("output") && output.empty()) {
        Log::error("-o needs a path: a file, a folder, or - for standard output");
        return false;
    }
    const bool several = line.operands().size() > 1 || line.has("all");
    const bool intoFolder = line.has("output") && LocalTarget::isFolder(output);
    if (several && line.has("output") && !intoFolder) {
        Log::error("With several names or --all, -o must name an existing folder");
        return false;
    }
    folderForAll = line.has("output") ? output : ".";
    std::vector<CalcPath> sources;
    if (!CalcPath::parseAll(line.operands(), &sources)) {
        return false;
    }
    for (size_t i = 0; i < sources.size(); ++i) {
        Download download{line.operands()[i], sources[i], output == standardOutputName, {}};
        const std::string& file = sources[i].name;
        download.target.shown = !line.has("output") ? file
                                : intoFolder        ? output + "/" + file
                                                    : output;
        downloads.push_back(download);
    }
    return true;
}

bool GetCommand::examine(std::vector<Download>* downloads, bool replace) {
    std::vector<Download> wanted;
    for (Download& download : *downloads) {
        if (download.toStandardOutput ||
            LocalTarget::examine(download.target.shown, replace, &download.target)) {
            wanted.push_back(download);
        }
    }
    const bool allWanted = wanted.size() == downloads->size();
    *downloads = wanted;
    return allWanted;
}

std::optional<int> GetCommand::check(const CommandLine& line) {
    if (!plan(line)) {
        return exitUsage;
    }
    replace = line.has("overwrite");
    // With --all the targets are known, and examined, calculator by calculator.
    if (line.has("all")) {
        return std::nullopt;
    }
    someRefused = !examine(&downloads, replace);
    if (downloads.empty()) {
        return exitFailed;
    }
    return std::nullopt;
}

// The downloads of one calculator of several, into a folder named after its address.
std::vector<GetCommand::Download> GetCommand::intoFolderOf(const std::string& address) const {
    const std::string folder = folderForAll + "/" + address;
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        Log::error((folder + ": can't make the folder (" + strerror(errno) + ")").c_str());
        return {};
    }
    std::vector<Download> mine = downloads;
    for (Download& download : mine) {
        download.target.shown = folder + "/" + download.source.name;
    }
    return mine;
}

bool GetCommand::deliver(const Download& download, const std::function<bool(FILE*)>& copy) {
    std::unique_ptr<OutputFile> file;
    if (!download.toStandardOutput) {
        file = std::make_unique<OutputFile>(download.target);
        if (!file->create()) {
            return false;
        }
    }
    return copy(file ? file->stream() : stdout) && (!file || file->commit());
}

bool GetCommand::fetch(Socket* socket, const std::string& storage, const Download& download) const {
    return deliver(download, [&](FILE* stream) {
        StreamSink sink(stream);
        int refusal = CasioStorage::notRefused;
        if (!CasioStorage::fetchFile(socket, download.source.folder.c_str(),
                                     download.source.name.c_str(), storage.c_str(), &sink,
                                     &refusal)) {
            return true;
        }
        const std::string why = refusal != CasioStorage::notRefused
                                    ? CasioStorage::refusalReason(refusal)
                                    : "it did not arrive whole";
        if (!Interruption::happened() && !StandardOutput::readerGone()) {
            Log::error((download.shown + ": not fetched: " + why).c_str());
        }
        return false;
    });
}

bool GetCommand::copyFromDrive(const DriveFiles& files, const Download& download) {
    std::string path;
    uint64_t size = 0;
    if (!files.find(download.shown, &path, &size)) {
        Log::error((download.shown + ": not fetched: the calculator has no such file").c_str());
        return false;
    }
    return deliver(download, [&](FILE* stream) {
        StreamSink sink(stream);
        sink.fileAnnounced(static_cast<uint32_t>(size));
        const auto keep = [&](const unsigned char* bytes, size_t count) {
            return !sink.fileBytes(
                Buffer(const_cast<unsigned char*>(bytes), static_cast<int>(count)));
        };
        return files.copyOut(path, download.shown, keep) == DriveFiles::Outcome::Done;
    });
}

int GetCommand::runOnDrive(DriveContext& context) const {
    const DriveFiles* files = context.files();
    if (files == nullptr) {
        return exitFailed;
    }
    bool allDone = !someRefused;
    for (const Download& download : downloads) {
        if (Interruption::happened() || StandardOutput::failed()) {
            allDone = false;
            break;
        }
        allDone = copyFromDrive(*files, download) && allDone;
    }
    return StandardOutput::finish() && allDone ? exitDone : exitFailed;
}

int GetCommand::run(CommandContext& context) const {
    Socket* socket = context.socket();
    const std::string storage = context.storage();
    std::vector<Download> wanted = downloads;
    bool allDone = !someRefused;
    if (!context.address.empty()) {
        wanted = intoFolderOf(context.address);
        allDone = !wanted.empty() && examine(&wanted, replace);
    }
    for (const Download& download : wanted) {
        // Standard output's reader gone, nothing further is fetched for it.
        if (Interruption::happened() || StandardOutput::failed()) {
            allDone = false;
            break;
        }
        if (const char* ended = sessionEnded(socket)) {
            Log::error((download.shown + ": not fetched: " + ended).c_str());
            allDone = false;
            continue;
        }
        allDone = fetch(socket, storage, download) && allDone;
    }
    return StandardOutput::finish() && allDone ? exitDone : exitFailed;
}
