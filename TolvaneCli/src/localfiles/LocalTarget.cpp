#include "LocalTarget.h"

#include "Log.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

bool refuse(const std::string& path, const std::string& why) {
    Log::error((path + ": " + why).c_str());
    return false;
}

// The file a path ends at, every link on the way followed.
bool resolve(const std::string& path, std::string* resolved) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return false;
    }
    *resolved = real;
    free(real);
    return true;
}

// The descriptor `path` names, as /dev/fd/N, /proc/self/fd/N or /dev/stdin, stdout, stderr do;
// -1 for any other path.
int descriptorNamed(const std::string& path) {
    static const char* const standard[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    for (int number = 0; number < 3; ++number) {
        if (path == standard[number]) {
            return number;
        }
    }
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::string digits =
            path.substr(0, prefix.size()) == prefix ? path.substr(prefix.size()) : "";
        if (!digits.empty() && digits.size() < 8 &&
            digits.find_first_not_of("0123456789") == std::string::npos) {
            return std::stoi(digits);
        }
    }
    return -1;
}

mode_t readUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Read while the program starts, before any thread: umask() sets it as it reads it.
const mode_t startingUmask = readUmask();

} // namespace

mode_t LocalTarget::usualMode() {
    return 0666 & ~startingUmask;
}

bool LocalTarget::isStandardOutput(const std::string& path) {
    return path == "-" || descriptorNamed(path) == 1;
}

bool LocalTarget::isFolder(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool LocalTarget::examine(const std::string& path, bool replace, LocalTarget* target) {
    target->shown = path;
    target->path = path;
    target->descriptor = descriptorNamed(path);
    if (target->descriptor >= 0) {
        target->way = Way::Direct;
        return true;
    }
    struct stat entry;
    if (lstat(path.c_str(), &entry) != 0) {
        if (errno == ENOENT) {
            target->way = Way::Staged;
            return true;
        }
        return refuse(path, std::string("can't examine it (") + strerror(errno) + ")");
    }
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        return refuse(path, "is a link to nothing; not writing through it");
    }
    if (S_ISDIR(status.st_mode)) {
        return refuse(path, "is a folder");
    }
    if (!S_ISREG(status.st_mode)) {
        target->way = Way::Direct;
        return true;
    }
    if (!replace) {
        return refuse(path, "exists; -w replaces it");
    }
    if (!resolve(path, &target->path)) {
        return refuse(path, std::string("can't follow it (") + strerror(errno) + ")");
    }
    target->way = Way::Staged;
    target->replaces = true;
    target->mode = status.st_mode & 07777;
    target->owner = status.st_uid;
    target->group = status.st_gid;
    return true;
}
