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

} // namespace

bool LocalTarget::isFolder(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool LocalTarget::examine(const std::string& path, bool replace, LocalTarget* target) {
    target->shown = path;
    target->path = path;
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
