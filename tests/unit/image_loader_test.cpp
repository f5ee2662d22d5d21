// image_loader_test.cpp - the firmware loader: S-record reading rules, line ends, the model record,
// and that nothing lands outside the image whatever the file says.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/image_loader.h"
#include "platform/posix/posix_hooks.h"

namespace {

class ImageLoader : public ::testing::Test {
protected:
    void SetUp() override {
        platform::posix::ResetUi();
        path = ::testing::TempDir() + "tq_loader_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
               ".mot";
        image.fill(0xFF);
    }
    void TearDown() override { std::remove(path.c_str()); }

    int Parse(const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        model = 0;
        return firmware::ParseFirmwareFile(path.c_str(), image, model);
    }
    int Load(const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        std::strcpy(firmware::FirmwarePath, path.c_str());
        return firmware::LoadFirmwareImage();
    }
    int Boxes() { return static_cast<int>(platform::posix::BoxesShown().size()); }
    bool AllFF(const firmware::Image& img, uint32_t from, uint32_t to) {
        for (uint32_t a = from; a < to; ++a) {
            if (img[a] != 0xFF) return false;
        }
        return true;
    }

    std::string path;
    firmware::Image image;
    int model = 0;
};

// S1 at 0x3000 with four data bytes; checksum not verified.
const char kS1At3000[] = "S10730001122334400";

TEST_F(ImageLoader, ModelRecordDataAndEndRecord) {
    EXPECT_EQ(Load(std::string("S00600004844521B\r\nTQ2\r\n") + kS1At3000 + "\r\nS9030000FC\r\n"), 0x71);
    EXPECT_EQ(Boxes(), 0);
    const auto& img = firmware::FirmwareImage;
    EXPECT_EQ(img[0x3000], 0x11);
    EXPECT_EQ(img[0x3003], 0x44);
    EXPECT_TRUE(AllFF(img, 0, 0x3000));
    EXPECT_TRUE(AllFF(img, 0x3004, 0x10000));
}

TEST_F(ImageLoader, EveryLineEndReadsTheSame) {
    for (const char* end : {"\r\n", "\n", "\r", "\n\r"}) {
        image.fill(0xFF);
        const std::string text = std::string("TQ1") + end + kS1At3000 + end + "S9030000FC" + end;
        EXPECT_EQ(Parse(text), 1) << "line end " << int(end[0]);
        EXPECT_EQ(model, 0x70);
        EXPECT_EQ(image[0x3002], 0x33);
    }
}

TEST_F(ImageLoader, BlankLineEndsTheParse) {
    EXPECT_EQ(Parse(std::string("TQ1\r\n\r\n") + kS1At3000 + "\r\nS9030000FC\r\n"), 0);
    EXPECT_EQ(image[0x3000], 0xFF);
}

TEST_F(ImageLoader, RecordBelow3000IsSkippedWhole) {
    std::string s1 = "S123"
                     "2FF0";
    for (int i = 0; i < 32; ++i) s1 += "AB";
    s1 += "00";
    EXPECT_EQ(Parse(s1 + "\nS9030000FC\n"), 1);
    EXPECT_TRUE(AllFF(image, 0x2FF0, 0x3010));
}

TEST_F(ImageLoader, S2At00A000IsStoredLikeS1AndLowerCaseHexLoads) {
    EXPECT_EQ(Parse("S20800a000deadbeef00\nS804000000FB\n"), 1);
    EXPECT_EQ(image[0xA000], 0xDE);
    EXPECT_EQ(image[0xA003], 0xEF);
}

TEST_F(ImageLoader, ModelRecordAfterEndRecordStillCounts) {
    EXPECT_EQ(Parse("S9030000FC\nTQ3\n"), 1);
    EXPECT_EQ(model, 0x72);
}

TEST_F(ImageLoader, UnknownModelNumberEndsTheParseAndBringsTheBox) {
    EXPECT_EQ(Load(std::string("TQ5\n") + kS1At3000 + "\nS9030000FC\n"), 0);
    EXPECT_EQ(Boxes(), 1);
    EXPECT_EQ(platform::posix::BoxesShown()[0], "Cannot read S-Format file.");
    EXPECT_EQ(firmware::FirmwareImage[0x3000], 0xFF);
}

TEST_F(ImageLoader, MissingEmptyOrEndlessFilesBringTheBox) {
    std::strcpy(firmware::FirmwarePath, "/nonexistent/dir/fw.mot");
    EXPECT_EQ(firmware::LoadFirmwareImage(), 0);
    EXPECT_TRUE(AllFF(firmware::FirmwareImage, 0, 0x10000));
    EXPECT_EQ(Load(""), 0);
    EXPECT_EQ(Load(std::string("TQ1\n") + kS1At3000 + "\nS705000000FA\n"), 0);  // S7 is no end record
    EXPECT_EQ(Boxes(), 3);
    EXPECT_EQ(firmware::FirmwareImage[0x3000], 0x11);  // what was read before stays
}

TEST_F(ImageLoader, ACommandLinePathThatCouldNotBeCarriedOpensNoFileAtAll) {
    // Not the file of FirmwarePath, and not "enc73.mot" either: the engineer
    // named another file, so nothing is read and the log says why.
    for (const auto carry : {platform::PathCarry::TooLong, platform::PathCarry::Unpaired}) {
        platform::posix::ResetUi();
        firmware::FirmwarePathCarry = carry;
        EXPECT_EQ(Load(std::string("TQ1\n") + kS1At3000 + "\nS9030000FC\n"), 0);
        firmware::FirmwarePathCarry = platform::PathCarry::Ok;
        EXPECT_EQ(platform::posix::BoxesShown(), std::vector<std::string>{"Cannot read S-Format file."});
        EXPECT_EQ(platform::posix::LogHistory(),
                  std::vector<std::string>{std::string("firmware file: ") + platform::PathCarryText(carry) +
                                           " (the firmware path given): nothing was opened"});
        EXPECT_TRUE(AllFF(firmware::FirmwareImage, 0, 0x10000));
    }
    EXPECT_EQ(Load(std::string("TQ1\n") + kS1At3000 + "\nS9030000FC\n"), 0x70);  // carried: read
}

TEST_F(ImageLoader, OnlyAnEndRecordGivesNoModelAndNoBox) {
    EXPECT_EQ(Load("S9030000FC\n"), 0);
    EXPECT_EQ(Boxes(), 0);
    EXPECT_TRUE(AllFF(firmware::FirmwareImage, 0, 0x10000));
}

TEST_F(ImageLoader, S3RecordsAndOtherSLinesStoreNothing) {
    EXPECT_EQ(Parse("S30900003000AABBCCDD00\nS5030001FB\nSX\nS9030000FC\n"), 1);
    EXPECT_TRUE(AllFF(image, 0, 0x10000));
}

TEST_F(ImageLoader, LastLineWithoutLineEndIsRead) {
    EXPECT_EQ(Parse(std::string(kS1At3000) + "\nS9030000FC"), 1);
    EXPECT_EQ(image[0x3000], 0x11);
}

// The window is topped up after every line. When the line before the end
// record is long, the window that holds it ends inside the end record, and
// the read that brings the end record's rest comes back short without
// reaching the end of the file yet. An end record without a line end must be
// read all the same, wherever the window cut it.
TEST_F(ImageLoader, LastLineWithoutLineEndIsReadWhereverTheWindowCutsIt) {
    // Characters of the S0 line before the end record: with its CR LF the
    // window that starts there ends 0 to 8 characters into "S9030000FC".
    for (size_t before : {100u, 116u, 117u, 118u, 121u, 124u, 125u}) {
        const std::string text =
            std::string("TQ2\r\n") + kS1At3000 + "\r\nS0" + std::string(before - 2, '0') + "\r\nS9030000FC";
        SCOPED_TRACE("line before the end record: " + std::to_string(before) + " characters");
        EXPECT_EQ(Load(text), 0x71);
        EXPECT_EQ(Boxes(), 0);
        EXPECT_EQ(firmware::FirmwareImage[0x3000], 0x11);
        platform::posix::ResetUi();
    }
}

// Without a line end the last line may take 127 characters, as a line
// with one line end may; a full window without a line end is a line too long
// however the file ends.
TEST_F(ImageLoader, LastLineWithoutLineEndHoldsAtMost127Characters) {
    const std::string head = std::string("TQ1\r\n") + kS1At3000 + "\r\n";
    EXPECT_EQ(Parse(head + "S9030000FC" + std::string(117, '0')), 1);
    EXPECT_EQ(Parse(head + "S9030000FC" + std::string(118, '0')), 0);
    EXPECT_EQ(Parse(head + "S9030000FC" + std::string(117, '0') + "\r"), 1);
}

TEST_F(ImageLoader, LinesThatExactlyFillTheWindowDoNotEndTheFile) {
    // 126 characters + CR LF fill the 128-byte window exactly; the records
    // behind such a line are read all the same.
    std::string header = "S0";
    header += std::string(124, '0');
    EXPECT_EQ(Parse(header + "\r\n" + kS1At3000 + "\r\nS9030000FC\r\n"), 1);
    EXPECT_EQ(image[0x3000], 0x11);
}

TEST_F(ImageLoader, ALineTooLongForTheWindowEndsTheParse) {
    std::string longLine = "S0" + std::string(200, '0');
    EXPECT_EQ(Parse(longLine + "\n" + kS1At3000 + "\nS9030000FC\n"), 0);
    EXPECT_EQ(image[0x3000], 0xFF);
}

TEST_F(ImageLoader, NothingIsWrittenOutsideTheImage) {
    // S2 beyond 64 KB, a record running past 0xFFFF, and a byte count that
    // claims far more than the line holds.
    EXPECT_EQ(Parse("S2080100001122334400\n"
                    "S107FFFE1122334400\n"
                    "S1FF4000AABB00\n"
                    "S9030000FC\n"),
              1);
    EXPECT_EQ(image[0x0000], 0xFF);  // 0x010000 does not wrap to 0
    EXPECT_EQ(image[0xFFFE], 0x11);
    EXPECT_EQ(image[0xFFFF], 0x22);
    EXPECT_EQ(image[0x4000], 0xAA);
    EXPECT_EQ(image[0x4001], 0xBB);
    EXPECT_EQ(image[0x4002], 0xFF);  // the line's last pair is its checksum
}

TEST_F(ImageLoader, ByteCountsTooSmallStoreNothing) {
    EXPECT_EQ(Parse("S1023000AA\nS2033000000\nS9030000FC\n"), 1);
    EXPECT_TRUE(AllFF(image, 0, 0x10000));
}

TEST_F(ImageLoader, IntelHexLinesArePassedOverWithoutDecoding) {
    EXPECT_EQ(Parse(":10300000112233445566778899AABBCCDDEEFF0011\nS9030000FC\n"), 1);
    EXPECT_TRUE(AllFF(image, 0, 0x10000));
    EXPECT_EQ(Parse(":1030001011\nS9030000FC\n"), 0);  // no 0 at position 7: ends the parse
}

TEST(HexDigits, UnvalidatedConversionRule) {
    EXPECT_EQ(firmware::HexDigitValue('0'), 0);
    EXPECT_EQ(firmware::HexDigitValue('9'), 9);
    EXPECT_EQ(firmware::HexDigitValue('A'), 10);
    EXPECT_EQ(firmware::HexDigitValue('f'), 15);
    EXPECT_EQ(firmware::HexDigitValue('G'), 16);
    EXPECT_EQ(firmware::HexPairValue("GG"), static_cast<uint8_t>(16 * 16 + 16));
    EXPECT_EQ(firmware::HexPairValue("7f"), 0x7F);
}

// Data that no update writes is counted as the file is read, wherever it
// lies: below 0x3000 (its record is skipped whole), between the programmed
// blocks, in 0xF000-0xFFFF, beyond 64 KiB. The first is the lowest address.
TEST_F(ImageLoader, BytesNoProgrammedBlockTakesAreCountedWithTheFirst) {
    const struct {
        std::string text;
        uint32_t bytes;
        uint32_t first;
    } rows[] = {
        {std::string(kS1At3000) + "\r\nS1073FFC1122334400\r\n", 0, 0},
        {"S10750001122334400\r\nS10710001122334400\r\n", 8, 0x1000},
        {"S1072FFE1122334400\r\n", 4, 0x2FFE},
        {"S1073FFE1122334400\r\n", 2, 0x4000},
        {"S107F0001122334400\r\n", 4, 0xF000},
        {"S2080100001122334400\r\n", 4, 0x10000},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(Parse(r.text + "S9030000FC\r\n"), 1) << r.text;
        EXPECT_EQ(firmware::LastLoadFacts.outsideBytes, r.bytes) << r.text;
        EXPECT_EQ(firmware::LastLoadFacts.firstOutside, r.first) << r.text;
        EXPECT_FALSE(firmware::LastLoadFacts.s3Records);
    }
}

// The window says once per load what the file holds outside, and why a file
// could not be read, before the box.
TEST_F(ImageLoader, TheLogSaysWhatIsNotWrittenAndWhyAFileIsNotRead) {
    Load("TQ1\r\nS10750001122334400\r\nS9030000FC\r\n");
    ASSERT_EQ(platform::posix::LogHistory().size(), 2u);
    EXPECT_EQ(platform::posix::LogHistory()[0].rfind("firmware file " + path + ": model record TQ1, 0 pages, ", 0), 0u);
    EXPECT_EQ(platform::posix::LogHistory()[1],
              "firmware file: 4 bytes lie outside the blocks an update programs (3000-3FFF, A000-EFFF), the first "
              "at 0x5000: they are neither written nor verified");
    platform::posix::ResetUi();
    EXPECT_EQ(Load("TQ1\r\nS30900003000112233447F\r\nS70500000000FA\r\n"), 0);
    EXPECT_EQ(Boxes(), 1);
    ASSERT_EQ(platform::posix::LogHistory().size(), 1u);
    EXPECT_NE(platform::posix::LogHistory()[0].find("it holds S3 records (32-bit addresses)"), std::string::npos);
    EXPECT_TRUE(firmware::LastLoadFacts.s3Records);
}

// Every load read whole says which file it was, its model record, the pages
// an update writes and the SHA-256 of every byte of the file (sha256sum's).
TEST_F(ImageLoader, EachLoadNamesTheFileItsModelPagesAndDigest) {
    const struct {
        const char* text;
        const char* says;
    } rows[] = {
        {"TQ1\r\nS10730001122334400\r\nS9030000FC\r\n",
         "model record TQ1, 1 pages, SHA-256 e4c1a096fcd333ef8d00bb3b390b5c00a4021de6d2c304fb6bf8bea549fb9e48"},
        {"TQ3\r\nS10730001122334400\r\nS1073080AABBCCDD00\r\nS107A000CAFEBABE00\r\nS9030000FC\r\n",
         "model record TQ3, 3 pages, SHA-256 fbabaa62946b6fa10f918f4531c8a4e365f68d046ce4662bc4713baf5ad66517"},
        {"S10730001122334400\r\nS9030000FC\r\ntrailing bytes\r\n",
         "model record none, 1 pages, SHA-256 0df2a9c73dca39da83642b904bb5179e26e41e6e3343126e6e0ecb18bfa44036"},
    };
    for (const auto& r : rows) {
        platform::posix::ResetUi();
        Load(r.text);
        ASSERT_EQ(platform::posix::LogHistory().size(), 1u) << r.text;
        EXPECT_EQ(platform::posix::LogHistory()[0], "firmware file " + path + ": " + r.says);
    }
    platform::posix::ResetUi();
    Load("TQ1\r\nno end record\r\n");
    for (const std::string& line : platform::posix::LogHistory()) {
        EXPECT_EQ(line.find("SHA-256"), std::string::npos) << "a file not read whole is not named so: " << line;
    }
}

// tq73 reads its firmware file once, before the port opens: the commands of
// its run take that image, and their load still says what a load says, even
// when the file has changed since (a pipe has nothing left to give). Naming
// the path again lets go of it.
TEST_F(ImageLoader, AHeldImageStandsForTheFileUntilThePathIsSetAgain) {
    std::ofstream(path, std::ios::binary) << "TQ2\r\n" << kS1At3000 << "\r\nS10750001122334400\r\nS9030000FC\r\n";
    firmware::SetFirmwarePath(path.c_str(), platform::PathCarry::Ok);
    int held = 0;
    EXPECT_EQ(firmware::HoldFirmwareImage(held), 1);
    EXPECT_EQ(held, 0x71);
    EXPECT_TRUE(platform::posix::LogHistory().empty()) << "holding is quiet";
    std::ofstream(path, std::ios::binary) << "not a firmware file";
    EXPECT_EQ(firmware::LoadFirmwareImage(), 0x71);
    EXPECT_TRUE(firmware::FirmwareImageRead());
    EXPECT_EQ(firmware::FirmwareImage[0x3000], 0x11);
    EXPECT_EQ(Boxes(), 0);
    ASSERT_EQ(platform::posix::LogHistory().size(), 1u) << "tq73 names its held file itself";
    EXPECT_NE(platform::posix::LogHistory()[0].find("4 bytes lie outside"), std::string::npos);
    EXPECT_EQ(firmware::LoadFirmwareImage(), 0x71) << "every load of the run takes it";

    firmware::SetFirmwarePath(path.c_str(), platform::PathCarry::Ok);
    EXPECT_EQ(firmware::LoadFirmwareImage(), 0);
    EXPECT_EQ(Boxes(), 1);
    EXPECT_TRUE(firmware::FirmwareImage[0x3000] == 0xFF);
    firmware::SetFirmwarePath("", platform::PathCarry::Ok);
}

}  // namespace
