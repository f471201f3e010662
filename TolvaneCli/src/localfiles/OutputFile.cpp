#include "OutputFile.h"

#include "Log.h"
#include "SafeRename.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Short and of a fixed length, so that any name the file system takes can be staged.
constexpr const char* temporaryName = ".tolvane-XXXXXX";

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool OutputFile::create() {
    return target.way == LocalTarget::Way::Direct ? createDirect() : createStaged();
}

bool OutputFile::createStaged() {
    std::string pattern = folderOf(target.path) + "/" + temporaryName;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0) {
        return fail("can't create a file beside it");
    }
    temporary = name.data();
    if (keepAttributes(descriptor)) {
        close(descriptor);
        return fail("can't give the new file the permissions of the old");
    }
    file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        close(descriptor);
        return fail("can't write beside it");
    }
    return true;
}

bool OutputFile::createDirect() {
    const int descriptor = target.descriptor >= 0
                               ? fcntl(target.descriptor, F_DUPFD_CLOEXEC, 0)
                               : open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        return fail("can't write to it");
    }
    file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        close(descriptor);
        return fail("can't write to it");
    }
    return true;
}

// A replaced file keeps its permission bits (a private file stays private) and, where we may
// give it away, its owner; a new one gets the usual permissions. True on failure.
bool OutputFile::keepAttributes(int descriptor) {
    if (!target.replaces) {
        return fchmod(descriptor, LocalTarget::usualMode()) != 0;
    }
    const bool foreign = target.owner != geteuid() || target.group != getegid();
    if (foreign && geteuid() == 0 && fchown(descriptor, target.owner, target.group) != 0) {
        return true;
    }
    return fchmod(descriptor, target.mode) != 0;
}

// On disk before it takes the target's name: a crash leaves the old file or the new one.
bool OutputFile::finishWriting() {
    const bool direct = target.way == LocalTarget::Way::Direct;
    const bool written = fflush(file) == 0 && (direct || fsync(fileno(file)) == 0);
    const bool closed = fclose(file) == 0;
    file = nullptr;
    return (written && closed) || fail("can't write it");
}

bool OutputFile::commit() {
    if (!finishWriting()) {
        return false;
    }
    if (target.way == LocalTarget::Way::Direct) {
        return true;
    }
    const int renamed = target.replaces
                            ? rename(temporary.c_str(), target.path.c_str())
                            : SafeRename::withoutReplacing(temporary.c_str(), target.path.c_str());
    if (renamed != 0) {
        return fail(errno == EEXIST ? "exists; -w replaces it" : "can't put it in place");
    }
    temporary.clear();
    return true;
}

bool OutputFile::commitFresh(const std::string& stem, const std::string& extension,
                             std::string* placed) {
    if (!finishWriting()) {
        return false;
    }
    for (int number = 1;; ++number) {
        *placed = stem + (number > 1 ? "-" + std::to_string(number) : "") + extension;
        if (SafeRename::withoutReplacing(temporary.c_str(), placed->c_str()) == 0) {
            temporary.clear();
            return true;
        }
        if (errno != EEXIST) {
            target.shown = *placed;
            return fail("can't put it in place");
        }
    }
}

void OutputFile::discard() {
    if (file != nullptr) {
        fclose(file);
        file = nullptr;
    }
    if (!temporary.empty()) {
        unlink(temporary.c_str());
        temporary.clear();
    }
}

bool OutputFile::fail(const std::string& what) {
    const std::string reason =
        errno != 0 && errno != EEXIST ? std::string(" (") + strerror(errno) + ")" : "";
    Log::error((target.shown + ": " + what + reason).c_str());
    discard();
    return false;
}
