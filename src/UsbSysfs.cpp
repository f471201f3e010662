#include "UsbSysfs.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char devices[] = "/sys/bus/usb/devices";
constexpr int pathCapacity = 160;
constexpr int configurationCapacity = 8;

bool readText(const char* path, char* text, int capacity) {
    const int file = open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return true;
    }
    ssize_t length = read(file, text, static_cast<size_t>(capacity - 1));
    close(file);
    if (length < 0) {
        return true;
    }
    if (length > 0 && text[length - 1] == '\n') {
        --length;
    }
    text[length] = '\0';
    return false;
}

// True when the text did not fit.
bool format(char* text, int capacity, const char* pattern, const char* first, const char* second,
            int number = 0) {
    const int length =
        snprintf(text, static_cast<size_t>(capacity), pattern, devices, first, second, number);
    return length < 0 || length >= capacity;
}

} // namespace

bool UsbSysfs::readAttribute(const char* address, const char* name, char* text, int capacity) {
    char path[pathCapacity];
    if (capacity < 1 || format(path, sizeof path, "%s/%s/%s", address, name)) {
        return true;
    }
    return readText(path, text, capacity);
}

bool UsbSysfs::interfaceDriver(const char* address, int interface, char* text, int capacity) {
    char configuration[configurationCapacity];
    // An unconfigured device has no interfaces.
    if (capacity < 1 ||
        readAttribute(address, "bConfigurationValue", configuration, sizeof configuration) ||
        configuration[0] == '\0') {
        return true;
    }
    char path[pathCapacity];
    char target[pathCapacity];
    if (format(path, sizeof path, "%s/%s:%s.%d/driver", address, configuration, interface)) {
        return true;
    }
    const ssize_t length = readlink(path, target, sizeof target - 1);
    if (length <= 0) {
        return true;
    }
    target[length] = '\0';
    const char* name = strrchr(target, '/');
    snprintf(text, static_cast<size_t>(capacity), "%s", name != nullptr ? name + 1 : target);
    return false;
}
