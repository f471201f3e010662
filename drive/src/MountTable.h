#pragma once

#include <string>
#include <sys/types.h>

// Where a file system is mounted, as this process sees it in /proc/self/mountinfo.
class MountTable {
public:
    struct Mount {
        std::string point;
        bool readOnly = false; // the mount or the file system itself is read-only
    };

    // The first mount of the whole file system on device `number` (not a folder of it bound
    // elsewhere); with `point` given, only a mount there. True when there is none, or the
    // table cannot be read.
    static bool find(dev_t number, const std::string& point, Mount* mount);
};
