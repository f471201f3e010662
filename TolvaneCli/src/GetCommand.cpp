#include "GetCommand.h"

#include "CasioDataPart.h"
#include "CasioStorage.h"
#include "Interruption.h"
#include "Log.h"
#include "OutputFile.h"
#include "StandardOutput.h"
#include "TransferProgress.h"

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
     {'w', "overwrite", nullptr, "replace local files of the same name"}}};

namespace {

constexpr const char* standardOutputName = "-";

bool isFolder(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

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
    const bool several = line.operands().size() > 1;
    const bool intoFolder = line.has("output") && isFolder(output);
    if (several && line.has("output") && !intoFolder) {
        Log::error("With several names, -o must name an existing folder");
        return false;
    }
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

std::optional<int> GetCommand::check(const CommandLine& line) {
    if (!plan(line)) {
        return exitUsage;
    }
    const bool replace = line.has("overwrite");
    std::vector<Download> wanted;
    for (Download& download : downloads) {
        if (download.toStandardOutput ||
            LocalTarget::examine(download.target.shown, replace, &download.target)) {
            wanted.push_back(download);
        }
    }
    someRefused = wanted.size() < downloads.size();
    downloads = wanted;
    if (downloads.empty()) {
        return exitFailed;
    }
    return std::nullopt;
}

bool GetCommand::fetch(Socket* socket, const std::string& storage, const Download& download) const {
    std::unique_ptr<OutputFile> file;
    if (!download.toStandardOutput) {
        file = std::make_unique<OutputFile>(download.target);
        if (!file->create()) {
            return false;
        }
    }
    StreamSink sink(file ? file->stream() : stdout);
    int refusal = CasioStorage::notRefused;
    if (CasioStorage::fetchFile(socket, download.source.folder.c_str(),
                                download.source.name.c_str(), storage.c_str(), &sink, &refusal)) {
        const std::string why = refusal != CasioStorage::notRefused
                                    ? CasioStorage::refusalReason(refusal)
                                    : "it did not arrive whole";
        if (!Interruption::happened() && !StandardOutput::readerGone()) {
            Log::error((download.shown + ": not fetched: " + why).c_str());
        }
        return false;
    }
    return !file || file->commit();
}

int GetCommand::run(CommandContext& context) const {
    Socket* socket = context.socket();
    const std::string storage = context.storage();
    bool allDone = !someRefused;
    for (const Download& download : downloads) {
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
