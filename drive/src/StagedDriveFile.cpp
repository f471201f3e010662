#include "StagedDriveFile.h"

#include "SafeRename.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Short and of a fixed length, as the file system of a calculator takes it.
constexpr const char temporaryName[] = ".tolvane-XXXXXX";
constexpr size_t temporaryStem = sizeof temporaryName - 1 - 6;
// A staged file is written chunk after chunk: one untouched this long belongs to no live run.
constexpr time_t staleAfterSeconds = 60 * 60;

// The folder's own entry on the drive too, so that the new name survives a pulled cable.
void syncFolder(const std::string& folder) {
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        fsync(descriptor);
        close(descriptor);
    }
}

// The temporary files of runs long gone, which nothing lists or deletes.
void removeStale(const std::string& folder) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return;
    }
    const time_t now = time(nullptr);
    while (const dirent* entry = readdir(directory)) {
        struct stat status;
        const std::string path = folder + "/" + entry->d_name;
        if (StagedDriveFile::isTemporaryName(entry->d_name) && lstat(path.c_str(), &status) == 0 &&
            S_ISREG(status.st_mode) && now - status.st_mtime > staleAfterSeconds) {
            unlink(path.c_str());
        }
    }
    closedir(directory);
}

} // namespace

bool StagedDriveFile::isTemporaryName(const char* name) {
    return strlen(name) == sizeof temporaryName - 1 &&
           strncmp(name, temporaryName, temporaryStem) == 0;
}

bool StagedDriveFile::create() {
    if (mkdir(folder.c_str(), 0755) == 0) {
        madeFolder = true;
    } else if (errno != EEXIST) {
        return true;
    } else {
        removeStale(folder);
    }
    std::string pattern = folder + "/" + temporaryName;
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    file = mkostemp(path.data(), O_CLOEXEC);
    if (file < 0) {
        const int cause = errno;
        discard();
        errno = cause;
        return true;
    }
    temporary = path.data();
    return false;
}

bool StagedDriveFile::commit() {
    const std::string target = folder + "/" + name;
    const bool written = fsync(file) == 0;
    const bool closed = close(file) == 0;
    file = -1;
    const int renamed = !written || !closed ? -1
                        : replace           ? rename(temporary.c_str(), target.c_str())
                                  : SafeRename::withoutReplacing(temporary.c_str(), target.c_str());
    if (renamed != 0) {
        const int cause = errno;
        discard();
        errno = cause;
        return true;
    }
    temporary.clear();
    madeFolder = false;
    syncFolder(folder);
    return false;
}

void StagedDriveFile::discard() {
    if (file >= 0) {
        close(file);
        file = -1;
    }
    if (!temporary.empty()) {
        unlink(temporary.c_str());
        temporary.clear();
    }
    if (madeFolder) {
        rmdir(folder.c_str());
        madeFolder = false;
    }
}
