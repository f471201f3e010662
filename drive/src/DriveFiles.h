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
    uint64_t size = 0;  // as checked beforehand: a file that has changed is not sent
    std::string folder; // on the calculator; empty: the root
    std::string name;   // on the calculator
    bool replace = false;
};

// The files of a drive calculator's mounted tree, as a link calculator's storage shows them:
// in the root and in folders one level down. Names are found ignoring ASCII case, as the
// calculator's FAT file system does. Names starting with '.' (what computers leave on a drive,
// and our own temporary files) are neither listed nor found. Like the library, every operation
// returns true on failure (or an Outcome), with `why` saying why in words for a user; the
// caller names the file.
class DriveFiles {
public:
    enum class Outcome {
        Done,
        Failed,      // `why` says why
        Exists,      // a file of that name is there, and replacing it was not asked for
        Stopped,     // the sink took no more, and says why itself
        Interrupted, // LinkInterrupt, between chunks: nothing is left behind
    };
    // Takes the bytes of a file, a chunk at a time; true when it takes no more.
    using Sink = std::function<bool(const unsigned char* bytes, size_t count)>;
    // Told of the bytes copied so far.
    using Progress = std::function<void(uint64_t copied)>;

    // The tree mounted at `root`; `readOnly`: nothing may be written or deleted.
    DriveFiles(std::string root, bool readOnly) : root(std::move(root)), readOnly(readOnly) {}

    // The root's files by name, then each folder's by folder and name.
    bool list(std::vector<DriveFile>* files, std::string* why) const;
    bool space(DriveSpace* space, std::string* why) const;
    // Where the file NAME ("FILE" or "FOLDER/FILE") is in the tree, and its size; true when
    // there is no such file.
    bool find(const std::string& name, std::string* path, uint64_t* size) const;
    // The bytes of the file NAME, to `sink`.
    Outcome copyOut(const std::string& name, const Sink& sink, std::string* why) const;
    // Stages the local file into the tree (see StagedDriveFile), after checking that it may
    // go there and fits.
    Outcome send(const DriveUpload& upload, const Progress& progress, std::string* why);
    // Deletes the file NAME.
    bool remove(const std::string& name, std::string* why);

    // A file was written or deleted: the drive must be ejected for the calculator to see it.
    bool changed() const { return changes > 0; }

private:
    bool mayChange(const std::string& folder, std::string* why) const;
    bool fits(const DriveUpload& upload, bool newFolder, std::string* why) const;
    Outcome place(const DriveUpload& upload, const std::string& folder, const std::string& existing,
                  const Progress& progress, std::string* why);
    Outcome copy(int source, int target, const DriveUpload& upload, const Progress& progress,
                 std::string* why) const;

    std::string root;
    bool readOnly;
    int changes = 0;
};
