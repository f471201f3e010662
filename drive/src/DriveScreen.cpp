#include "DriveScreen.h"

#include "Log.h"
#include "UdevTree.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The first device of the subsystem (and type, when given) below the calculator with a node.
std::string nodeBelow(udev* context, udev_device* usbDevice, const char* subsystem,
                      const char* type) {
    const std::vector<UdevTree::Device> devices =
        UdevTree::below(context, usbDevice, subsystem, type);
    return devices.empty() ? "" : UdevTree::textOf(udev_device_get_devnode(devices[0].get()));
}

void sayWhyNotOpened(const DriveScreenNode& node, int error) {
    if (error != EACCES && error != EPERM) {
        Log::error(
            ("Can't open " + node.path + ", the calculator's screen: " + strerror(error)).c_str());
        return;
    }
    Log::error(("Not enough permission to open " + node.path +
                ", the calculator's screen: install tolvane's udev rule (see ACCESS RIGHTS in "
                "man tolvane), then unplug the calculator and plug it in again; or run as root")
                   .c_str());
}

} // namespace

bool DriveScreen::locate(const std::string& address, DriveScreenNode* node, bool quiet) {
    const auto fail = [quiet](const std::string& text) {
        if (!quiet) {
            Log::error(text.c_str());
        }
        return true;
    };
    const UdevTree::Udev context = UdevTree::open();
    if (!context) {
        return fail("Can't read the system's devices (udev)");
    }
    const UdevTree::Device usbDevice = UdevTree::usbDeviceAt(context.get(), address);
    if (usbDevice) {
        node->path = nodeBelow(context.get(), usbDevice.get(), "scsi_generic", nullptr);
        node->generic = !node->path.empty();
    }
    if (usbDevice && !node->generic) {
        node->path = nodeBelow(context.get(), usbDevice.get(), "block", "disk");
    }
    if (!node->path.empty()) {
        return false;
    }
    return fail(usbDevice ? "The drive calculator at " + address +
                                " shows no SCSI device yet: is it in its ScreenRecv or Projector "
                                "mode? Try again in a few seconds"
                          : "No calculator is attached at " + address);
}

bool DriveScreen::open(const std::string& address, CasioDriveScreenSource* source) {
    DriveScreenNode node;
    if (locate(address, &node)) {
        return true;
    }
    if (source->open(node.path.c_str())) {
        sayWhyNotOpened(node, errno);
        return true;
    }
    return false;
}
