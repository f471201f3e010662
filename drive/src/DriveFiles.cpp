#include "DriveFiles.h"

#include "LinkInterrupt.h"
#include "StagedDriveFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

using Outcome = DriveFiles::Outcome;

constexpr size_t chunkSize = 64 * 1024;
// The calculator's main memory, copied there when its USB mode starts and read back (so it
// is said) when it ends: tolvane reads it but never changes it.
constexpr const char mainMemory[] = "@MainMem";

// `text`, with the system's reason for the last failure; always true, for failing with.
bool fail(std::string* why, const std::string& text) {
    *why = text + " (" + strerror(errno) + ")";
    return true;
}

Outcome failed(std::string* why, const std::string& text) {
    fail(why, text);
    return Outcome::Failed;
}

enum class Kind { Missing, File, Folder, Other };

Kind kindOf(const std::string& path, uint64_t* size = nullptr) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
        return Kind::Missing;
    }
    if (size != nullptr) {
        *size = static_cast<uint64_t>(status.st_size);
    }
    return S_ISREG(status.st_mode)   ? Kind::File
           : S_ISDIR(status.st_mode) ? Kind::Folder
                                     : Kind::Other;
}

// The names in a folder that a listing shows, sorted; true when it cannot be read.
bool namesIn(const std::string& folder, std::vector<std::string>* names) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return true;
    }
    errno = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') {
            names->push_back(entry->d_name);
        }
    }
    const int cause = errno;
    closedir(directory);
    std::sort(names->begin(), names->end());
    errno = cause;
    return cause != 0;
}

// The entry of `folder` named `name`, ASCII case ignored; empty when there is none.
std::string entryNamed(const std::string& folder, const std::string& name) {
    if (kindOf(folder + "/" + name) != Kind::Missing) {
        return name;
    }
    std::vector<std::string> names;
    namesIn(folder, &names);
    for (const std::string& candidate : names) {
        if (strcasecmp(candidate.c_str(), name.c_str()) == 0) {
            return candidate;
        }
    }
    return "";
}

// A name on the calculator: FILE or FOLDER/FILE, each part a plain name of our own.
bool isPlainName(const std::string& part) {
    return !part.empty() && part[0] != '.' && part.find('/') == std::string::npos &&
           part.find('\0') == std::string::npos;
}

// True when `name` is no FILE or FOLDER/FILE.
bool split(const std::string& name, std::string* folder, std::string* file) {
    const size_t slash = name.find('/');
    *folder = slash == std::string::npos ? "" : name.substr(0, slash);
    *file = slash == std::string::npos ? name : name.substr(slash + 1);
    return !isPlainName(*file) || (slash != std::string::npos && !isPlainName(*folder));
}

uint64_t roundedUp(uint64_t bytes, uint64_t unit) {
    return unit == 0 ? bytes : (bytes + unit - 1) / unit * unit;
}

// Reads on through signals that do not interrupt the command.
ssize_t readSome(int descriptor, void* buffer, size_t count) {
    while (true) {
        const ssize_t got = read(descriptor, buffer, count);
        if (got >= 0 || errno != EINTR || LinkInterrupt::requested()) {
            return got;
        }
    }
}

// True when not all could be written.
bool writeAll(int descriptor, const unsigned char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = write(descriptor, bytes, count);
        if (written < 0 && errno == EINTR && !LinkInterrupt::requested()) {
            continue;
        }
        if (written <= 0) {
            return true;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return false;
}

// A read or write cut short by Ctrl-C is no failure of its own.
Outcome failedCopy(std::string* why, const char* what) {
    return LinkInterrupt::requested() ? Outcome::Interrupted : failed(why, what);
}

} // namespace

bool DriveFiles::list(std::vector<DriveFile>* files, std::string* why) const {
    std::vector<std::string> names;
    if (namesIn(root, &names)) {
        return fail(why, "can't read the calculator's drive at " + root);
    }
    std::vector<std::string> folders;
    uint64_t size = 0;
    for (const std::string& name : names) {
        const Kind kind = kindOf(root + "/" + name, &size);
        if (kind == Kind::File) {
            files->push_back({name, size});
        } else if (kind == Kind::Folder) {
            folders.push_back(name);
        }
    }
    for (const std::string& folder : folders) {
        std::vector<std::string> inside;
        if (namesIn(root + "/" + folder, &inside)) {
            return fail(why, "can't read the folder " + folder + " of the calculator's drive");
        }
        for (const std::string& name : inside) {
            if (kindOf(root + "/" + folder + "/" + name, &size) == Kind::File) {
                files->push_back({folder + "/" + name, size});
            }
        }
    }
    return false;
}

bool DriveFiles::space(DriveSpace* space, std::string* why) const {
    struct statvfs status;
    if (statvfs(root.c_str(), &status) != 0) {
        return fail(why, "can't tell the free space of the calculator's drive");
    }
    space->total = static_cast<uint64_t>(status.f_blocks) * status.f_frsize;
    space->free = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
    return false;
}

bool DriveFiles::find(const std::string& name, std::string* path, uint64_t* size) const {
    std::string folder;
    std::string file;
    if (split(name, &folder, &file)) {
        return true;
    }
    std::string where = root;
    if (!folder.empty()) {
        const std::string actual = entryNamed(root, folder);
        if (actual.empty() || kindOf(root + "/" + actual) != Kind::Folder) {
            return true;
        }
        where += "/" + actual;
    }
    const std::string actual = entryNamed(where, file);
    *path = where + "/" + actual;
    return actual.empty() || kindOf(*path, size) != Kind::File;
}

Outcome DriveFiles::copyOut(const std::string& name, const Sink& sink, std::string* why) const {
    std::string path;
    uint64_t size = 0;
    if (find(name, &path, &size)) {
        *why = "the calculator has no such file";
        return Outcome::Failed;
    }
    const int source = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (source < 0) {
        return failed(why, "can't read it on the calculator's drive");
    }
    unsigned char buffer[chunkSize];
    Outcome outcome = Outcome::Done;
    while (outcome == Outcome::Done) {
        if (LinkInterrupt::requested()) {
            outcome = Outcome::Interrupted;
            break;
        }
        const ssize_t got = readSome(source, buffer, sizeof buffer);
        if (got < 0) {
            outcome = failedCopy(why, "can't read it on the calculator's drive");
        } else if (got == 0) {
            break;
        } else if (sink(buffer, static_cast<size_t>(got))) {
            outcome = Outcome::Stopped;
        }
    }
    close(source);
    return outcome;
}

// Nothing is written on a read-only drive, nor into the calculator's main memory.
bool DriveFiles::mayChange(const std::string& folder, std::string* why) const {
    if (readOnly) {
        *why = "the calculator's drive is mounted read-only at " + root;
        return false;
    }
    if (strcasecmp(folder.c_str(), mainMemory) == 0) {
        *why = std::string(mainMemory) +
               " is the calculator's main memory, which tolvane does not change through the drive";
        return false;
    }
    return true;
}

// Room for the whole file beside the one it replaces, which stays until the new one is in
// place, in whole clusters, and a cluster for a new folder.
bool DriveFiles::fits(const DriveUpload& upload, bool newFolder, std::string* why) const {
    struct statvfs status;
    if (statvfs(root.c_str(), &status) != 0) {
        fail(why, "can't tell the free space of the calculator's drive");
        return false;
    }
    const uint64_t unit = status.f_frsize;
    const uint64_t free = static_cast<uint64_t>(status.f_bavail) * unit;
    const uint64_t needed = roundedUp(upload.size, unit) + (newFolder ? unit : 0);
    if (needed > free) {
        *why = "it needs " + std::to_string(needed) +
               " bytes on the calculator's drive, which has " + std::to_string(free) + " free";
        return false;
    }
    return true;
}

Outcome DriveFiles::send(const DriveUpload& upload, const Progress& progress, std::string* why) {
    if (!isPlainName(upload.name) || (!upload.folder.empty() && !isPlainName(upload.folder))) {
        *why = "not a name for the calculator's drive";
        return Outcome::Failed;
    }
    if (!mayChange(upload.folder, why)) {
        return Outcome::Failed;
    }
    std::string folder = root;
    if (!upload.folder.empty()) {
        const std::string actual = entryNamed(root, upload.folder);
        folder += "/" + (actual.empty() ? upload.folder : actual);
    }
    const Kind folderKind = kindOf(folder);
    if (folderKind != Kind::Missing && folderKind != Kind::Folder) {
        *why = upload.folder + " is no folder on the calculator";
        return Outcome::Failed;
    }
    const std::string existing = folderKind == Kind::Folder ? entryNamed(folder, upload.name) : "";
    if (!existing.empty() && !upload.replace) {
        return Outcome::Exists;
    }
    if (!existing.empty() && kindOf(folder + "/" + existing) != Kind::File) {
        *why = existing + " on the calculator is no file";
        return Outcome::Failed;
    }
    if (!fits(upload, folderKind == Kind::Missing, why)) {
        return Outcome::Failed;
    }
    const Outcome outcome = place(upload, folder, existing, progress, why);
    changes += outcome == Outcome::Done ? 1 : 0;
    return outcome;
}

// A file being replaced keeps the name it has, whatever its case.
Outcome DriveFiles::place(const DriveUpload& upload, const std::string& folder,
                          const std::string& existing, const Progress& progress, std::string* why) {
    const int source = open(upload.localPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        return failed(why, "can't read it");
    }
    StagedDriveFile staged(folder, existing.empty() ? upload.name : existing, upload.replace);
    Outcome outcome = staged.create() ? failed(why, "can't write on the calculator's drive")
                                      : copy(source, staged.descriptor(), upload, progress, why);
    close(source);
    if (outcome == Outcome::Done && staged.commit()) {
        outcome = errno == EEXIST ? Outcome::Exists
                                  : failed(why, "can't put it in place on the calculator's drive");
    }
    return outcome;
}

// Exactly the size that was checked: a file that has grown or shrunk since is not sent.
Outcome DriveFiles::copy(int source, int target, const DriveUpload& upload,
                         const Progress& progress, std::string* why) const {
    unsigned char buffer[chunkSize];
    uint64_t copied = 0;
    while (copied <= upload.size) {
        if (LinkInterrupt::requested()) {
            return Outcome::Interrupted;
        }
        const ssize_t got = readSome(source, buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            return failedCopy(why, "can't read it");
        }
        copied += static_cast<uint64_t>(got);
        if (copied <= upload.size && writeAll(target, buffer, static_cast<size_t>(got))) {
            return failedCopy(why, "can't write on the calculator's drive");
        }
        if (progress) {
            progress(std::min(copied, upload.size));
        }
    }
    if (copied != upload.size) {
        *why = "it has changed since it was checked";
        return Outcome::Failed;
    }
    return Outcome::Done;
}

bool DriveFiles::remove(const std::string& name, std::string* why) {
    std::string folder;
    std::string file;
    if (split(name, &folder, &file)) {
        *why = "not a name on the calculator";
        return true;
    }
    std::string path;
    uint64_t size = 0;
    if (!mayChange(folder, why)) {
        return true;
    }
    if (find(name, &path, &size)) {
        *why = "the calculator has no such file";
        return true;
    }
    if (unlink(path.c_str()) != 0) {
        return fail(why, "can't delete it on the calculator's drive");
    }
    ++changes;
    return false;
}
