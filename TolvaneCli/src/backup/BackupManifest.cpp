#include "BackupManifest.h"

#include "CalcPath.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace {

constexpr const char* formatName = "tolvane-backup";
constexpr const char* formatVersion = "1";
// The storage devices a backup holds files of: main memory's as one file of its items.
constexpr const char* backedUp[] = {"fls0", "crd0", CalcPath::mainMemory};

bool isBackedUp(const std::string& device) {
    return std::find(std::begin(backedUp), std::end(backedUp), device) != std::end(backedUp);
}

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == '\t') {
        fields.emplace_back();
    }
    return fields;
}

std::string record(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
        line += (line.empty() ? "" : "\t") + field;
    }
    return line + "\n";
}

// A count in decimal digits that fits 64 bits.
bool readCount(const std::string& text, uint64_t* count) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    *count = std::stoull(text);
    return true;
}

bool isDigest(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == text.npos;
}

// Reads the records in order, each checked against what came before it.
class Reader {
public:
    explicit Reader(BackupManifest* manifest) : manifest(manifest) {}

    // False, with `problem`, when the record can't be taken.
    bool take(const std::vector<std::string>& fields, std::string* problem) {
        if (fields.empty()) {
            return fail(problem, "is empty");
        }
        const std::string& kind = fields[0];
        if (ended) {
            return fail(problem, "comes after the end line");
        }
        if (!started) {
            started = true;
            if (kind != formatName || fields.size() != 2) {
                return fail(problem, "is not the start of a tolvane backup's manifest");
            }
            return fields[1] == formatVersion ||
                   fail(problem, "is of format " + fields[1] +
                                     ", which this tolvane does not read: use a newer one");
        }
        if (kind == "calculator" && fields.size() == 5) {
            return calculator(fields, problem);
        }
        if (kind == "date" && fields.size() == 2) {
            manifest->date = fields[1];
            return true;
        }
        if (kind == "storage" && fields.size() == 2) {
            return storage(fields[1], problem);
        }
        if (kind == "file" && fields.size() == 5) {
            return file(fields, problem);
        }
        if (kind == "item" && fields.size() == 4) {
            return item(fields, problem);
        }
        if (kind == "end" && fields.size() == 3) {
            return end(fields, problem);
        }
        return fail(problem, "is no record of a backup's manifest");
    }

    bool complete(std::string* problem) const {
        if (!ended) {
            *problem = "it is cut short: it has no end line";
            return false;
        }
        if (!seenCalculator) {
            *problem = "it names no calculator";
            return false;
        }
        return true;
    }

private:
    bool fail(std::string* problem, const std::string& why) const {
        *problem = why;
        return false;
    }

    bool calculator(const std::vector<std::string>& fields, std::string* problem) {
        if (seenCalculator) {
            return fail(problem, "names a second calculator");
        }
        seenCalculator = true;
        manifest->address = fields[1];
        manifest->kind = fields[2];
        manifest->product = fields[3];
        manifest->serial = fields[4];
        return true;
    }

    bool storage(const std::string& device, std::string* problem) {
        if (!isBackedUp(device)) {
            return fail(problem, "names the storage device '" + device +
                                     "', of which this tolvane backs nothing up");
        }
        if (std::count(manifest->devices.begin(), manifest->devices.end(), device) > 0) {
            return fail(problem, "names " + device + " a second time");
        }
        manifest->devices.push_back(device);
        return true;
    }

    bool file(const std::vector<std::string>& fields, std::string* problem) {
        StoredFile file{fields[1], fields[4], 0, fields[3]};
        CalcPath path;
        std::string why;
        if (manifest->devices.empty() || manifest->devices.back() != file.device) {
            return fail(problem, "is a file of " + file.device + " outside its storage's lines");
        }
        if (!readCount(fields[2], &file.size)) {
            return fail(problem, "gives no size in digits");
        }
        if (!isDigest(file.sha256)) {
            return fail(problem, "gives no SHA-256 in 64 lower-case hex digits");
        }
        if (!CalcPath::parse(file.name, &path, &why)) {
            return fail(problem, why);
        }
        if (file.device == CalcPath::mainMemory && file.name != BackupManifest::mainMemoryFile) {
            return fail(problem, std::string("names main memory's file other than ") +
                                     BackupManifest::mainMemoryFile);
        }
        if (!paths.insert(file.path()).second) {
            return fail(problem, "names " + file.path() + " a second time");
        }
        manifest->files.push_back(file);
        return true;
    }

    // An item of main memory's file, which comes just before.
    bool item(const std::vector<std::string>& fields, std::string* problem) {
        StoredItem item{fields[3], 0};
        CalcPath path;
        std::string why;
        if (fields[1] != CalcPath::mainMemory || manifest->files.empty() ||
            manifest->files.back().device != CalcPath::mainMemory) {
            return fail(problem, "is an item outside main memory's lines");
        }
        if (!readCount(fields[2], &item.size)) {
            return fail(problem, "gives no size in digits");
        }
        if (!CalcPath::parseItem(item.path, &path, &why) || path.type < 0 ||
            path.directory.empty() || path.folder.empty()) {
            return fail(problem, "gives no item's whole path, GROUP/DIRECTORY/NAME#TT");
        }
        if (!paths.insert("main/" + item.path).second) {
            return fail(problem, "names " + item.path + " a second time");
        }
        manifest->items.push_back(item);
        return true;
    }

    bool end(const std::vector<std::string>& fields, std::string* problem) {
        uint64_t files = 0;
        uint64_t bytes = 0;
        ended = true;
        if (!readCount(fields[1], &files) || !readCount(fields[2], &bytes)) {
            return fail(problem, "gives no counts in digits");
        }
        if (files != manifest->files.size() || bytes != manifest->bytes()) {
            return fail(problem, "counts " + fields[1] + " files of " + fields[2] +
                                     " bytes, and the lines before it " +
                                     std::to_string(manifest->files.size()) + " of " +
                                     std::to_string(manifest->bytes()));
        }
        return true;
    }

    BackupManifest* manifest;
    std::set<std::string> paths;
    bool started = false;
    bool seenCalculator = false;
    bool ended = false;
};

} // namespace

uint64_t BackupManifest::bytes() const {
    uint64_t total = 0;
    for (const StoredFile& file : files) {
        total += file.size;
    }
    return total;
}

std::string BackupManifest::text() const {
    std::string text = record({formatName, formatVersion}) +
                       record({"calculator", address, kind, product, serial}) +
                       record({"date", date});
    for (const std::string& device : devices) {
        text += record({"storage", device});
        for (const StoredFile& file : files) {
            if (file.device == device) {
                text += record({"file", device, std::to_string(file.size), file.sha256, file.name});
            }
        }
        for (const StoredItem& item : device == CalcPath::mainMemory ? items
                                                                       : std::vector<StoredItem>{}) {
            text += record({"item", device, std::to_string(item.size), item.path});
        }
    }
    return text + record({"end", std::to_string(files.size()), std::to_string(bytes())});
}

bool BackupManifest::parse(const std::string& text, BackupManifest* manifest,
                           std::string* problem) {
    *manifest = BackupManifest();
    Reader reader(manifest);
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        std::string why;
        if (!reader.take(fieldsOf(line), &why)) {
            *problem = "line " + std::to_string(number) + " " + why;
            return false;
        }
    }
    if (!text.empty() && text.back() != '\n') {
        *problem = "it is cut short: its last line has no end";
        return false;
    }
    return reader.complete(problem);
}
