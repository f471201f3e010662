// What the library finds and opens on a bus of several calculators, for the end-to-end
// tests, with the real libusb and libudev. Exit status 0 when the command ran, 1 otherwise.
//   CalcTool list         one line per calculator: ADDRESS KIND PRODUCT SERIAL [busy]
//   CalcTool open CHOICE  the outcome and address; once opened, the serial the device tells
//                         and the files of its flash (one session)
//   CalcTool drives       each vfat block device with a USB parent: NODE FS ADDRESS ID

#include "CalcChooser.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
#include "Log.h"

#include <cstdio>
#include <libudev.h>
#include <string>

namespace {

const char* const choiceNames[] = {"opened",       "found",     "none attached", "several attached",
                                   "not attached", "ambiguous", "drive",         "busy",
                                   "unopened"};

class Printer : public CalcListener, public CasioFileLister {
public:
    void calcFound(const CalcDescription& calc) override {
        printf("%s\t%s\t%s\t%s%s\n", calc.address, CalcFinder::kindName(calc.kind), calc.product,
               calc.serial, calc.busy ? "\tbusy" : "");
    }
    void fileListed(const CasioFileEntry& entry) override {
        printf("file %.*s\n", entry.name.getSize(), reinterpret_cast<char*>(entry.name.getData()));
    }
};

int listFlash(libusb_device_handle* handle) {
    libusb_device_descriptor device;
    unsigned char serial[64] = "";
    libusb_get_device_descriptor(libusb_get_device(handle), &device);
    libusb_get_string_descriptor_ascii(handle, device.iSerialNumber, serial, sizeof serial);
    printf("serial %s\n", serial);
    Socket socket;
    Printer printer;
    if (socket.setDeviceHandle(handle) || CasioProtocolTools::connectProtocol(&socket, 5)) {
        return 1;
    }
    const bool failed = CasioStorage::listFiles(&socket, "fls0", &printer);
    return CasioProtocolTools::terminateProtocol(&socket, 0) || failed ? 1 : 0;
}

// From each block device with a file system up to its USB device, as the drive commands
// will find a drive calculator's file system.
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
                   udev_device_get_property_value(block, "ID_FS_TYPE"),
                   udev_device_get_sysname(usb), udev_device_get_sysattr_value(usb, "idVendor"),
                   udev_device_get_sysattr_value(usb, "idProduct"));
        }
        udev_device_unref(block);
    }
    udev_enumerate_unref(enumeration);
    udev_unref(context);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Log::setOutput(stderr);
    const std::string verb = argc > 1 ? argv[1] : "";
    UsbContext context;
    Printer printer;
    if (verb == "drives" || context.initUsbContext()) {
        return verb == "drives" ? drives() : 1;
    }
    if (verb != "open" || argc < 3) {
        return verb != "list" || CalcFinder::listCalcs(&context, &printer) ? 1 : 0;
    }
    libusb_device_handle* handle = nullptr;
    CalcDescription calc{};
    const CalcChoice choice = CalcChooser::open(&context, argv[2], &handle, &calc);
    printf("%s %s\n", choiceNames[static_cast<int>(choice)], calc.address[0] ? calc.address : "-");
    return handle == nullptr || listFlash(handle);
}
