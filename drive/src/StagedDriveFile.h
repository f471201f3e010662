#pragma once

#include <string>

// A file being written into a drive's tree: under a temporary name in its folder, and renamed
// to its name only once it is whole and on the drive, so that the calculator never finds half
// a file and a file being replaced stays whole until then. Whatever is not committed is
// removed, and so is a folder made for it that stayed empty. What a run that was killed left
// of its own (a power cut, SIGKILL) is removed from the folder by the next one that stages a
// file there, once it is older than any live run could be.
class StagedDriveFile {
public:
    // `folder` is a path in the mounted tree, made if missing; `name` the file's name in it.
    StagedDriveFile(std::string folder, std::string name, bool replace)
        : folder(std::move(folder)), name(std::move(name)), replace(replace) {}
    ~StagedDriveFile() { discard(); }

    StagedDriveFile(const StagedDriveFile&) = delete;
    StagedDriveFile& operator=(const StagedDriveFile&) = delete;

    // True, with errno set, when the temporary file cannot be made.
    bool create();
    int descriptor() const { return file; }
    // True, with errno set (EEXIST: a file of that name appeared meanwhile), when it could
    // not be put in place; the temporary file is gone either way.
    bool commit();
    void discard();

    // Whether `name` is one of the temporary names a staged file takes.
    static bool isTemporaryName(const char* name);

private:
    std::string folder;
    std::string name;
    bool replace;
    bool madeFolder = false;
    std::string temporary;
    int file = -1;
};
