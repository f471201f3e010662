#pragma once

#include "DriveMedium.h"

#include <string>
#include <vector>

// The testbed's /proc/self/mountinfo, which the command reads in place of its own (umockdev
// redirects it): the PC's root, and each drive mounted at its mount point, with `ro` among its
// options when it is mounted read-only. Rewritten whole each time, never seen half written.
class MountInfoFile {
public:
    explicit MountInfoFile(const std::string& testbedRoot);

    // False when the file cannot be written.
    bool write(const std::vector<DriveMedium>& drives) const;

private:
    std::string path;
};
