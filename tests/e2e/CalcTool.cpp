// What the library finds and opens on a bus of several calculators, printed for the
// end-to-end tests, with the real libusb and libudev.
//
// usage: CalcTool list             one line per calculator: ADDRESS KIND PRODUCT SERIAL [busy]
//        CalcTool open CHOICE      the choice's outcome and, once opened, the address and the
//                                  files on its flash (one protocol session), "-" for none
//        CalcTool hold CHOICE CMD...
//                                  opens it, then runs CMD while holding it; CMD's status
//        CalcTool drives           one line per block device with a file system whose USB
//                                  parent is a drive calculator: DEVICE FS ADDRESS ID
// Exit status 0 when the command ran (hold: CMD's), 1 otherwise, 2 for bad usage.

#include "CalcChooser.h"
#include "CalcFinder.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
#include "Log.h"
#include "Socket.h"
#include "UsbContext.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#ifdef CALC_TOOL_UDEV
#include <libudev.h>
#endif

namespace {

const char* const choiceNames[] = {"opened",    "none attached", "several attached", "not attached",
                                   "ambiguous", "drive",         "unopened"};

class Printer : public CalcListener, public CasioFileLister {
public:
    void calcFound(const CalcDescription& calc) override {
        printf("%s\t%s\t%s\t%s%s\n", calc.address, CalcFinder::kindName(calc.kind), calc.product,
               calc.serial, calc.busy ? "\tbusy" : "");
    }
    void fileListed(const CasioFileEntry& entry) override {
        printf("file %.*s\n", entry.name.getSize(),
               reinterpret_cast<const char*>(entry.name.getData()));
    }
};

libusb_device_handle* openChoice(UsbContext* context, const char* chosen) {
    libusb_device_handle* handle = nullptr;
    CalcDescription calc{};
    const CalcChoice choice = CalcChooser::open(context, chosen, &handle, &calc);
    printf("%s %s\n", choiceNames[static_cast<int>(choice)], calc.address[0] ? calc.address : "-");
    return handle;
}

int listFlash(libusb_device_handle* handle) {
    Socket socket;
    Printer printer;
    if (socket.setDeviceHandle(handle) || CasioProtocolTools::connectProtocol(&socket, 5)) {
        return 1;
    }
    const bool failed = CasioStorage::listFiles(&socket, "fls0", &printer);
    return CasioProtocolTools::terminateProtocol(&socket, CasioProtocolTools::terminateNormal) ||
                   failed
               ? 1
               : 0;
}

int hold(libusb_device_handle* handle, char** command) {
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        execvp(command[0], command);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

#ifdef CALC_TOOL_UDEV
std::string property(udev_device* device, const char* name) {
    const char* value = udev_device_get_property_value(device, name);
    return value != nullptr ? value : "";
}

// Walks from each block device with a file system up to its USB device, as the drive
// commands will find a drive calculator's file system.
int drives() {
    udev* context = udev_new();
    udev_enumerate* enumeration = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumeration, "block");
    udev_enumerate_add_match_property(enumeration, "ID_FS_TYPE", "vfat");
    udev_enumerate_scan_devices(enumeration);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
        udev_device* block = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(block, "usb", "usb_device");
        if (usb != nullptr) {
            printf("%s\t%s\t%s\t%s:%s\n", udev_device_get_devnode(block),
                   property(block, "ID_FS_TYPE").c_str(), udev_device_get_sysname(usb),
                   udev_device_get_sysattr_value(usb, "idVendor"),
                   udev_device_get_sysattr_value(usb, "idProduct"));
        }
        udev_device_unref(block);
    }
    udev_enumerate_unref(enumeration);
    udev_unref(context);
    return 0;
}
#else
int drives() {
    fprintf(stderr, "built without libudev\n");
    return 2;
}
#endif

} // namespace

int main(int argc, char** argv) {
    Log::setLoglevel(LOGLEVEL_ERROR);
    Log::setOutput(stderr);
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "drives") {
        return drives();
    }
    UsbContext context;
    if (context.initUsbContext()) {
        return 1;
    }
    Printer printer;
    if (verb == "list") {
        return CalcFinder::listCalcs(&context, &printer) ? 1 : 0;
    }
    if ((verb != "open" || argc != 3) && (verb != "hold" || argc < 4)) {
        fprintf(stderr, "usage: CalcTool list | open CHOICE | hold CHOICE CMD... | drives\n");
        return 2;
    }
    libusb_device_handle* handle = openChoice(&context, argv[2]);
    if (handle == nullptr) {
        return 1;
    }
    return verb == "hold" ? hold(handle, argv + 3) : listFlash(handle);
}
