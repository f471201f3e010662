#include "StagedFile.h"

#include "Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The permissions a file created the usual way would get.
mode_t usualMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Renames without replacing; where the file system cannot promise that, looks first.
int renameWithoutReplacing(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    if (access(to, F_OK) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from, to);
}

} // namespace

bool StagedFile::create() {
    std::string pattern = folderOf(target) + "/." + nameOf(target) + ".tolvane-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        return fail("can't create a file beside it");
    }
    temporary = name.data();
    fchmod(descriptor, usualMode());
    file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        close(descriptor);
        return fail("can't write beside it");
    }
    return true;
}

bool StagedFile::commit(bool replace) {
    // On disk before it takes the target's name: a crash leaves the old file or the new one.
    const bool written = fflush(file) == 0 && fsync(fileno(file)) == 0;
    const bool closed = fclose(file) == 0;
    file = nullptr;
    if (!written || !closed) {
        return fail("can't write it");
    }
    const int renamed = replace ? rename(temporary.c_str(), target.c_str())
                                : renameWithoutReplacing(temporary.c_str(), target.c_str());
    if (renamed != 0) {
        return fail(errno == EEXIST ? "exists; -w replaces it" : "can't put it in place");
    }
    temporary.clear();
    return true;
}

void StagedFile::discard() {
    if (file != nullptr) {
        fclose(file);
        file = nullptr;
    }
    if (!temporary.empty()) {
        unlink(temporary.c_str());
        temporary.clear();
    }
}

bool StagedFile::fail(const std::string& what) {
    const std::string reason =
        errno != 0 && errno != EEXIST ? std::string(" (") + strerror(errno) + ")" : "";
    Log::error((target + ": " + what + reason).c_str());
    discard();
    return false;
}
