#include "MountInfoFile.h"

#include <cstdio>
#include <filesystem>

namespace {

constexpr const char rootLine[] = "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
constexpr int firstDriveMountId = 100;

// Spaces, tabs, newlines and backslashes as the kernel escapes them in mountinfo.
std::string escaped(const std::string& path) {
    std::string text;
    char code[8];
    for (char character : path) {
        if (character == ' ' || character == '\t' || character == '\n' || character == '\\') {
            snprintf(code, sizeof code, "\\%03o", static_cast<unsigned char>(character));
            text += code;
        } else {
            text += character;
        }
    }
    return text;
}

std::string mountLine(const DriveMedium& drive, int id) {
    const Seat::BlockNumbers numbers = drive.seat.fileSystemNumbers();
    const std::string mode = drive.readOnly ? "ro" : "rw";
    return std::to_string(id) + " 21 " + std::to_string(numbers.major) + ":" +
           std::to_string(numbers.minor) + " / " + escaped(drive.mountPoint) + " " + mode +
           ",nosuid,nodev,relatime shared:" + std::to_string(id) + " - vfat " + drive.node() + " " +
           mode + ",fmask=0022,dmask=0022,codepage=437,iocharset=utf8\n";
}

} // namespace

MountInfoFile::MountInfoFile(const std::string& testbedRoot)
    : path(testbedRoot + "/proc/self/mountinfo") {}

bool MountInfoFile::write(const std::vector<DriveMedium>& drives) const {
    std::string text = rootLine;
    int id = firstDriveMountId;
    for (const DriveMedium& drive : drives) {
        if (drive.onBus && !drive.mountPoint.empty()) {
            text += mountLine(drive, id++);
        }
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const std::string staged = path + ".new";
    FILE* file = fopen(staged.c_str(), "w");
    if (error || file == nullptr) {
        return false;
    }
    const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && written && rename(staged.c_str(), path.c_str()) == 0;
}
