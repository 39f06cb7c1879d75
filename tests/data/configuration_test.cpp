#include "flashkit/data/configuration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/posix/profile_file.h"
#include "tests/data/temp_folder.h"

namespace flashkit {
namespace {

using flashkit_test::ReadAll;
using flashkit_test::TempFolder;

class ConfigurationTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& content) {
    return folder_.Write(kConfigurationFileName, content);
  }
  std::string Path() const { return folder_.File(kConfigurationFileName); }

  TempFolder folder_;
  platform::ProfileFile profile_;
};

TEST_F(ConfigurationTest, OnlyFirmwareSectionGivesTheDefaults) {
  Write("[Firmware]\r\nFirmware=C:\\fw\\image.hex\r\nBootloader=boot.bin\r\n");
  const Identity identity = ReadIdentity(profile_, Path());
  EXPECT_EQ(identity.vendorId, "0402");
  EXPECT_EQ(identity.productId, "4826");
  EXPECT_EQ(identity.productString, "USB 2.0 Storage Device");
  EXPECT_EQ(identity.serialString,
            "12345"
            "0001"
            "01234567890");
  std::string firmware;
  std::string loader;
  EXPECT_TRUE(ReadFirmwarePath(profile_, Path(), firmware));
  EXPECT_EQ(firmware, "C:\\fw\\image.hex");
  EXPECT_TRUE(ReadBootloaderPath(profile_, Path(), loader));
  EXPECT_EQ(loader, "boot.bin");
  EXPECT_EQ(ReadPlaceDescriptor(profile_, Path()), 1);
}

TEST_F(ConfigurationTest, EmptyValuesCountAsMissing) {
  Write("[K4826]\nVID=\nPID=1234\nserial=\nmanufacturer=ACME1\n[Firmware]\nFirmware=\n");
  const Identity identity = ReadIdentity(profile_, Path());
  EXPECT_EQ(identity.vendorId, "0402");
  EXPECT_EQ(identity.productId, "1234");
  EXPECT_EQ(identity.serialString,
            "ACME1"
            "0001"
            "01234567890");
  std::string firmware = "stale";
  EXPECT_FALSE(ReadFirmwarePath(profile_, Path(), firmware));
  EXPECT_FALSE(ReadBootloaderPath(profile_, Path(), firmware));
}

TEST_F(ConfigurationTest, MissingFileGivesDefaultsAndNoImages) {
  const Identity identity = ReadIdentity(profile_, Path());
  EXPECT_EQ(identity.serialString, "12345000101234567890");
  std::string firmware;
  EXPECT_FALSE(ReadFirmwarePath(profile_, Path(), firmware));
  EXPECT_EQ(ReadPlaceDescriptor(profile_, Path()), 1);
}

TEST_F(ConfigurationTest, InitialBit40ClearsPlaceDescriptor) {
  struct Case {
    const char* line;
    int place;
  };
  const Case cases[] = {{"initial=64", 0},  {"initial=0x40", 0}, {"initial=95", 0},
                        {"initial=31", 1},  {"initial=0", 1},    {"", 1},
                        {"initial=abc", 1}, {"initial=", 1}};
  for (const Case& c : cases) {
    Write(std::string("[K4826]\n") + c.line + "\n");
    EXPECT_EQ(ReadPlaceDescriptor(profile_, Path()), c.place) << c.line;
  }
}

TEST_F(ConfigurationTest, LongValuesAreCutAtTheirBuffers) {
  Write("[K4826]\ndescriptor=" + std::string(300, 'd') + "\nVID=" + std::string(150, 'v') +
        "\n[Firmware]\nFirmware=" + std::string(400, 'f') + "\n");
  const Identity identity = ReadIdentity(profile_, Path());
  EXPECT_EQ(identity.productString, std::string(259, 'd'));
  EXPECT_EQ(identity.vendorId, std::string(99, 'v'));
  std::string firmware;
  EXPECT_TRUE(ReadFirmwarePath(profile_, Path(), firmware));
  EXPECT_EQ(firmware, std::string(259, 'f'));
}

TEST_F(ConfigurationTest, ShortPrefixPartsMoveTheSplitIntoSerial) {
  Write(
      "; production line 3\r\n[K4826]\r\nmanufacturer=ABC\r\nserial0=DE\r\n"
      "serial=01234567890\r\n");
  const Identity identity = ReadIdentity(profile_, Path());
  ASSERT_EQ(identity.serialString, "ABCDE01234567890");
  const std::string next = NextSerialNumber(identity.serialString);
  EXPECT_EQ(next,
            "ABCDE0123"
            "4567891");
  WriteBackSerial(profile_, Path(), next);
  char value[100];
  ASSERT_EQ(profile_.GetString("K4826", "serial", "", value, sizeof value, Path()), 7u);
  EXPECT_STREQ(value, "4567891");
  EXPECT_EQ(ReadAll(Path()),
            "; production line 3\r\n[K4826]\r\nmanufacturer=ABC\r\nserial0=DE\r\n"
            "serial=4567891\r\n");
}

TEST_F(ConfigurationTest, SerialOfNineCharactersWritesNothing) {
  WriteBackSerial(profile_, Path(), "123450001");
  EXPECT_FALSE(std::filesystem::exists(Path()));
  Write("[K4826]\nserial=42\n");
  WriteBackSerial(profile_, Path(), "ABC");
  EXPECT_EQ(ReadAll(Path()), "[K4826]\nserial=42\n");
}

TEST(ConfigurationPaths, FileNamesBesideTheModule) {
  EXPECT_EQ(ConfigurationPathIn("/opt/kit/"), "/opt/kit/K4826.ini");
  EXPECT_EQ(ConfigurationPathIn("C:\\kit\\"), "C:\\kit\\K4826.ini");
  EXPECT_EQ(LogPathFor("/opt/kit/K4826.ini"), "/opt/kit/K4826.log");
  EXPECT_EQ(LogPathFor("C:\\kit\\K4826.ini"), "C:\\kit\\K4826.log");
  EXPECT_EQ(LogPathFor("K4826.ini"), "K4826.log");
}

}  // namespace
}  // namespace flashkit
