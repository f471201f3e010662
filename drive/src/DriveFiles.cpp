#include "DriveFiles.h"

#include "LinkInterrupt.h"
#include "Log.h"
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

constexpr size_t chunkSize = 64 * 1024;
// The calculator's main memory, copied there when its USB mode starts and read back (so it
// is said) when it ends: tolvane reads it but never changes it.
constexpr const char mainMemory[] = "@MainMem";

void error(const std::string& text) {
    Log::error(text.c_str());
}

std::string reason() {
    return strerror(errno);
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

// The names in a folder that a listing shows, sorted; false when it cannot be read.
bool namesIn(const std::string& folder, std::vector<std::string>* names) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') {
            names->push_back(entry->d_name);
        }
    }
    const bool read = errno == 0;
    closedir(directory);
    std::sort(names->begin(), names->end());
    return read;
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

bool split(const std::string& name, std::string* folder, std::string* file) {
    const size_t slash = name.find('/');
    *folder = slash == std::string::npos ? "" : name.substr(0, slash);
    *file = slash == std::string::npos ? name : name.substr(slash + 1);
    return isPlainName(*file) && (slash == std::string::npos || isPlainName(*folder));
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

bool writeAll(int descriptor, const unsigned char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = write(descriptor, bytes, count);
        if (written < 0 && errno == EINTR && !LinkInterrupt::requested()) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

bool DriveFiles::list(std::vector<DriveFile>* files) const {
    std::vector<std::string> names;
    if (!namesIn(root, &names)) {
        error("Can't list the files of the calculator's drive at " + root + " (" + reason() + ")");
        return false;
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
        if (!namesIn(root + "/" + folder, &inside)) {
            error("Can't list the files of " + folder + " (" + reason() + ")");
            return false;
        }
        for (const std::string& name : inside) {
            if (kindOf(root + "/" + folder + "/" + name, &size) == Kind::File) {
                files->push_back({folder + "/" + name, size});
            }
        }
    }
    return true;
}

bool DriveFiles::space(DriveSpace* space) const {
    struct statvfs status;
    if (statvfs(root.c_str(), &status) != 0) {
        error("Can't tell the free space of the calculator's drive (" + reason() + ")");
        return false;
    }
    space->total = static_cast<uint64_t>(status.f_blocks) * status.f_frsize;
    space->free = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
    return true;
}

bool DriveFiles::find(const std::string& name, std::string* path, uint64_t* size) const {
    std::string folder;
    std::string file;
    if (!split(name, &folder, &file)) {
        return false;
    }
    std::string where = root;
    if (!folder.empty()) {
        const std::string actual = entryNamed(root, folder);
        if (actual.empty() || kindOf(root + "/" + actual) != Kind::Folder) {
            return false;
        }
        where += "/" + actual;
    }
    const std::string actual = entryNamed(where, file);
    *path = where + "/" + actual;
    return !actual.empty() && kindOf(*path, size) == Kind::File;
}

DriveFiles::Outcome DriveFiles::copyOut(const std::string& path, const std::string& name,
                                        const Sink& sink) const {
    const int source = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (source < 0) {
        error(name + ": not fetched: " + reason());
        return Outcome::Failed;
    }
    unsigned char buffer[chunkSize];
    Outcome outcome = Outcome::Done;
    while (outcome == Outcome::Done) {
        if (LinkInterrupt::requested()) {
            outcome = Outcome::Interrupted;
            break;
        }
        const ssize_t got = readSome(source, buffer, sizeof buffer);
        if (got < 0 && LinkInterrupt::requested()) {
            outcome = Outcome::Interrupted;
        } else if (got < 0) {
            error(name + ": not fetched: " + reason());
            outcome = Outcome::Failed;
        } else if (got == 0) {
            break;
        } else if (!sink(buffer, static_cast<size_t>(got))) {
            outcome = Outcome::Failed;
        }
    }
    close(source);
    return outcome;
}

// Nothing is written on a read-only drive, nor into the calculator's main memory.
bool DriveFiles::mayChange(const std::string& shown, const std::string& folder,
                           const char* what) const {
    if (readOnly) {
        error(shown + ": not " + what + ": the calculator's drive is mounted read-only at " + root);
        return false;
    }
    if (strcasecmp(folder.c_str(), mainMemory) == 0) {
        error(shown + ": not " + what + ": " + mainMemory +
              " is the calculator's main memory, which tolvane does not change through the "
              "drive");
        return false;
    }
    return true;
}

// Room for the whole file beside the one it replaces, which stays until the new one is in
// place, in whole clusters, and a cluster for a new folder.
bool DriveFiles::fits(const DriveUpload& upload, bool newFolder) const {
    struct statvfs status;
    if (statvfs(root.c_str(), &status) != 0) {
        error(upload.shown + ": not sent: can't tell the free space of the drive (" + reason() +
              ")");
        return false;
    }
    const uint64_t unit = status.f_frsize;
    const uint64_t free = static_cast<uint64_t>(status.f_bavail) * unit;
    const uint64_t needed = roundedUp(upload.size, unit) + (newFolder ? unit : 0);
    if (needed > free) {
        error(upload.shown + ": not sent: it needs " + std::to_string(needed) +
              " bytes on the calculator's drive, which has " + std::to_string(free) + " free");
        return false;
    }
    return true;
}

DriveFiles::Outcome DriveFiles::send(const DriveUpload& upload) {
    const std::string shown = upload.shown;
    if (!isPlainName(upload.name) || (!upload.folder.empty() && !isPlainName(upload.folder))) {
        error(shown + ": not sent: not a name for the calculator's drive");
        return Outcome::Failed;
    }
    if (!mayChange(shown, upload.folder, "sent")) {
        return Outcome::Failed;
    }
    std::string folder = root;
    if (!upload.folder.empty()) {
        const std::string actual = entryNamed(root, upload.folder);
        folder += "/" + (actual.empty() ? upload.folder : actual);
    }
    const Kind folderKind = kindOf(folder);
    if (folderKind != Kind::Missing && folderKind != Kind::Folder) {
        error(shown + ": not sent: " + upload.folder + " is no folder on the calculator");
        return Outcome::Failed;
    }
    const std::string existing = folderKind == Kind::Folder ? entryNamed(folder, upload.name) : "";
    if (!existing.empty() && !upload.replace) {
        error(shown + ": exists on the calculator; -w replaces it");
        return Outcome::Failed;
    }
    if (!existing.empty() && kindOf(folder + "/" + existing) != Kind::File) {
        error(shown + ": not sent: " + existing + " on the calculator is no file");
        return Outcome::Failed;
    }
    if (!fits(upload, folderKind == Kind::Missing)) {
        return Outcome::Failed;
    }
    const int source = open(upload.localPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        error(shown + ": not sent: " + reason());
        return Outcome::Failed;
    }
    // A file being replaced keeps the name it has, whatever its case.
    StagedDriveFile staged(folder, existing.empty() ? upload.name : existing, upload.replace);
    Outcome outcome = Outcome::Failed;
    if (!staged.create()) {
        error(shown + ": not sent: can't write on the calculator's drive (" + reason() + ")");
    } else {
        outcome = copy(source, staged.descriptor(), upload);
    }
    close(source);
    if (outcome == Outcome::Done && !staged.commit()) {
        error(errno == EEXIST ? shown + ": exists on the calculator; -w replaces it"
                              : shown + ": not sent: can't put it in place (" + reason() + ")");
        outcome = Outcome::Failed;
    }
    changes += outcome == Outcome::Done ? 1 : 0;
    return outcome;
}

// Exactly the size that was checked: a file that has grown or shrunk since is not sent.
DriveFiles::Outcome DriveFiles::copy(int source, int target, const DriveUpload& upload) const {
    unsigned char buffer[chunkSize];
    uint64_t copied = 0;
    bool grown = false;
    while (!grown) {
        if (LinkInterrupt::requested()) {
            return Outcome::Interrupted;
        }
        const ssize_t got = readSome(source, buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            return failedCopy(upload, "can't read it");
        }
        grown = copied + static_cast<uint64_t>(got) > upload.size;
        if (!grown && !writeAll(target, buffer, static_cast<size_t>(got))) {
            return failedCopy(upload, "can't write on the calculator's drive");
        }
        copied += static_cast<uint64_t>(got);
    }
    if (grown || copied != upload.size) {
        error(upload.shown + ": not sent: it has changed since it was checked");
        return Outcome::Failed;
    }
    return Outcome::Done;
}

// A read or write cut short by Ctrl-C is no failure of its own.
DriveFiles::Outcome DriveFiles::failedCopy(const DriveUpload& upload, const char* what) {
    if (LinkInterrupt::requested()) {
        return Outcome::Interrupted;
    }
    error(upload.shown + ": not sent: " + what + " (" + reason() + ")");
    return Outcome::Failed;
}

bool DriveFiles::remove(const std::string& name) {
    std::string folder;
    std::string file;
    if (!split(name, &folder, &file)) {
        error(name + ": not deleted: not a name on the calculator");
        return false;
    }
    std::string path;
    uint64_t size = 0;
    if (!mayChange(name, folder, "deleted")) {
        return false;
    }
    if (!find(name, &path, &size)) {
        error(name + ": not deleted: the calculator has no such file");
        return false;
    }
    if (unlink(path.c_str()) != 0) {
        error(name + ": not deleted: " + reason());
        return false;
    }
    ++changes;
    return true;
}
