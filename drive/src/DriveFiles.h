#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A file on a drive calculator, as `list` shows it.
struct DriveFile {
    std::string name; // "FILE", or "FOLDER/FILE" for a file in a folder
    uint64_t size = 0;
};

// The size of a drive calculator's file system and the bytes still free on it.
struct DriveSpace {
    uint64_t total = 0;
    uint64_t free = 0;
};

// A file to put on a drive calculator.
struct DriveUpload {
    std::string localPath;
    std::string shown;  // for messages: the path as the user gave it
    uint64_t size = 0;  // as checked beforehand: a file that has changed is not sent
    std::string folder; // on the calculator; empty: the root
    std::string name;   // on the calculator
    bool replace = false;
};

// The files of a drive calculator's mounted tree, as a link calculator's storage shows them:
// in the root and in folders one level down. Names are found ignoring ASCII case, as the
// calculator's FAT file system does. Names starting with '.' (what computers leave on a drive,
// and our own temporary files) are neither listed nor found. Each operation says why it failed.
class DriveFiles {
public:
    enum class Outcome { Done, Failed, Interrupted };
    // Takes the bytes of a file, a chunk at a time; false to stop.
    using Sink = std::function<bool(const unsigned char* bytes, size_t count)>;

    // The tree mounted at `root`; `readOnly`: nothing may be written or deleted.
    DriveFiles(std::string root, bool readOnly) : root(std::move(root)), readOnly(readOnly) {}

    // The root's files by name, then each folder's by folder and name. False, after saying
    // why, when the tree cannot be read.
    bool list(std::vector<DriveFile>* files) const;
    // False, after saying why, when it cannot tell.
    bool space(DriveSpace* space) const;
    // Where the file NAME ("FILE" or "FOLDER/FILE") is in the tree, and its size. False when
    // there is no such file (nothing is said).
    bool find(const std::string& name, std::string* path, uint64_t* size) const;
    // The bytes of the file at `path` (as `find` gives it), to `sink`; `name` for messages.
    Outcome copyOut(const std::string& path, const std::string& name, const Sink& sink) const;
    // Stages the local file into the tree (see StagedDriveFile), after checking that it may
    // go there and fits. Interrupted (LinkInterrupt) between chunks: nothing is left behind.
    Outcome send(const DriveUpload& upload);
    // Deletes the file NAME.
    bool remove(const std::string& name);

    // A file was written or deleted: the drive must be ejected for the calculator to see it.
    bool changed() const { return changes > 0; }

private:
    bool mayChange(const std::string& shown, const std::string& folder, const char* what) const;
    bool fits(const DriveUpload& upload, bool newFolder) const;
    Outcome copy(int source, int target, const DriveUpload& upload) const;
    static Outcome failedCopy(const DriveUpload& upload, const char* what);

    std::string root;
    bool readOnly;
    int changes = 0;
};
