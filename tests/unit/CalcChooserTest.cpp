#include "CalcChooser.h"
#include "CalcFinder.h"
#include "LibusbDouble.h"
#include "Log.h"
#include "UsbContext.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Device {
    uint16_t idProduct;
    LibusbDouble::DevicePlace place;
    uint16_t idVendor = CalcFinder::casioVendorId;
};
using Bus = std::vector<Device>;

Device device(uint16_t idProduct, std::vector<uint8_t> ports, const char* serial = nullptr,
              bool busy = false, uint8_t bus = 1, uint16_t idVendor = 0x07CF) {
    Device made{idProduct, {bus, std::move(ports), std::nullopt, std::nullopt, busy}, idVendor};
    if (serial != nullptr) {
        made.place.serial = serial;
    }
    return made;
}

std::string nameOf(const Device& device) {
    std::string name = std::to_string(device.place.bus);
    for (size_t i = 0; i < device.place.ports.size(); ++i) {
        name += (i == 0 ? "-" : ".") + std::to_string(device.place.ports[i]);
    }
    return name;
}

const Device rootHub = device(0x0002, {}, nullptr, false, 1, 0x1D6B);
const Device keyboard = device(0xC31C, {2}, nullptr, false, 1, 0x046D); // no Casio
const Device link1 = device(0x6101, {4, 1}, "S1");
const Device link2 = device(0x6101, {4, 2}, "S2");
const Device link3 = device(0x6101, {4, 7, 1}, "S3");
const Device drive2 = device(0x6102, {4, 2}, "S2");

class CalcDoubleTest : public ::testing::Test {
protected:
    void attach(const Bus& bus) {
        LibusbDouble::reset();
        Log::setLoglevel(-1);
        context.initUsbContext();
        for (const Device& device : bus) {
            LibusbDouble::addDeviceAt(device.idVendor, device.idProduct, device.place);
        }
    }

    UsbContext context;
};

struct ChoiceCase {
    const char* name;
    Bus bus;
    const char* chosen;
    CalcChoice choice;
    const char* address; // of the calculator chosen; empty when none is
};

const std::vector<ChoiceCase> choiceCases = {
    {"only other devices", {rootHub, keyboard}, "", CalcChoice::NoneAttached, ""},
    {"the only one", {rootHub, keyboard, link1}, nullptr, CalcChoice::Opened, "1-4.1"},
    {"several, none chosen", {link1, link2, link3}, "", CalcChoice::SeveralAttached, ""},
    {"by address", {link1, link2, link3}, "1-4.2", CalcChoice::Opened, "1-4.2"},
    {"by a deeper address", {link1, link2, link3}, "1-4.7.1", CalcChoice::Opened, "1-4.7.1"},
    {"by serial", {link1, link2, link3}, "S3", CalcChoice::Opened, "1-4.7.1"},
    {"an absent address", {link1, link2, link3}, "1-9", CalcChoice::NotAttached, ""},
    {"a hub's address", {link1, link2, link3}, "1-4", CalcChoice::NotAttached, ""},
    {"another bus", {link1}, "2-4.1", CalcChoice::NotAttached, ""},
    {"a drive by address", {link1, drive2, link3}, "1-4.2", CalcChoice::IsDrive, "1-4.2"},
    {"a drive by serial", {link1, drive2, link3}, "S2", CalcChoice::IsDrive, "1-4.2"},
    {"a link beside a drive", {link1, drive2, link3}, "S3", CalcChoice::Opened, "1-4.7.1"},
    {"a drive and a link", {link1, drive2}, "", CalcChoice::SeveralAttached, ""},
    {"only a drive", {device(0x6103, {1}, nullptr, false, 2)}, "", CalcChoice::IsDrive, "2-1"},
    {"an address beats a serial",
     {device(0x6101, {4, 1}, "1-4.2"), link2},
     "1-4.2",
     CalcChoice::Opened,
     "1-4.2"},
    {"one serial twice", {link1, device(0x6101, {4, 2}, "S1")}, "S1", CalcChoice::Ambiguous, ""},
    {"no serial", {device(0x6101, {4, 1}, "")}, "x", CalcChoice::NotAttached, ""},
    {"held elsewhere", {device(0x6101, {4, 1}, "S1", true)}, "", CalcChoice::Unopened, "1-4.1"},
};

TEST_F(CalcDoubleTest, ChoosesByTheRules) {
    for (const ChoiceCase& test : choiceCases) {
        SCOPED_TRACE(test.name);
        attach(test.bus);
        libusb_device_handle* handle = nullptr;
        CalcDescription description{};
        EXPECT_EQ(CalcChooser::open(&context, test.chosen, &handle, &description), test.choice);
        EXPECT_STREQ(description.address, test.address);
        const bool opened = test.choice == CalcChoice::Opened;
        EXPECT_EQ(handle != nullptr, opened);
        EXPECT_EQ(LibusbDouble::openHandleCount(), opened ? 1 : 0);
        EXPECT_EQ(LibusbDouble::claimCount(), opened ? 1 : 0);
        if (opened) {
            const int index = LibusbDouble::openedDevice();
            EXPECT_EQ(nameOf(test.bus.at(static_cast<size_t>(index))), test.address);
            EXPECT_EQ(LibusbDouble::deviceReferences(index), 1);
            libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
        for (size_t index = 0; index < test.bus.size(); ++index) {
            EXPECT_EQ(LibusbDouble::deviceReferences(static_cast<int>(index)), 0);
        }
        EXPECT_FALSE(LibusbDouble::misuseSeen());
    }
}

// One line per calculator, as `tolvane devices` would print it.
class Lines : public CalcListener {
public:
    void calcFound(const CalcDescription& calc) override {
        lines.push_back(std::string(calc.address) + "\t" + CalcFinder::kindName(calc.kind) + "\t" +
                        calc.product + "\t" + calc.serial + (calc.busy ? "\tbusy" : ""));
    }
    std::vector<std::string> lines;
};

TEST_F(CalcDoubleTest, ListsEveryCalculatorWithoutOpeningAny) {
    Device named = device(0x6103, {1, 3, 7}, "S3", true, 2);
    named.place.product = "fx\tCG50\n";
    Device linked = link1;
    linked.place.product = "fx-9860GII";
    attach({rootHub, keyboard, device(0x1234, {5}), linked, device(0x6102, {4, 2}), named,
            device(0x6101, {255, 255, 255, 255, 255, 255, 255}, "S4", false, 255),
            device(0x6101, {})});
    LibusbDouble::addDevice(0x07CF, 0x6101, LIBUSB_ERROR_IO);
    Lines listed;
    EXPECT_FALSE(CalcFinder::listCalcs(&context, &listed));
    EXPECT_EQ(listed.lines, (std::vector<std::string>{
                                "1-4.1\tlink\tfx-9860GII\tS1", "1-4.2\tdrive\t\t",
                                "2-1.3.7\tdrive\tfx?CG50?\tS3\tbusy",
                                "255-255.255.255.255.255.255.255\tlink\t\tS4", "1:8\tlink\t\t"}));
    LibusbDouble::setDeviceListResult(LIBUSB_ERROR_NO_MEM);
    EXPECT_TRUE(CalcFinder::listCalcs(&context, &listed));
    EXPECT_EQ(LibusbDouble::openCount(), 0);
}

TEST(CalcAddressTest, OrdersAddressesPortByPort) {
    const std::vector<std::tuple<const char*, const char*, int>> cases = {
        {"1-4.2", "1-4.10", -1},   {"1-4", "1-4.1", -1}, {"2-1", "1-4.7", 1},
        {"1-4.7.1", "1-4.7.1", 0}, {"10-1", "9-1", 1},   {"1-4.7", "1-4.7.1", -1},
        {"1-5", "1-4.7.1", 1},     {"1:5", "1-4", 1}};
    for (const auto& [first, second, order] : cases) {
        EXPECT_EQ(CalcFinder::compareAddresses(first, second), order) << first << " " << second;
        EXPECT_EQ(CalcFinder::compareAddresses(second, first), -order) << second << " " << first;
    }
}

} // namespace
