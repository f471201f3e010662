#include "CalcChooser.h"
#include "CalcFinder.h"
#include "LibusbDouble.h"
#include "Log.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Placed = LibusbDouble::PlacedDevice;
using Bus = std::vector<Placed>;

const Placed rootHub{0x0002, {}, {}, false, 1, 0x1D6B};
const Placed keyboard{0xC31C, {2}, {}, false, 1, 0x046D};
const Placed link1{0x6101, {4, 1}, "S1"};
const Placed link2{0x6101, {4, 2}, "S2"};
const Placed link3{0x6101, {4, 7, 1}, "S3"};
const Placed drive2{0x6102, {4, 2}, "S2"};
const Placed oddSerial{0x6101, {4, 1}, "1-4.2"};

class CalcDoubleTest : public ::testing::Test {
protected:
    void attach(const Bus& bus) {
        LibusbDouble::reset();
        Log::setLoglevel(-1);
        context.initUsbContext();
        for (const Placed& device : bus) {
            LibusbDouble::addDeviceAt(device);
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
    {"only a drive", {{0x6103, {1}, {}, false, 2}}, "", CalcChoice::IsDrive, "2-1"},
    {"address over serial", {oddSerial, link2}, "1-4.2", CalcChoice::Opened, "1-4.2"},
    {"one serial twice", {link1, {0x6101, {4, 2}, "S1"}}, "S1", CalcChoice::Ambiguous, ""},
    {"no serial", {{0x6101, {4, 1}, ""}}, "x", CalcChoice::NotAttached, ""},
    {"held elsewhere", {{0x6101, {4, 1}, "S1", true}}, "", CalcChoice::Busy, "1-4.1"},
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
        EXPECT_EQ(LibusbDouble::openCount(), opened ? 1 : 0);
        EXPECT_EQ(LibusbDouble::claimCount(), opened ? 1 : 0);
        if (opened) {
            EXPECT_EQ(LibusbDouble::openedDevice(), LibusbDouble::deviceNamed(test.address));
            EXPECT_EQ(LibusbDouble::deviceReferences(LibusbDouble::openedDevice()), 1);
            libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
        for (int index = 0; index < static_cast<int>(test.bus.size()); ++index) {
            EXPECT_EQ(LibusbDouble::deviceReferences(index), 0);
        }
        EXPECT_FALSE(LibusbDouble::misuseSeen());

        const bool found =
            opened || test.choice == CalcChoice::IsDrive || test.choice == CalcChoice::Busy;
        CalcDescription chosen{};
        EXPECT_EQ(CalcChooser::find(&context, test.chosen, &chosen),
                  found ? CalcChoice::Found : test.choice);
        EXPECT_STREQ(chosen.address, found ? test.address : "");
        EXPECT_EQ(LibusbDouble::openCount(), opened ? 1 : 0) << "find opens nothing";
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
    const char* const strange = "fx\tCG\xC2\x9B\xFF\xC3\xA9\xE2\x82\n"; // controls, no UTF-8
    const Placed named{0x6101, {4, 1}, "S1", false, 1, 0x07CF, "fx-9860"};
    const Placed odd{0x6103, {1, 3, 7}, "S3", true, 2, 0x07CF, strange};
    const Placed deepest{0x6101, {255, 255, 255, 255, 255, 255, 255}, "S4", false, 255};
    attach({rootHub, keyboard, {0x1234, {5}}, named, {0x6102, {4, 2}}, odd, deepest, {0x6101}});
    LibusbDouble::addDevice(0x07CF, 0x6101, LIBUSB_ERROR_IO);
    Lines listed;
    EXPECT_FALSE(CalcFinder::listCalcs(&context, &listed));
    EXPECT_EQ(listed.lines, (std::vector<std::string>{
                                "1-4.1\tlink\tfx-9860\tS1", "1-4.2\tdrive\t\t", "1:8\tlink\t\t",
                                "2-1.3.7\tdrive\tfx?CG??\xC3\xA9???\tS3\tbusy",
                                "255-255.255.255.255.255.255.255\tlink\t\tS4"}));
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
