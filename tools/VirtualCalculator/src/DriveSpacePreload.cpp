// Preloaded into the programs run on the virtual calculator: the free space of a drive
// calculator's folder is its capacity less the bytes stored in it, and a drive mounted
// read-only says so, as statvfs tells of a real one. The folder itself lies on the PC's own
// file system, whose free space means nothing to a calculator. Only libc is used here, so that
// any program can take it.
//
// VIRTUAL_CALCULATOR_DRIVES holds one line per drive: "CAPACITY READONLY FOLDER", the folder
// absolute and without links, READONLY 0 or 1.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <ftw.h>
#include <sys/statvfs.h>

namespace {

constexpr const char drivesVariable[] = "VIRTUAL_CALCULATOR_DRIVES";
constexpr int walkDescriptors = 16;

struct Drive {
    unsigned long long capacity;
    bool readOnly;
};

unsigned long long usedBytes = 0;

int addSize(const char* /*path*/, const struct stat* status, int type, struct FTW* /*walk*/) {
    if (type == FTW_F) {
        usedBytes += static_cast<unsigned long long>(status->st_size);
    }
    return 0;
}

// True when `path` is `folder` or lies below it.
bool isBelow(const char* path, const char* folder) {
    const size_t length = strlen(folder);
    return strncmp(path, folder, length) == 0 && (path[length] == '\0' || path[length] == '/');
}

// The drive whose folder holds `path`, if any.
bool driveOf(const char* path, Drive* drive, char* folder) {
    const char* lines = getenv(drivesVariable);
    char resolved[PATH_MAX];
    if (lines == nullptr || realpath(path, resolved) == nullptr) {
        return false;
    }
    for (const char* line = lines; *line != '\0';) {
        const char* end = strchr(line, '\n');
        const size_t length = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
        char entry[PATH_MAX + 64];
        int readOnly = 0;
        int consumed = 0;
        if (length < sizeof entry) {
            memcpy(entry, line, length);
            entry[length] = '\0';
            if (sscanf(entry, "%llu %d %n", &drive->capacity, &readOnly, &consumed) == 2 &&
                isBelow(resolved, entry + consumed)) {
                drive->readOnly = readOnly != 0;
                strcpy(folder, entry + consumed);
                return true;
            }
        }
        line += length + (end != nullptr ? 1 : 0);
    }
    return false;
}

// Counts in bytes (a fragment of one byte), so that the free space is exact.
template <typename Result> void describe(const char* path, Result* result) {
    Drive drive{};
    char folder[PATH_MAX];
    if (!driveOf(path, &drive, folder)) {
        return;
    }
    usedBytes = 0;
    nftw(folder, addSize, walkDescriptors, FTW_PHYS);
    const unsigned long long free = drive.capacity > usedBytes ? drive.capacity - usedBytes : 0;
    result->f_frsize = 1;
    result->f_blocks = drive.capacity;
    result->f_bfree = free;
    result->f_bavail = free;
    if (drive.readOnly) {
        result->f_flag |= ST_RDONLY;
    }
}

template <typename Result> int statOf(const char* name, const char* path, Result* result) {
    using Real = int (*)(const char*, Result*);
    const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, name));
    const int status = real != nullptr ? real(path, result) : -1;
    if (status == 0) {
        describe(path, result);
    }
    return status;
}

} // namespace

extern "C" int statvfs(const char* path, struct statvfs* result) {
    return statOf("statvfs", path, result);
}

extern "C" int statvfs64(const char* path, struct statvfs64* result) {
    return statOf("statvfs64", path, result);
}
