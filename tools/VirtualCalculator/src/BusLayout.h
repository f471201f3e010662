#pragma once

#include "Wire.h"

#include <optional>
#include <string>
#include <vector>

// One calculator's place on the emulated bus, and what the kernel shows of it in sysfs.
struct Seat {
    enum class Kind { Link, Drive };

    Kind kind = Kind::Link;
    std::string address;   // the USB port path, also the device's name in sysfs: "1-4.2"
    std::string sysfsPath; // below /sys: "/devices/.../1-4/1-4.2"
    std::string serial;
    // A drive's SCSI host number and disk ("sdb", the kernel's disk 1); its file system is on
    // the partition "sdb1", or on the disk itself when `wholeDisk`.
    int scsiHost = 0;
    int diskIndex = 0;
    std::string disk;
    bool wholeDisk = false;
    // A drive of the newest monochrome kind: 07cf:6103, with a FAT12 file system.
    bool monochrome = false;
    // Another program holds interface 0 from the start: nobody else may claim it.
    bool heldElsewhere = false;
    // A drive in its ScreenRecv or Projector mode: its disk shows no medium, no file system.
    bool screen = false;

    std::string product() const;
    std::string productId() const;     // "6101", "6102" or "6103"
    std::string interfacePath() const; // the sysfs path of interface 0
    // What the `driver` link of interface 0 points to when `driver` holds it.
    std::string driverLink(const std::string& driver) const;
    std::string fileSystemDevice() const;
    // A drive's SCSI generic device, "sg1" for the disk sdb (sg0 is the machine's own disk),
    // and its path below /sys.
    std::string genericDevice() const;
    std::string genericPath() const;

    // The kernel's numbers of the disk (partition 0) or of its partition `partition`.
    struct BlockNumbers {
        int major;
        int minor;
    };
    BlockNumbers blockNumbers(int partition) const;
    BlockNumbers fileSystemNumbers() const { return blockNumbers(wholeDisk ? 0 : 1); }
    // A drive's devices in sysfs, from its USB device down to the block device with the file
    // system: the USB device, its interface, the SCSI host, target and device, the disk and,
    // unless the file system covers the whole disk or the disk shows none, the partition.
    std::vector<std::string> deviceChain() const;
};

// Where the calculators sit. The lone calculator of old is 1-1, straight on the root hub's
// port, with no hub in sysfs, exactly as before there were several. Several sit behind
// hubs of seven ports on port 4 of the root hub (1-4.1, 1-4.2, ...): each hub's last port
// holds the next hub when more follow, so that a class set gets longer port paths.
class BusLayout {
public:
    static constexpr int mostCalculators = 32;

    static BusLayout lone();
    // `links` link calculators (07cf:6101) first, then `drives` drive ones (07cf:6102).
    static BusLayout behindHubs(int links, int drives);

    std::vector<Seat>& seats() { return seatList; }
    const std::vector<Seat>& seats() const { return seatList; }
    bool severalPlaces() const { return hubbed; }
    // The root hub and the hubs as umockdev records; empty for the lone calculator.
    std::string hubRecords() const;
    // The device number the first calculator gets; each later plug-in takes the next.
    int firstDeviceNumber() const { return hubbed ? 2 + hubCount : 2; }

    // The calculator's device and its interface and, for a drive, the SCSI disk below it
    // with its file system, as umockdev records, for device number `number` on bus 1.
    static std::string records(const Seat& seat, int number);
    // What the calculator answers to GET_DESCRIPTOR for descriptor `type` number `index`:
    // the device, its configuration whole, or a string (0: the languages, then the
    // manufacturer, the product and the serial, which sysfs holds too); nothing for others.
    static std::optional<Bytes> descriptor(const Seat& seat, int type, int index);

private:
    std::vector<Seat> seatList;
    bool hubbed = false;
    int hubCount = 0;
};
