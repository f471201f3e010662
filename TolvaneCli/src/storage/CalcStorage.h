#pragma once

#include "CalcPath.h"
#include "MemoryItems.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A file on a calculator, as `list` shows it, or an item of its main memory.
struct CalcFile {
    std::string name; // FILE, or FOLDER/FILE, as the calculator has it; an item's path
    uint64_t size = 0;
    int type = -1;         // an item's type, where it is known
    std::string directory; // an item's directory
};

// A local file to put on a calculator, checked before anything is sent; or an item of a local
// .g1m file, for main memory.
struct FileToSend {
    std::string path;  // on this machine
    std::string name;  // on the calculator
    uint64_t size = 0; // as checked: a file that has changed since is not sent
    std::optional<MemoryItem> item;

    // For messages: the file, and the item in it.
    std::string shown() const { return item ? path + ": " + item->path : path; }
};

// Where and how files go onto a calculator.
struct SendWay {
    std::string folder; // empty: the storage's root
    bool replace = false;
    bool pipelined = true; // where the link takes it: each part before the last one's answer
};

// Takes a file from the calculator as it arrives.
class FileSink {
public:
    virtual void announced(uint64_t size) = 0;
    // False when it takes no more; it says why itself.
    virtual bool take(const unsigned char* bytes, size_t count) = 0;

protected:
    ~FileSink() = default;
};

// Told of the bytes of a file the calculator has so far.
using SendProgress = std::function<void(uint64_t bytes)>;
// Takes the files of a listing, one at a time.
using FileListener = std::function<void(const CalcFile& file)>;

// How an operation on one file went.
enum class Outcome {
    Done,
    Failed,      // this file only, `why` says why: the others may still go
    Exists,      // a file of that name is there already, and replacing it was not asked for
    Stopped,     // the sink took no more, and says why itself
    LinkLost,    // nothing more can reach this calculator: `why` says why
    Interrupted, // Ctrl-C: nothing more is done
};

// What only some calculators have.
enum class Capability {
    SdCard,     // crd0
    Optimize,   // a storage that compacting frees room on
    MainMemory, // main memory's items, each on its own (a drive shows only a copy, as files)
    // A.TXT and a.txt are two files (a drive's FAT file system takes either for the other)
    CaseSensitiveNames,
};

// What a command does with a calculator's files, whatever its kind: over the link protocol
// with a calculator in its USB receive mode (LinkStorage), or on the mounted file system of
// one that connects as a USB drive (DriveStorage). A `device` is a storage device (fls0,
// crd0, main: see CalcPath). Failures come back as words for a user in `why`, so that each command
// says the same thing for the same fault on either kind; what the operations return is true on
// success, as everywhere in tolvane's own code.
class CalcStorage {
public:
    virtual ~CalcStorage() = default;

    // Whether the calculator has it; known without reaching the calculator.
    virtual bool has(Capability capability) const = 0;
    // Why it has not, for a message; empty when it has.
    virtual std::string lacking(Capability capability) const = 0;

    // Reaches the calculator: opens a session, or mounts the drive. False after saying why
    // and what to do.
    virtual bool open() = 0;

    // The storage devices the calculator holds files in now, fls0 first: crd0 only while an SD
    // card is in. False, with `why`, when that can't be told.
    virtual bool storageDevices(std::vector<std::string>* devices, std::string* why) = 0;
    virtual bool list(const std::string& device, const FileListener& listener,
                      std::string* why) = 0;
    virtual bool freeSpace(const std::string& device, uint64_t* bytes, std::string* why) = 0;
    // What the calculator tells of itself, as labels and values in the order shown.
    virtual bool describe(std::vector<std::pair<std::string, std::string>>* fields,
                          std::string* why) = 0;
    virtual Outcome fetch(const std::string& device, const CalcPath& path, FileSink* sink,
                          std::string* why) = 0;
    virtual Outcome send(const std::string& device, const FileToSend& file, const SendWay& way,
                         const SendProgress& progress, std::string* why) = 0;
    // Whether files may be sent into `folder` (empty: the root) of `device`: false, with `why`,
    // where the calculator keeps what tolvane does not change (a drive's main memory, a drive
    // mounted read-only), so that a command can leave those files out before it starts.
    virtual bool mayWrite(const std::string& device, const std::string& folder,
                          std::string* why) = 0;
    virtual Outcome remove(const std::string& device, const CalcPath& path, std::string* why) = 0;
    // Where the calculator has Capability::Optimize.
    virtual Outcome optimize(const std::string& device, std::string* why) = 0;
    // Every item of main memory, as one .g1m file into `sink`; where the calculator has
    // Capability::MainMemory.
    virtual Outcome fetchMainMemory(FileSink* sink, std::string* why) = 0;

    // Ends the session (told that the user asked, when `interrupted`), or leaves the drive as
    // the calculator needs it. False after saying why.
    virtual bool finish(bool interrupted) = 0;
};
