#include "BusLayout.h"

#include <cstdio>

namespace {

constexpr const char controller[] = "/devices/pci0000:00/0000:00:14.0";
constexpr int hubPorts = 7;
constexpr const char firstHub[] = "1-4";
constexpr int firstScsiHost = 2; // the machine's own disks come first

// Descriptors as the kernel's `descriptors` attribute holds them, which libusb reads: the
// device, then one configuration with its interface and endpoints.
constexpr const char rootHubDescriptors[] = "12010002090001406b1d020006060302010109021900010100e000"
                                            "0904000001090000000705810302000c";
constexpr const char hubDescriptors[] = "1201000209000140e305100600010001000109021900010100e000"
                                        "0904000001090000000705810301000c";
// A vendor-specific interface with bulk endpoints 0x01 and 0x82 of 64 bytes.
constexpr const char linkDescriptors[] = "1201000200000040cf07016100010102030109022000010100803209"
                                         "04000002ff0000000705010240000007058202400000";
// Mass storage, SCSI transparent command set, bulk-only transport, on the same endpoints.
constexpr const char driveDescriptors[] = "1201000200000040cf07026100010102030109022000010100803209"
                                          "04000002080650000705010240000007058202400000";

std::string line(const char* tag, const std::string& text) {
    return std::string(tag) + ": " + text + "\n";
}

// An attribute's text, escaped as umockdev reads it.
std::string attribute(const std::string& name, const std::string& value) {
    std::string escaped;
    for (char character : value) {
        escaped += character == '\\'   ? "\\\\"
                   : character == '\n' ? "\\n"
                                       : std::string(1, character);
    }
    return line("A", name + "=" + escaped + "\\n");
}

// A USB device's own lines: its node, its numbers and its identity.
std::string usbDevice(const std::string& path, int number, const std::string& identity,
                      const std::string& descriptors) {
    char numbers[256];
    snprintf(numbers, sizeof numbers,
             "N: bus/usb/001/%03d\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\n"
             "E: DEVNUM=%03d\nE: DEVNAME=/dev/bus/usb/001/%03d\n",
             number, number, number);
    return line("P", path) + numbers + identity + attribute("busnum", "1") +
           attribute("devnum", std::to_string(number)) + attribute("bConfigurationValue", "1") +
           line("H", std::string("descriptors=") + descriptors);
}

std::string hubRecord(const std::string& path, int number, const char* descriptors,
                      const char* speed) {
    return usbDevice(path, number, attribute("speed", speed), descriptors) + "\n";
}

// sda is the machine's own disk; drives follow from sdb, as the kernel names them.
std::string diskName(int index) {
    std::string letters;
    for (int n = index; n >= 0; n = n / 26 - 1) {
        letters.insert(letters.begin(), static_cast<char>('a' + n % 26));
    }
    return "sd" + letters;
}

std::string serialOf(int number) {
    char serial[16];
    snprintf(serial, sizeof serial, "VC%010d", number);
    return serial;
}

std::string identityOf(const Seat& seat) {
    return line("E", "PRODUCT=7cf/" + seat.productId() + "/100") + attribute("speed", "12") +
           attribute("idVendor", "07cf") + attribute("idProduct", seat.productId()) +
           attribute("manufacturer", "Tolvane") + attribute("product", seat.product()) +
           (seat.serial.empty() ? "" : attribute("serial", seat.serial));
}

std::string interfaceRecord(const Seat& seat) {
    const bool drive = seat.kind == Seat::Kind::Drive;
    std::string record = line("P", seat.interfacePath()) + line("E", "SUBSYSTEM=usb") +
                         line("E", "DEVTYPE=usb_interface") +
                         line("E", drive ? "INTERFACE=8/6/80" : "INTERFACE=255/0/0") +
                         attribute("bInterfaceNumber", "00") +
                         attribute("bInterfaceClass", drive ? "08" : "ff") +
                         attribute("bInterfaceSubClass", drive ? "06" : "00") +
                         attribute("bInterfaceProtocol", drive ? "50" : "00");
    // usb-storage holds a drive's interface from the start, as on a real machine, unless a
    // program took it through usbfs.
    const char* driver = seat.heldElsewhere ? "usbfs" : drive ? "usb-storage" : nullptr;
    if (driver != nullptr) {
        record += line("E", std::string("DRIVER=") + driver) +
                  line("L", "driver=" + seat.driverLink(driver));
    }
    return record + "\n";
}

std::string blockRecord(const std::string& path, const std::string& name,
                        Seat::BlockNumbers numbers, const std::string& properties) {
    const std::string dev = std::to_string(numbers.major) + ":" + std::to_string(numbers.minor);
    return line("P", path) + line("N", name) + line("E", "SUBSYSTEM=block") +
           line("E", "DEVNAME=/dev/" + name) + line("E", "MAJOR=" + std::to_string(numbers.major)) +
           line("E", "MINOR=" + std::to_string(numbers.minor)) + properties +
           attribute("dev", dev) + "\n";
}

std::string fileSystemProperties(const Seat& seat) {
    return line("E", "ID_FS_TYPE=vfat") + line("E", "ID_FS_USAGE=filesystem") +
           line("E", seat.monochrome ? "ID_FS_VERSION=FAT12" : "ID_FS_VERSION=FAT16");
}

// The SCSI generic device beside the disk, major 21, through which a host sends any command.
std::string genericRecord(const Seat& seat) {
    const std::string minor = seat.genericDevice().substr(2);
    return line("P", seat.genericPath()) + line("N", seat.genericDevice()) +
           line("E", "SUBSYSTEM=scsi_generic") + line("E", "DEVNAME=/dev/" + seat.genericDevice()) +
           line("E", "MAJOR=21") + line("E", "MINOR=" + minor) + attribute("dev", "21:" + minor) +
           "\n";
}

// Below the drive's interface: the SCSI host, target and device, the disk and, unless the
// file system covers the whole disk, its partition.
std::string diskRecords(const Seat& seat) {
    const std::vector<std::string> chain = seat.deviceChain();
    const std::string usbProperties = line("E", "ID_BUS=usb") + line("E", "ID_VENDOR_ID=07cf") +
                                      line("E", "ID_MODEL_ID=" + seat.productId()) +
                                      line("E", "ID_SERIAL_SHORT=" + seat.serial) +
                                      line("E", "ID_USB_DRIVER=usb-storage");
    std::string records = line("P", chain[2]) + line("E", "SUBSYSTEM=scsi") +
                          line("E", "DEVTYPE=scsi_host") + "\n" + line("P", chain[3]) +
                          line("E", "SUBSYSTEM=scsi") + line("E", "DEVTYPE=scsi_target") + "\n" +
                          line("P", chain[4]) + line("E", "SUBSYSTEM=scsi") +
                          line("E", "DEVTYPE=scsi_device") + attribute("vendor", "CASIO") +
                          attribute("model", "Virtual drive") + attribute("type", "0") + "\n";
    const std::string medium = seat.screen      ? attribute("size", "0")
                               : seat.wholeDisk ? fileSystemProperties(seat)
                                                : line("E", "ID_PART_TABLE_TYPE=dos");
    records += blockRecord(chain[5], seat.disk, seat.blockNumbers(0),
                           line("E", "DEVTYPE=disk") + usbProperties + medium +
                               attribute("removable", "1"));
    records += genericRecord(seat);
    if (chain.size() > 6) {
        records +=
            blockRecord(chain[6], seat.disk + "1", seat.blockNumbers(1),
                        line("E", "DEVTYPE=partition") + line("E", "PARTN=1") + usbProperties +
                            fileSystemProperties(seat) + attribute("partition", "1"));
    }
    return records;
}

constexpr int deviceDescriptorType = 1;
constexpr int configurationDescriptorType = 2;
constexpr int stringDescriptorType = 3;
constexpr size_t deviceDescriptorLength = 18;
constexpr size_t serialIndexOffset = 16; // iSerialNumber in the device descriptor
constexpr size_t productIdOffset = 10;   // the low byte of idProduct
constexpr uint8_t englishUs[] = {0x09, 0x04};

Bytes fromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The text as a string descriptor: its length, its type, then UTF-16LE (our texts are ASCII).
Bytes stringDescriptor(const Bytes& utf16) {
    Bytes descriptor{static_cast<uint8_t>(2 + utf16.size()), stringDescriptorType};
    descriptor.insert(descriptor.end(), utf16.begin(), utf16.end());
    return descriptor;
}

std::string toHex(const Bytes& bytes) {
    std::string hex;
    char digits[3];
    for (uint8_t byte : bytes) {
        snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

Bytes utf16Of(const std::string& text) {
    Bytes utf16;
    for (char character : text) {
        utf16.push_back(static_cast<uint8_t>(character));
        utf16.push_back(0);
    }
    return utf16;
}

} // namespace

std::string Seat::product() const {
    return kind == Kind::Drive ? "Virtual calculator drive" : "Virtual calculator";
}

std::string Seat::productId() const {
    return kind == Kind::Link ? "6101" : monochrome ? "6103" : "6102";
}

std::string Seat::interfacePath() const {
    return sysfsPath + "/" + address + ":1.0";
}

std::string Seat::driverLink(const std::string& driver) const {
    std::string up;
    for (char character : interfacePath()) {
        up += character == '/' ? "../" : "";
    }
    return up + "bus/usb/drivers/" + driver;
}

std::string Seat::fileSystemDevice() const {
    return wholeDisk ? disk : disk + "1";
}

std::string Seat::genericDevice() const {
    return "sg" + std::to_string(diskIndex);
}

std::string Seat::genericPath() const {
    return deviceChain()[4] + "/scsi_generic/" + genericDevice();
}

// The kernel's numbers for sd disks: 16 minors each, major 8 for the first 16 disks.
Seat::BlockNumbers Seat::blockNumbers(int partition) const {
    const int group = diskIndex / 16;
    return {group == 0 ? 8 : 64 + group, (diskIndex % 16) * 16 + partition};
}

std::vector<std::string> Seat::deviceChain() const {
    const std::string host = std::to_string(scsiHost);
    const std::string hostPath = interfacePath() + "/host" + host;
    const std::string targetPath = hostPath + "/target" + host + ":0:0";
    const std::string scsiPath = targetPath + "/" + host + ":0:0:0";
    const std::string diskPath = scsiPath + "/block/" + disk;
    std::vector<std::string> chain = {sysfsPath,  interfacePath(), hostPath,
                                      targetPath, scsiPath,        diskPath};
    if (!wholeDisk && !screen) {
        chain.push_back(diskPath + "/" + disk + "1");
    }
    return chain;
}

BusLayout BusLayout::lone() {
    BusLayout layout;
    Seat seat;
    seat.address = "1-1";
    seat.sysfsPath = std::string(controller) + "/usb1/1-1";
    seat.serial = serialOf(1);
    layout.seatList.push_back(seat);
    return layout;
}

BusLayout BusLayout::behindHubs(int links, int drives) {
    BusLayout layout;
    layout.hubbed = true;
    layout.hubCount = 1;
    std::string hub = firstHub;
    std::string hubPath = std::string(controller) + "/usb1/" + hub;
    const int total = links + drives;
    for (int placed = 0; placed < total;) {
        const int onThisHub = total - placed <= hubPorts ? total - placed : hubPorts - 1;
        for (int port = 1; port <= onThisHub; ++port, ++placed) {
            Seat seat;
            seat.address = hub + "." + std::to_string(port);
            seat.sysfsPath = hubPath + "/" + seat.address;
            seat.serial = serialOf(placed + 1);
            if (placed >= links) {
                seat.kind = Seat::Kind::Drive;
                seat.scsiHost = firstScsiHost + placed - links;
                seat.diskIndex = 1 + placed - links;
                seat.disk = diskName(seat.diskIndex);
            }
            layout.seatList.push_back(seat);
        }
        if (placed < total) {
            hub += "." + std::to_string(hubPorts);
            hubPath += "/" + hub;
            ++layout.hubCount;
        }
    }
    return layout;
}

std::string BusLayout::hubRecords() const {
    if (!hubbed) {
        return "";
    }
    std::string path = std::string(controller) + "/usb1";
    std::string records = hubRecord(path, 1, rootHubDescriptors, "480");
    std::string hub = firstHub;
    for (int number = 2; number < 2 + hubCount; ++number) {
        path += "/" + hub;
        records += hubRecord(path, number, hubDescriptors, "480");
        hub += "." + std::to_string(hubPorts);
    }
    return records;
}

std::string BusLayout::records(const Seat& seat, int number) {
    const bool drive = seat.kind == Seat::Kind::Drive;
    const std::string descriptors = toHex(*descriptor(seat, deviceDescriptorType, 0)) +
                                    toHex(*descriptor(seat, configurationDescriptorType, 0));
    std::string text = usbDevice(seat.sysfsPath, number, identityOf(seat), descriptors) + "\n" +
                       interfaceRecord(seat);
    return drive ? text + diskRecords(seat) : text;
}

std::optional<Bytes> BusLayout::descriptor(const Seat& seat, int type, int index) {
    Bytes all = fromHex(seat.kind == Seat::Kind::Drive ? driveDescriptors : linkDescriptors);
    all[productIdOffset] =
        static_cast<uint8_t>(std::stoul(seat.productId().substr(2), nullptr, 16));
    if (seat.serial.empty()) {
        all[serialIndexOffset] = 0; // a device without a serial string has no index for it
    }
    const auto configuration = all.begin() + deviceDescriptorLength;
    if (type == deviceDescriptorType && index == 0) {
        return Bytes(all.begin(), configuration);
    }
    if (type == configurationDescriptorType && index == 0) {
        return Bytes(configuration, all.end());
    }
    const std::string texts[] = {"Tolvane", seat.product(), seat.serial};
    if (type != stringDescriptorType || index < 0 || index > 3 ||
        (index == 3 && seat.serial.empty())) {
        return std::nullopt;
    }
    return stringDescriptor(index == 0 ? Bytes(std::begin(englishUs), std::end(englishUs))
                                       : utf16Of(texts[index - 1]));
}
