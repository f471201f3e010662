#include "GetCommand.h"

#include "CasioDataPart.h"
#include "Interruption.h"
#include "Log.h"
#include "OutputFile.h"
#include "StandardOutput.h"
#include "TransferProgress.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

const CommandHelp getHelp = {
    "copy files, or main memory's items, from the calculator",
    "Copies each NAME (FILE or FOLDER/FILE on the calculator) into the current\n"
    "folder, under its calculator name. With -d main, each item (GROUP/NAME, as list\n"
    "-d main shows it) as a .g1m file of its own, NAME.g1m; with --whole, every item\n"
    "of main memory into one .g1m file, main-memory.g1m. A file lands whole or not at\n"
    "all; a local file is never replaced without -w. The other names are still\n"
    "fetched when one fails.",
    {storageOption,
     {'o', "output", "PATH",
      "where the file goes: a file, a folder, or -\nfor standard output; with several NAMEs,\n"
      "an existing folder"},
     {'w', "overwrite", nullptr, "replace local files of the same name"},
     {'\0', "whole", nullptr, "with -d main: every item, into one .g1m file"},
     noEjectOption}};

namespace {

// Passes the file's bytes on to a local file, or to standard output, as they arrive, with a
// progress line; a write that fails stops it, and says why.
class LocalSink final : public FileSink {
public:
    // `file` null: standard output.
    explicit LocalSink(FILE* file) : file(file) {}

    void announced(uint64_t size) override {
        if (size > 0) {
            progress = std::make_unique<TransferProgress>(
                CasioDataPart::partsFor(static_cast<long long>(size)), static_cast<int>(size));
        }
    }

    bool take(const unsigned char* bytes, size_t count) override {
        if (file == nullptr) {
            StandardOutput::write(bytes, count);
            if (StandardOutput::failed()) {
                return false;
            }
        } else if (fwrite(bytes, 1, count, file) != count) {
            writeError = errno;
            return false;
        }
        received += count;
        // The progress line counts parts of 256 bytes, whatever size of part the calculator
        // sends.
        if (progress) {
            progress->partSent(CasioDataPart::partsFor(static_cast<long long>(received)));
        }
        return true;
    }

    int writeError = 0;

private:
    FILE* file;
    std::unique_ptr<TransferProgress> progress;
    uint64_t received = 0;
};

// Where `get -d main --whole` puts main memory, without -o.
constexpr const char* wholeMemoryName = "main-memory.g1m";

using Fetch = std::function<Outcome(FileSink* sink, std::string* why)>;

// Fetches into the target, which takes the file whole or not at all.
Outcome fetchInto(const Fetch& fetch, const LocalTarget* target, std::string* why) {
    std::unique_ptr<OutputFile> file;
    if (target != nullptr) {
        file = std::make_unique<OutputFile>(*target);
        if (!file->create()) {
            return Outcome::Stopped;
        }
    }
    LocalSink sink(file ? file->stream() : nullptr);
    const Outcome outcome = fetch(&sink, why);
    if (outcome == Outcome::Stopped && sink.writeError != 0) {
        Log::error(
            (target->shown + ": can't write it (" + strerror(sink.writeError) + ")").c_str());
    }
    if (outcome == Outcome::Done && file && !file->commit()) {
        return Outcome::Stopped;
    }
    return outcome;
}

} // namespace

std::optional<int> GetCommand::check(const CommandLine& line) {
    output = line.value("output");
    if (line.has("output") && output.empty()) {
        Log::error("-o needs a path: a file, a folder, or - for standard output");
        return exitUsage;
    }
    toStandardOutput = line.has("output") && LocalTarget::isStandardOutput(output);
    intoFolder = !line.has("output") || LocalTarget::isFolder(output);
    if (line.operands().size() > 1 && !intoFolder) {
        Log::error("With several names, -o must name an existing folder");
        return exitUsage;
    }
    names = line.operands();
    whole = line.has("whole");
    const std::string device = line.value("storage", "fls0");
    if (const char* misuse = whole && device != CalcPath::mainMemory ? "--whole goes with -d main"
                             : whole && !names.empty()
                                 ? "--whole fetches every item: no NAME with it"
                             : !whole && names.empty() ? "get: missing NAME..."
                                                       : nullptr) {
        Log::error(misuse);
        return exitUsage;
    }
    if (!CalcPath::parseAll(names, device, &sources)) {
        return exitUsage;
    }
    // Two names of one file would land on the same target, the second over the first.
    std::map<std::string, std::string> landing;
    for (size_t i = 0; i < sources.size() && intoFolder; ++i) {
        const std::string target = sources[i].localName();
        const auto [first, isNew] = landing.emplace(target, names[i]);
        if (!isNew) {
            Log::error((names[i] + ": lands on the same file as " + first->second + ", " + target +
                        "; fetch it on its own")
                           .c_str());
            return exitFailed;
        }
    }
    replace = line.has("overwrite");
    return std::nullopt;
}

std::vector<GetCommand::Download> GetCommand::targets(const std::string& folder,
                                                      bool* allWritable) const {
    std::vector<Download> downloads;
    *allWritable = true;
    for (size_t i = 0; i < (whole ? 1 : sources.size()); ++i) {
        const std::string file = whole ? wholeMemoryName : sources[i].localName();
        const std::string inFolder = folder.empty() ? file : folder + "/" + file;
        Download download =
            whole ? Download{"main memory", {}, {}} : Download{names[i], sources[i], {}};
        if (!toStandardOutput &&
            !LocalTarget::examine(intoFolder ? inFolder : output, replace, &download.target)) {
            *allWritable = false;
            continue;
        }
        downloads.push_back(download);
    }
    return downloads;
}

int GetCommand::run(CommandContext& context) const {
    bool allDone = true;
    const std::string folder = !context.outputFolder.empty() ? context.outputFolder : output;
    const std::vector<Download> downloads = targets(intoFolder ? folder : "", &allDone);
    if (whole && !context.has(Capability::MainMemory)) {
        Log::error(context.lacking(Capability::MainMemory).c_str());
        return exitFailed;
    }
    CalcStorage* storage = downloads.empty() ? nullptr : context.storage();
    if (storage == nullptr) {
        return exitFailed;
    }
    const std::string device = context.device();
    for (const Download& download : downloads) {
        // Standard output's reader gone, nothing further is fetched for it.
        if (Interruption::happened() || StandardOutput::failed()) {
            allDone = false;
            break;
        }
        std::string why;
        const Fetch fetch = [&](FileSink* sink, std::string* reason) {
            return whole ? storage->fetchMainMemory(sink, reason)
                         : storage->fetch(device, download.source, sink, reason);
        };
        const Outcome outcome =
            fetchInto(fetch, toStandardOutput ? nullptr : &download.target, &why);
        if (outcome == Outcome::Failed || outcome == Outcome::LinkLost) {
            Log::error((download.shown + ": not fetched: " + why).c_str());
        }
        allDone = outcome == Outcome::Done && allDone;
    }
    return StandardOutput::finish() && allDone ? exitDone : exitFailed;
}
