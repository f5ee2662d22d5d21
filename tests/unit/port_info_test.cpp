// port_info_test.cpp - the serial ports made of what sysfs and SetupAPI
// answered (recorded from real systems), and the port --port auto or a USB
// serial number chooses.
#include "platform/port_info.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using platform::ports::Choice;
using platform::ports::PortInfo;

// A sysfs tree as attribute files and their texts.
using Tree = std::map<std::string, std::string>;

platform::ports::ReadAttribute Reader(const Tree& tree) {
    return [&tree](const std::string& path, std::string& text) {
        const auto it = tree.find(path);
        if (it == tree.end()) return false;
        text = it->second;
        return true;
    };
}

const char kFtdiUsb[] = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
const char kCh340Usb[] = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
const char kAcmUsb[] = "/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1";

const Tree kSysfs = {
    {std::string(kFtdiUsb) + "/idVendor", "0403"},
    {std::string(kFtdiUsb) + "/idProduct", "6001"},
    {std::string(kFtdiUsb) + "/serial", "A12B3C"},
    {std::string(kFtdiUsb) + "/manufacturer", "FTDI"},
    {std::string(kFtdiUsb) + "/product", "FT232R USB UART"},
    // A CH340 has no serial number.
    {std::string(kCh340Usb) + "/idVendor", "1a86"},
    {std::string(kCh340Usb) + "/idProduct", "7523"},
    {std::string(kCh340Usb) + "/product", "USB Serial"},
    // A CDC ACM adapter whose product name is Japanese (UTF-8 in sysfs).
    {std::string(kAcmUsb) + "/idVendor", "2341"},
    {std::string(kAcmUsb) + "/idProduct", "0043"},
    {std::string(kAcmUsb) + "/serial", "7533031373135"},
    {std::string(kAcmUsb) + "/manufacturer", "\xe6\xa0\xaa\xe5\xbc\x8f\xe4\xbc\x9a\xe7\xa4\xbe"},
    {std::string(kAcmUsb) + "/product", "\xe3\x82\xb7\xe3\x83\xaa\xe3\x82\xa2\xe3\x83\xab"},
    // A folder above the USB device with an idVendor of its own is never reached.
    {"/sys/devices/pci0000:00/0000:00:14.0/idVendor", "8086"},
};

TEST(PortInfo, SysfsTtysAsTheKernelTellsThem) {
    const struct {
        const char* dev;
        std::string devicePath;
        const char* driver;
        PortInfo want;
    } cases[] = {
        {"/dev/ttyUSB0",
         std::string(kFtdiUsb) + "/1-2:1.0/ttyUSB0",
         "ftdi_sio",
         {"/dev/ttyUSB0", "FT232R USB UART", true, 0x0403, 0x6001, "A12B3C", "FTDI", "ftdi_sio", {}, ""}},
        {"/dev/ttyUSB1",
         std::string(kCh340Usb) + "/1-3:1.0/ttyUSB1",
         "ch341-uart",
         {"/dev/ttyUSB1", "USB Serial", true, 0x1a86, 0x7523, "", "", "ch341-uart", {}, ""}},
        {"/dev/ttyACM0",
         std::string(kAcmUsb) + "/3-1:1.0",
         "cdc_acm",
         {"/dev/ttyACM0",
          "\xe3\x82\xb7\xe3\x83\xaa\xe3\x82\xa2\xe3\x83\xab",
          true,
          0x2341,
          0x0043,
          "7533031373135",
          "\xe6\xa0\xaa\xe5\xbc\x8f\xe4\xbc\x9a\xe7\xa4\xbe",
          "cdc_acm",
          {},
          ""}},
        // A UART on the board: no USB parent.
        {"/dev/ttyS0",
         "/sys/devices/pnp0/00:01",
         "serial",
         {"/dev/ttyS0", "Communications Port", false, 0, 0, "", "", "serial", {}, ""}},
        // A tty whose device link did not resolve.
        {"/dev/ttyUSB9", "", "", {"/dev/ttyUSB9", "", false, 0, 0, "", "", "", {}, ""}},
    };
    for (const auto& c : cases) {
        const PortInfo got = platform::ports::DescribeSysfsTty(c.dev, c.devicePath, c.driver, Reader(kSysfs));
        EXPECT_EQ(got.name, c.want.name);
        EXPECT_EQ(got.friendly, c.want.friendly) << c.dev;
        EXPECT_EQ(got.usb, c.want.usb) << c.dev;
        EXPECT_EQ(got.vid, c.want.vid) << c.dev;
        EXPECT_EQ(got.pid, c.want.pid) << c.dev;
        EXPECT_EQ(got.serial, c.want.serial) << c.dev;
        EXPECT_EQ(got.manufacturer, c.want.manufacturer) << c.dev;
        EXPECT_EQ(got.driver, c.want.driver) << c.dev;
    }
}

TEST(PortInfo, SetupApiPortsAsWindowsTellsThem) {
    using platform::ports::SetupApiAnswers;
    const struct {
        SetupApiAnswers a;
        bool port;
        PortInfo want;
    } cases[] = {
        // FTDI's own bus driver: the serial number in its instance id, less the channel letter.
        {{"USB Serial Port (COM7)", "FTDIBUS\\COMPORT&VID_0403&PID_6001", "FTDIBUS\\VID_0403+PID_6001+A12B3CA\\0000",
          "USB\\VID_0403&PID_6001\\A12B3C", "COM7", "FTDI", "FTDIBUS"},
         true,
         {"COM7", "USB Serial Port", true, 0x0403, 0x6001, "A12B3C", "FTDI", "FTDIBUS", {}, ""}},
        // usbser.sys: the port is the USB device; its serial is the instance id's tail.
        {{"USB \xe3\x82\xb7\xe3\x83\xaa\xe3\x82\xa2\xe3\x83\xab \xe3\x83\x87\xe3\x83\x90\xe3\x82\xa4\xe3\x82\xb9 "
          "(COM3)",
          "USB\\VID_2341&PID_0043&REV_0001", "USB\\VID_2341&PID_0043\\7533031373135", "USB\\ROOT_HUB30\\4&1A2B3C4D&0",
          "COM3", "Microsoft", "usbser"},
         true,
         {"COM3",
          "USB \xe3\x82\xb7\xe3\x83\xaa\xe3\x82\xa2\xe3\x83\xab \xe3\x83\x87\xe3\x83\x90\xe3\x82\xa4\xe3\x82\xb9",
          true,
          0x2341,
          0x0043,
          "7533031373135",
          "Microsoft",
          "usbser",
          {},
          ""}},
        // A CH340 with no serial number: Windows makes up an instance id with '&'.
        {{"USB-SERIAL CH340 (COM4)", "USB\\VID_1A86&PID_7523&REV_0264", "USB\\VID_1A86&PID_7523\\5&2C3D4E5F&0&2", "",
          "COM4", "wch.cn", "CH341SER_A64"},
         true,
         {"COM4", "USB-SERIAL CH340", true, 0x1a86, 0x7523, "", "wch.cn", "CH341SER_A64", {}, ""}},
        // The board's UART: no USB parent.
        {{"Communications Port (COM1)", "ACPI\\VEN_PNP&DEV_0501", "ACPI\\PNP0501\\1", "ACPI\\PNP0A08\\0", "COM1",
          "(Standard port types)", "Serial"},
         true,
         {"COM1", "Communications Port", false, 0, 0, "", "(Standard port types)", "Serial", {}, ""}},
        // A printer port of the same class is no serial port.
        {{"Printer Port (LPT1)", "ACPI\\PNP0400", "ACPI\\PNP0400\\1", "", "LPT1", "(Standard port types)", "Parport"},
         false,
         {}},
    };
    for (const auto& c : cases) {
        PortInfo got;
        ASSERT_EQ(platform::ports::DescribeSetupApiPort(c.a, got), c.port) << c.a.friendlyName;
        if (!c.port) continue;
        EXPECT_EQ(got.name, c.want.name);
        EXPECT_EQ(got.friendly, c.want.friendly) << c.a.friendlyName;
        EXPECT_EQ(got.usb, c.want.usb) << c.a.friendlyName;
        EXPECT_EQ(got.vid, c.want.vid) << c.a.friendlyName;
        EXPECT_EQ(got.pid, c.want.pid) << c.a.friendlyName;
        EXPECT_EQ(got.serial, c.want.serial) << c.a.friendlyName;
        EXPECT_EQ(got.manufacturer, c.want.manufacturer) << c.a.friendlyName;
        EXPECT_EQ(got.driver, c.want.driver) << c.a.friendlyName;
    }
}

PortInfo Port(const char* name, bool usb, const char* serial) {
    PortInfo p;
    p.name = name;
    p.usb = usb;
    p.serial = serial;
    return p;
}

TEST(PortInfo, AutoAndSerialNumbersChooseOneAdapterOrSaySo) {
    const PortInfo uart = Port("COM1", false, "");
    const PortInfo ftdi = Port("COM7", true, "A12B3C");
    const PortInfo ch340 = Port("COM4", true, "");
    const PortInfo twin = Port("COM9", true, "A12B3C");
    const struct {
        const char* arg;
        std::vector<PortInfo> ports;
        Choice choice;
        const char* chosen;
    } cases[] = {
        {"auto", {}, Choice::NoneFound, ""},
        {"auto", {uart}, Choice::NoneFound, ""},
        {"auto", {uart, ftdi}, Choice::Chosen, "COM7"},
        {"auto", {ftdi, uart, ch340}, Choice::Several, ""},
        {"A12B3C", {uart, ftdi}, Choice::Chosen, "COM7"},
        {"A12B3C", {ftdi, twin}, Choice::Several, ""},
        {"A12B3C", {uart}, Choice::AsGiven, ""},  // not present: the open says so
        {"COM1", {uart, ftdi}, Choice::AsGiven, ""},
        {"", {ch340}, Choice::AsGiven, ""},  // no serial number matches an empty word
    };
    for (const auto& c : cases) {
        std::string chosen;
        EXPECT_EQ(platform::ports::ChoosePort(c.arg, c.ports, chosen), c.choice) << c.arg << " " << c.ports.size();
        if (c.choice == Choice::Chosen) {
            EXPECT_EQ(chosen, c.chosen) << c.arg;
        }
    }
}

TEST(PortInfo, SummariesNameWhatIsKnown) {
    PortInfo ftdi = Port("COM7", true, "A12B3C");
    ftdi.friendly = "USB Serial Port";
    ftdi.manufacturer = "FTDI";
    ftdi.vid = 0x0403;
    ftdi.pid = 0x6001;
    PortInfo uart = Port("COM1", false, "");
    uart.friendly = "Communications Port";
    PortInfo held = Port("/dev/ttyUSB0", true, "");
    held.vid = 0x1a86;
    held.pid = 0x7523;
    held.inUse = platform::ports::InUse::Yes;
    held.holder = "minicom (pid 4242)";
    EXPECT_EQ(platform::ports::PortSummary(ftdi), "COM7 (USB Serial Port, FTDI 0403:6001, serial A12B3C)");
    EXPECT_EQ(platform::ports::PortSummary(Port("COM2", false, "")), "COM2");
    EXPECT_EQ(platform::ports::PortSummary(held), "/dev/ttyUSB0 (1a86:7523, in use by minicom (pid 4242))");
    EXPECT_EQ(platform::ports::PortsSummary({uart, ftdi}),
              "COM1 (Communications Port), COM7 (USB Serial Port, FTDI 0403:6001, serial A12B3C)");
    EXPECT_EQ(platform::ports::PortsSummary({}), "none");
}

}  // namespace
