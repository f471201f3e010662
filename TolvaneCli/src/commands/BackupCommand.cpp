#include "BackupCommand.h"

#include "CalcFinder.h"
#include "CasioDataPart.h"
#include "CasioMainMemory.h"
#include "G1mFile.h"
#include "Interruption.h"
#include "LocalTarget.h"
#include "Log.h"
#include "OutputFile.h"
#include "Sha256.h"
#include "StagedFolder.h"
#include "StandardOutput.h"
#include "TransferProgress.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

const CommandHelp backupHelp = {
    "copy everything the calculator holds into a folder",
    "Copies every file of every storage device of the calculator (fls0, and crd0\n"
    "when an SD card is in), every item of its main memory as one .g1m file, what\n"
    "info tells (info.txt) and a MANIFEST of each file's size and SHA-256, in one\n"
    "session, into a fresh folder backup-SERIAL-YYYYMMDD-HHMMSS here, or DIR, and\n"
    "prints its name. The folder appears only once everything has arrived whole: a\n"
    "backup cut short leaves nothing. With --all, each calculator's goes into\n"
    "DIR/ADDRESS.",
    {{'o', "output", "DIR",
      "the backup's folder, new, or an existing folder\nto make a fresh one in; with --all, an\n"
      "existing folder"},
     noEjectOption}};

namespace {

constexpr const char* infoName = "info.txt";
// How many missing files a message names before it counts the rest.
constexpr size_t namedAtMost = 10;

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : slash == 0 ? "/" : path.substr(0, slash);
}

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// Now, in local time, as `format` (strftime) writes it.
std::string now(const char* format) {
    const std::time_t clock = std::time(nullptr);
    std::tm local{};
    localtime_r(&clock, &local);
    char text[64];
    strftime(text, sizeof text, format, &local);
    return text;
}

// backup-SERIAL-YYYYMMDD-HHMMSS (the address where there is no serial), in `parent`.
std::string freshStem(const std::string& parent, const CalcDescription& calculator) {
    std::string who = calculator.serial[0] != '\0' ? calculator.serial : calculator.address;
    for (char& character : who) {
        if (!isalnum(static_cast<unsigned char>(character)) && character != '-' &&
            character != '.') {
            character = '_';
        }
    }
    const std::string stem = "backup-" + who + now("-%Y%m%d-%H%M%S");
    return parent.empty() ? stem : parent + (parent.back() == '/' ? "" : "/") + stem;
}

// A local file of the staged folder, at `relative` in it, written whole from `text`.
bool writeText(StagedFolder& staged, const std::string& relative, const std::string& text) {
    LocalTarget target;
    target.shown = relative;
    target.path = staged.path() + "/" + relative;
    OutputFile file(target);
    if (!file.create()) {
        return false;
    }
    if (fwrite(text.data(), 1, text.size(), file.stream()) != text.size()) {
        Log::error((relative + ": can't write it (" + strerror(errno) + ")").c_str());
        return false;
    }
    return file.commit();
}

bool writeInfo(CalcStorage* storage, StagedFolder& staged) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::string why;
    if (!storage->describe(&fields, &why)) {
        Log::error(("Can't read what the calculator is: " + why).c_str());
        return false;
    }
    std::string text;
    for (const auto& [label, value] : fields) {
        text += label + ": " + value + "\n";
    }
    return writeText(staged, infoName, text);
}

// Every name listed can be a file in the backup and on a calculator again; false after naming
// each that can't.
bool namesFit(const CalcContents& contents) {
    bool fit = true;
    for (const StoredFile& file : contents.files) {
        CalcPath path;
        std::string problem;
        if (!CalcPath::parse(file.name, &path, &problem)) {
            Log::error((file.device + "/" + CalcPath::printable(file.name) +
                        ": can't be backed up: its name is no file name on this machine")
                           .c_str());
            fit = false;
        }
    }
    return fit;
}

// The files of `contents` from `from` on, for a message: the first few by name, then a count.
std::string missingFrom(const CalcContents& contents, size_t from) {
    const size_t missing = contents.files.size() - from;
    std::string text = std::to_string(missing) + " of " + std::to_string(contents.files.size()) +
                       " files missing (";
    for (size_t k = from; k < contents.files.size() && k < from + namedAtMost; ++k) {
        text += (k > from ? ", " : "") + contents.files[k].path();
    }
    if (missing > namedAtMost) {
        text += ", and " + std::to_string(missing - namedAtMost) + " more";
    }
    return text + ")";
}

// Items travel in whole words: one the listing gave padded is the same item.
bool sameSize(uint64_t listed, uint64_t held) {
    return listed == held || listed == CasioMainMemory::paddedSize(static_cast<uint32_t>(held));
}

// Writes what the calculator sends into the backup's file as it arrives, summing it up, with the
// whole backup's progress; a write that fails stops it.
class BackupSink final : public FileSink {
public:
    BackupSink(FILE* file, TransferProgress& progress, int partsBefore)
        : file(file), progress(progress), partsBefore(partsBefore) {}

    void announced(uint64_t /*size*/) override {}

    bool take(const unsigned char* bytes, size_t count) override {
        if (fwrite(bytes, 1, count, file) != count) {
            writeError = errno;
            return false;
        }
        sum.add(bytes, count);
        received += count;
        progress.partSent(partsBefore + CasioDataPart::partsFor(static_cast<long long>(received)));
        return true;
    }

    Sha256 sum;
    uint64_t received = 0;
    int writeError = 0;

private:
    FILE* file;
    TransferProgress& progress;
    int partsBefore;
};

} // namespace

std::optional<int> BackupCommand::check(const CommandLine& line) {
    output = line.value("output");
    if (line.has("output") && output.empty()) {
        Log::error("-o needs a folder");
        return exitUsage;
    }
    intoFolder = !line.has("output") || LocalTarget::isFolder(output);
    if (line.has("all") || intoFolder) {
        return std::nullopt;
    }
    if (exists(output)) {
        Log::error((output + ": exists, and is no folder to make the backup in").c_str());
        return exitFailed;
    }
    if (!folderOf(output).empty() && !LocalTarget::isFolder(folderOf(output))) {
        Log::error((output + ": no folder " + folderOf(output) + " to make it in").c_str());
        return exitFailed;
    }
    return std::nullopt;
}

// With --all, the folder of the calculator's own; else -o's, or a fresh one.
BackupCommand::Destination BackupCommand::destinationOf(const CommandContext& context) const {
    if (!context.outputFolder.empty()) {
        return {folderOf(context.outputFolder), context.outputFolder};
    }
    return intoFolder ? Destination{output, ""} : Destination{folderOf(output), output};
}

int BackupCommand::run(CommandContext& context) const {
    const Destination destination = destinationOf(context);
    if (!destination.target.empty() && exists(destination.target)) {
        Log::error((destination.target + ": exists; a backup goes into a new folder").c_str());
        return exitFailed;
    }
    StagedFolder staged;
    if (!staged.create(destination.parent)) {
        return exitFailed;
    }
    CalcStorage* storage = context.storage();
    if (storage == nullptr) {
        return exitFailed;
    }
    if (!fill(storage, context.calculator, staged)) {
        return exitFailed;
    }
    std::string placed = destination.target;
    const bool committed =
        destination.target.empty()
            ? staged.commitFresh(freshStem(destination.parent, context.calculator), &placed)
            : staged.commit(destination.target);
    if (!committed) {
        return exitFailed;
    }
    StandardOutput::printLine(placed);
    return StandardOutput::finish() ? exitDone : exitFailed;
}

// Fills the staged folder: info.txt, each storage device's files, and last the manifest.
bool BackupCommand::fill(CalcStorage* storage, const CalcDescription& calculator,
                         StagedFolder& staged) const {
    BackupManifest manifest;
    manifest.address = calculator.address;
    manifest.kind = CalcFinder::kindName(calculator.kind);
    manifest.product = calculator.product;
    manifest.serial = calculator.serial;
    manifest.date = now("%Y-%m-%dT%H:%M:%S%z");
    CalcContents contents;
    if (!contents.read(storage) || !namesFit(contents) || !writeInfo(storage, staged)) {
        Log::error("No backup made: nothing of it is kept");
        return false;
    }
    if (storage->has(Capability::SdCard) && !contents.holds("crd0")) {
        Log::info("crd0: the calculator has no SD card in it, nothing to back up there");
    }
    manifest.devices = contents.devices;
    return fetchAll(storage, contents, staged, &manifest) &&
           writeText(staged, BackupManifest::fileName, manifest.text());
}

bool BackupCommand::fetchAll(CalcStorage* storage, const CalcContents& contents,
                             StagedFolder& staged, BackupManifest* manifest) const {
    int partCount = 0;
    long long bytes = 0;
    for (const StoredFile& file : contents.files) {
        partCount += CasioDataPart::partsFor(static_cast<long long>(file.size));
        bytes += static_cast<long long>(file.size);
    }
    for (const StoredItem& item : contents.items) {
        partCount += CasioDataPart::partsFor(static_cast<long long>(item.size));
        bytes += static_cast<long long>(item.size);
    }
    TransferProgress progress(partCount, bytes, "Backup  ");
    int partsBefore = 0;
    for (size_t k = 0; k < contents.files.size(); ++k) {
        StoredFile file = contents.files[k];
        if (Interruption::happened() ||
            !fetchOne(storage, file, staged, progress, partsBefore, &file.sha256)) {
            Log::error(("No backup made: " + missingFrom(contents, k) + "; nothing of it is kept")
                           .c_str());
            return false;
        }
        manifest->files.push_back(file);
        partsBefore += CasioDataPart::partsFor(static_cast<long long>(file.size));
    }
    if (contents.holdsItems &&
        (Interruption::happened() ||
         !fetchMainMemory(storage, contents, staged, progress, partsBefore, manifest))) {
        Log::error("No backup made: main memory's items missing; nothing of it is kept");
        return false;
    }
    return true;
}

// Main memory's items, into one .g1m file of the backup, each as the listing gave it.
bool BackupCommand::fetchMainMemory(CalcStorage* storage, const CalcContents& contents,
                                    StagedFolder& staged, TransferProgress& progress,
                                    int partsBefore, BackupManifest* manifest) const {
    StoredFile file{CalcPath::mainMemory, BackupManifest::mainMemoryFile, 0, ""};
    if (!staged.makeFolder(file.device)) {
        return false;
    }
    LocalTarget target;
    target.shown = file.path();
    target.path = staged.path() + "/" + file.path();
    OutputFile local(target);
    if (!local.create()) {
        return false;
    }
    BackupSink sink(local.stream(), progress, partsBefore);
    std::string why;
    const Outcome outcome = storage->fetchMainMemory(&sink, &why);
    if (outcome == Outcome::Stopped && sink.writeError != 0) {
        Log::error((file.path() + ": can't write it (" + strerror(sink.writeError) + ")").c_str());
    } else if (outcome == Outcome::Failed || outcome == Outcome::LinkLost) {
        Log::error(("main memory: not fetched: " + why).c_str());
    }
    if (outcome != Outcome::Done || !local.commit()) {
        return false;
    }
    file.size = sink.received;
    file.sha256 = sink.sum.hex();
    manifest->devices.push_back(file.device);
    manifest->files.push_back(file);
    return itemsAsListed(target.path, contents, &manifest->items);
}

// The items of the fetched file, which must be those listed, each of its listed size.
bool BackupCommand::itemsAsListed(const std::string& path, const CalcContents& contents,
                                  std::vector<StoredItem>* items) const {
    std::vector<MemoryItem> fetched;
    std::string problem;
    if (!G1mFile::read(path, &fetched, &problem)) {
        Log::error(("main memory: what came is no sound .g1m file: " + problem).c_str());
        return false;
    }
    for (const MemoryItem& item : fetched) {
        items->push_back({CalcPath::itemText(item.group, item.directory, item.name, item.type,
                                             CalcPath::Detail::DirectoryAndType),
                          item.size});
        const StoredItem* listed = contents.find(items->back());
        if (listed == nullptr || !sameSize(listed->size, item.size)) {
            Log::error(("main memory: " + CalcPath::printable(items->back().path) +
                        " came other than the calculator listed it")
                           .c_str());
            return false;
        }
    }
    if (items->size() != contents.items.size()) {
        Log::error(("main memory: " + std::to_string(items->size()) + " items came, of " +
                    std::to_string(contents.items.size()) + " listed")
                       .c_str());
        return false;
    }
    return true;
}

// The file into the staged folder, under its device and name, whole and of the size listed.
bool BackupCommand::fetchOne(CalcStorage* storage, const StoredFile& file, StagedFolder& staged,
                             TransferProgress& progress, int partsBefore,
                             std::string* digest) const {
    CalcPath path;
    std::string why;
    CalcPath::parse(file.name, &path, &why);
    if (!staged.makeFolder(path.folder.empty() ? file.device : file.device + "/" + path.folder)) {
        return false;
    }
    LocalTarget target;
    target.shown = file.path();
    target.path = staged.path() + "/" + file.path();
    OutputFile local(target);
    if (!local.create()) {
        return false;
    }
    BackupSink sink(local.stream(), progress, partsBefore);
    const Outcome outcome = storage->fetch(file.device, path, &sink, &why);
    if (outcome == Outcome::Stopped && sink.writeError != 0) {
        Log::error((file.path() + ": can't write it (" + strerror(sink.writeError) + ")").c_str());
    } else if (outcome == Outcome::Failed || outcome == Outcome::LinkLost) {
        Log::error((file.path() + ": not fetched: " + why).c_str());
    } else if (outcome == Outcome::Done && sink.received != file.size) {
        Log::error((file.path() + ": not backed up: " + std::to_string(sink.received) +
                    " bytes came, where the listing said " + std::to_string(file.size))
                       .c_str());
        return false;
    }
    if (outcome != Outcome::Done || !local.commit()) {
        return false;
    }
    *digest = sink.sum.hex();
    return true;
}
