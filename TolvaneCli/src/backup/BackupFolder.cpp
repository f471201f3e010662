#include "BackupFolder.h"

#include "Log.h"
#include "Sha256.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool complain(const std::string& path, const std::string& problem) {
    Log::error((path + ": " + problem).c_str());
    return false;
}

bool readText(const std::string& path, std::string* text) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    char chunk[65536];
    ssize_t got = 0;
    while ((got = read(descriptor, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
        text->append(chunk, got > 0 ? static_cast<size_t>(got) : 0);
    }
    const int error = errno;
    close(descriptor);
    errno = error;
    return got == 0;
}

// The SHA-256 of the file at `path`; empty, with errno, when it can't be read.
std::string digestOf(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return "";
    }
    Sha256 sum;
    unsigned char chunk[65536];
    ssize_t got = 0;
    while ((got = read(descriptor, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
        sum.add(chunk, got > 0 ? static_cast<size_t>(got) : 0);
    }
    const int error = errno;
    close(descriptor);
    errno = error;
    return got == 0 ? sum.hex() : "";
}

bool fileSound(const std::string& path, const StoredFile& file) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
        return complain(path, errno == ENOENT
                                  ? "missing from the backup"
                                  : std::string("can't examine it (") + strerror(errno) + ")");
    }
    if (!S_ISREG(status.st_mode)) {
        return complain(path, "is no regular file");
    }
    if (static_cast<uint64_t>(status.st_size) != file.size) {
        return complain(path, std::to_string(status.st_size) + " bytes, where the manifest says " +
                                  std::to_string(file.size));
    }
    const std::string digest = digestOf(path);
    if (digest.empty()) {
        return complain(path, std::string("can't read it (") + strerror(errno) + ")");
    }
    return digest == file.sha256 || complain(path, "damaged: its SHA-256 is not the manifest's");
}

} // namespace

std::string BackupFolder::pathOf(const std::string& folder, const StoredFile& file) {
    return folder + (folder.back() == '/' ? "" : "/") + file.path();
}

bool BackupFolder::check(const std::string& folder, BackupManifest* manifest) {
    const std::string manifestPath =
        folder + (folder.back() == '/' ? "" : "/") + BackupManifest::fileName;
    std::string text;
    std::string problem;
    if (!readText(manifestPath, &text)) {
        return complain(folder,
                        errno == ENOENT
                            ? "holds no backup: it has no MANIFEST (backup --all makes one "
                              "in each calculator's folder)"
                            : std::string("can't read its MANIFEST (") + strerror(errno) + ")");
    }
    if (!BackupManifest::parse(text, manifest, &problem)) {
        return complain(manifestPath, "damaged: " + problem);
    }
    bool sound = true;
    for (const StoredFile& file : manifest->files) {
        sound = fileSound(pathOf(folder, file), file) && sound;
    }
    return sound;
}
