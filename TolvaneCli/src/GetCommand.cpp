#include "GetCommand.h"

#include "CalcPath.h"
#include "CasioDataPart.h"
#include "CasioStorage.h"
#include "Interruption.h"
#include "Log.h"
#include "StagedFile.h"
#include "StandardOutput.h"
#include "UploadProgress.h"

#include <memory>
#include <sys/stat.h>

namespace {

constexpr const char* toStandardOutput = "-";

struct Download {
    std::string shown; // the name as the user gave it
    CalcPath source;
    std::string target; // a local path, or "-"
};

bool isFolder(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// Where each name goes; false after reporting a usage error.
bool plan(const CommandLine& line, std::vector<Download>* downloads) {
    const std::string output = line.value("output");
    const bool several = line.operands().size() > 1;
    if (several && !output.empty() && !isFolder(output)) {
        Log::error("With several names, -o must name an existing folder");
        return false;
    }
    for (const std::string& name : line.operands()) {
        Download download{name, {}, ""};
        std::string problem;
        if (!CalcPath::parse(name, &download.source, &problem)) {
            Log::error(problem.c_str());
            return false;
        }
        const std::string& file = download.source.name;
        download.target = output.empty() ? file : isFolder(output) ? output + "/" + file : output;
        downloads->push_back(download);
    }
    return true;
}

// A local file that is there already is kept, unless -w; a folder always.
bool targetIsFree(const Download& download, bool replace) {
    if (download.target == toStandardOutput) {
        return true;
    }
    if (isFolder(download.target)) {
        Log::error((download.target + ": is a folder").c_str());
        return false;
    }
    if (!replace && exists(download.target)) {
        Log::error((download.target + ": exists; -w replaces it").c_str());
        return false;
    }
    return true;
}

// Passes the file's bytes on to a stream as they arrive, with a progress line.
class StreamSink final : public CasioFileSink {
public:
    explicit StreamSink(FILE* stream) : stream(stream) {}

    void fileAnnounced(uint32_t size) override {
        if (size > 0) {
            progress = std::make_unique<UploadProgress>(CasioDataPart::partsFor(size),
                                                        static_cast<int>(size));
        }
    }

    bool fileBytes(const Buffer& bytes) override {
        const auto count = static_cast<size_t>(bytes.getSize());
        if (stream == stdout) {
            StandardOutput::write(bytes.getData(), count);
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
    std::unique_ptr<UploadProgress> progress;
    uint64_t received = 0;
};

bool fetch(Socket* socket, const std::string& storage, const Download& download, FILE* stream) {
    StreamSink sink(stream);
    int refusal = CasioStorage::notRefused;
    if (CasioStorage::fetchFile(socket, download.source.folder.c_str(),
                                download.source.name.c_str(), storage.c_str(), &sink, &refusal)) {
        const std::string why = refusal != CasioStorage::notRefused
                                    ? CasioStorage::refusalReason(refusal)
                                    : "it did not arrive whole";
        if (!Interruption::happened()) {
            Log::error((download.shown + ": not fetched: " + why).c_str());
        }
        return false;
    }
    return true;
}

bool fetchToFile(Socket* socket, const std::string& storage, const Download& download,
                 bool replace) {
    StagedFile file(download.target);
    return file.create() && fetch(socket, storage, download, file.stream()) && file.commit(replace);
}

} // namespace

int runGet(CommandContext& context) {
    const CommandLine& line = context.line;
    std::vector<Download> downloads;
    if (!plan(line, &downloads)) {
        return exitUsage;
    }
    const bool replace = line.has("overwrite");
    std::vector<Download> wanted;
    for (const Download& download : downloads) {
        if (targetIsFree(download, replace)) {
            wanted.push_back(download);
        }
    }
    bool allDone = wanted.size() == downloads.size();
    Socket* socket = wanted.empty() ? nullptr : context.openLink();
    if (!wanted.empty() && socket == nullptr) {
        return exitFailed;
    }
    const std::string storage = context.storage();
    for (const Download& download : wanted) {
        if (Interruption::happened()) {
            break;
        }
        const bool fetched = download.target == toStandardOutput
                                 ? fetch(socket, storage, download, stdout)
                                 : fetchToFile(socket, storage, download, replace);
        allDone = allDone && fetched;
    }
    return StandardOutput::finish() && allDone ? exitDone : exitFailed;
}
