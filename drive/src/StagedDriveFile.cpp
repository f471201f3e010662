#include "StagedDriveFile.h"

#include "SafeRename.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Short and of a fixed length, as the file system of a calculator takes it.
constexpr const char temporaryName[] = ".tolvane-XXXXXX";

// The folder's own entry on the drive too, so that the new name survives a pulled cable.
void syncFolder(const std::string& folder) {
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        fsync(descriptor);
        close(descriptor);
    }
}

} // namespace

bool StagedDriveFile::create() {
    if (mkdir(folder.c_str(), 0755) == 0) {
        madeFolder = true;
    } else if (errno != EEXIST) {
        return false;
    }
    std::string pattern = folder + "/" + temporaryName;
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    file = mkostemp(path.data(), O_CLOEXEC);
    if (file < 0) {
        const int cause = errno;
        discard();
        errno = cause;
        return false;
    }
    temporary = path.data();
    return true;
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
        return false;
    }
    temporary.clear();
    madeFolder = false;
    syncFolder(folder);
    return true;
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
