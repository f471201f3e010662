#pragma once

#include <string>
#include <sys/types.h>

// Where a file from the calculator is to be written on this machine, examined before anything
// is fetched. A regular file is replaced only when asked, by a whole new file put in its place
// that keeps its permissions; a link is followed, and the file it points to is the one
// replaced (the link stays); a device, FIFO or socket is written directly, as cp does, and so
// is a descriptor this process has open (/dev/stdout, /dev/fd/N): a redirection stays what it
// is, a log appended to keeps what it held.
class LocalTarget {
public:
    enum class Way {
        Staged, // written beside `path` under a temporary name, then renamed to it
        Direct, // opened and written as it is (or `descriptor`, when it names one)
    };

    // False, after saying why, when nothing can be written there: a folder, a link to
    // nothing, an existing file without `replace`, a path that can't be examined.
    static bool examine(const std::string& path, bool replace, LocalTarget* target);
    // Whether `path` is a folder, or a link to one: where files go under their own names.
    static bool isFolder(const std::string& path);
    // Whether `path` names standard output: "-", or /dev/stdout and its other names.
    static bool isStandardOutput(const std::string& path);
    // The permissions a file created the usual way gets, by the umask the program started
    // with (read once, before any thread could change it).
    static mode_t usualMode();

    std::string shown; // the path as given, for messages
    Way way = Way::Staged;
    std::string path;      // where the bytes go, links followed
    int descriptor = -1;   // Direct, through an open descriptor of this process
    bool replaces = false; // an existing file is replaced (Staged)
    mode_t mode = 0;       // its permission bits, kept (when it replaces)
    uid_t owner = 0;
    gid_t group = 0;
};
