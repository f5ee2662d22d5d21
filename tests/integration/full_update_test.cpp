// full_update_test.cpp - a whole-flash update through the boot protocol: afterwards the device's
// flash equals the image in every programmed block.
#include <gtest/gtest.h>

#include "device_link.h"
#include "firmware/programmer.h"

namespace {

class FullUpdate : public tqtest::DeviceLinkTest {};

TEST_F(FullUpdate, ImageFillingBlocksZeroToSixLandsInFlash) {
    Configure([](sim::DeviceModel& m) {
        m.FillFlash(0x00);
        m.EnterBootMode();
    });
    OpenSession();
    firmware::Image image;
    image.fill(0xFF);
    uint32_t seed = 12345;
    for (int row = 0; row < firmware::kProgrammedRows; ++row) {
        const firmware::BootBlock& b = firmware::BootBlockTable[row];
        for (uint32_t a = b.start; a < b.start + b.size; ++a) {
            seed = seed * 1103515245u + 12345u;
            image[a] = static_cast<uint8_t>(seed >> 16);
        }
    }
    ASSERT_EQ(firmware::ProgramFirmwareImage(image), firmware::kProgramOk);
    ASSERT_TRUE(device->WaitForBootMode(false, 2000));  // the end byte took it back
    const sim::FlashImage flash = device->Flash();
    for (int row = 0; row < firmware::kProgrammedRows; ++row) {
        const firmware::BootBlock& b = firmware::BootBlockTable[row];
        for (uint32_t a = b.start; a < b.start + b.size; ++a) {
            ASSERT_EQ(flash[a], image[a]) << "at " << std::hex << a;
        }
    }
    EXPECT_EQ(flash[0xF000], 0x00);  // row 7 is never touched
}

}  // namespace
