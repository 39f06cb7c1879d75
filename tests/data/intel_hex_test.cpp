#include "flashkit/data/intel_hex.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/data/temp_folder.h"

namespace flashkit {
namespace {

using flashkit_test::ReadAll;
using flashkit_test::TempFolder;

// One record with its checksum, upper case, without line end.
std::string Record(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data,
                   int checksumError = 0) {
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                     static_cast<std::uint8_t>(address >> 8),
                                     static_cast<std::uint8_t>(address & 0xFF), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  bytes.push_back(static_cast<std::uint8_t>(0x100 - sum + checksumError));
  std::string text = ":";
  char pair[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

std::vector<std::uint8_t> Sixteen(std::uint8_t first) {
  std::vector<std::uint8_t> data;
  for (int i = 0; i < 16; ++i) data.push_back(static_cast<std::uint8_t>(first + i));
  return data;
}

const std::string kEnd = ":00000001FF";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct HexCase {
  const char* label;
  std::string content;
  int result;
  // Expected non-zero bytes of the bank: {address, first value, count}, values counting up.
  std::uint32_t address = 0;
  std::uint8_t first = 0;
  std::uint32_t count = 0;
};

class HexConversion : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexConversion, OneFile) {
  const HexCase& c = GetParam();
  TempFolder folder;
  const std::string input = folder.Write("image.hex", c.content);
  const std::string output = folder.File("image.bin");
  ASSERT_EQ(ConvertHexToBanks({input}, output), c.result);
  const std::string bank = ReadAll(output);
  if (c.result != 0) {
    EXPECT_TRUE(bank.empty());
    return;
  }
  ASSERT_EQ(bank.size(), kBankSize);
  for (std::uint32_t i = 0; i < kBankSize; ++i) {
    const bool inside = i >= c.address && i < c.address + c.count;
    const auto want = static_cast<std::uint8_t>(inside ? c.first + (i - c.address) : 0);
    ASSERT_EQ(static_cast<std::uint8_t>(bank[i]), want) << "at " << i;
  }
}

const std::string kData0100 = Record(0, 0x0100, Sixteen(0x10));

INSTANTIATE_TEST_SUITE_P(
    Records, HexConversion,
    ::testing::Values(
        HexCase{"sixteen_bytes_at_0100", kData0100 + "\n" + kEnd + "\n", 0, 0x0100, 0x10, 16},
        HexCase{"lower_case", Lower(kData0100 + "\n" + kEnd + "\n"), 0, 0x0100, 0x10, 16},
        HexCase{"cr_lf", kData0100 + "\r\n" + kEnd + "\r\n", 0, 0x0100, 0x10, 16},
        HexCase{"end_without_line_end_and_trailing_text_ignored", kData0100 + "\n" + kEnd + "junk",
                0, 0x0100, 0x10, 16},
        HexCase{"end_record_address_not_checked", kData0100 + "\n:00123401FF\n", 0, 0x0100, 0x10,
                16},
        HexCase{"record_at_FFF8_keeps_eight", Record(0, 0xFFF8, Sixteen(0xA0)) + "\n" + kEnd, 0,
                0xFFF8, 0xA0, 8},
        HexCase{"only_end_record", kEnd + "\n", 0},
        HexCase{"missing_end_record", kData0100 + "\n", 1},
        HexCase{"blank_line", kData0100 + "\n\n" + kEnd + "\n", 1},
        HexCase{"leading_blank", " " + kData0100 + "\n" + kEnd + "\n", 1},
        HexCase{"empty_file", "", 1},
        HexCase{"type_04", Record(4, 0, {0x00, 0x01}) + "\n" + kData0100 + "\n" + kEnd, 1},
        HexCase{"type_02", Record(2, 0, {0x10, 0x00}) + "\n" + kEnd, 1},
        HexCase{"wrong_checksum", Record(0, 0x0100, Sixteen(0x10), 1) + "\n" + kEnd, 1},
        HexCase{"end_record_bad_checksum", kData0100 + "\n:00000001FE\n", 1},
        HexCase{"end_record_with_length", kData0100 + "\n:01000001FE\n", 1},
        // "G0" would read as 00 and pass this checksum; a non-digit must fail on its own.
        HexCase{"non_hex_digit",
                ":0100000"
                "0"
                "G0"
                "FF\n" +
                    kEnd,
                1},
        HexCase{"truncated_record", ":1001000010111213\n", 1}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(HexConversionFiles, ThreeFilesGiveThreeBanksInListOrder) {
  TempFolder folder;
  std::vector<std::string> inputs;
  for (int i = 0; i < 3; ++i) {
    inputs.push_back(
        folder.Write("part" + std::to_string(i) + ".hex",
                     Record(0, static_cast<std::uint16_t>(i), {0x51, 0x52}) + "\n" + kEnd + "\n"));
  }
  const std::string output = folder.File("all.bin");
  ASSERT_EQ(ConvertHexToBanks(inputs, output), 0);
  const std::string data = ReadAll(output);
  ASSERT_EQ(data.size(), 196608u);
  for (std::size_t bank = 0; bank < 3; ++bank) {
    const std::string b = data.substr(bank * kBankSize, kBankSize);
    EXPECT_EQ(b.find_first_not_of('\0'), bank) << "bank " << bank;
    EXPECT_EQ(b.find_last_not_of('\0'), bank + 1) << "bank " << bank;
  }
}

TEST(HexConversionFiles, FailingFileKeepsTheBanksBeforeIt) {
  TempFolder folder;
  const std::string good = folder.Write("good.hex", Record(0, 0, {0x77}) + "\n" + kEnd + "\n");
  const std::string bad = folder.Write("bad.hex", Record(0, 0, {0x77}) + "\n");
  const std::string output = folder.File("out.bin");
  EXPECT_EQ(ConvertHexToBanks({good, bad, good}, output), 1);
  const std::string data = ReadAll(output);
  ASSERT_EQ(data.size(), kBankSize);
  EXPECT_EQ(data[0], 0x77);

  EXPECT_EQ(ConvertHexToBanks({good, folder.File("absent.hex")}, output), 1);
  EXPECT_EQ(ReadAll(output).size(), kBankSize);
}

TEST(HexConversionFiles, EmptyListAndUnwritableOutput) {
  TempFolder folder;
  const std::string output = folder.Write("out.bin", "old content");
  EXPECT_EQ(ConvertHexToBanks({}, output), 0);
  EXPECT_TRUE(ReadAll(output).empty());

  const std::string input = folder.Write("a.hex", kEnd + "\n");
  EXPECT_EQ(ConvertHexToBanks({input}, folder.File("no/such/folder.bin")), 1);
}

TEST(HexReading, ReadHexByteAndBaseOffset) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("aF07:0200000041427B\n:00000001FF", file);
  std::rewind(file);
  EXPECT_EQ(ReadHexByte(file), 0xAF);
  std::uint8_t byte = 0;
  EXPECT_TRUE(ReadHexByte(file, byte));
  EXPECT_EQ(byte, 0x07);
  // The two bytes go to base + address; the limit applies to the address alone.
  std::vector<std::uint8_t> buffer(16, 0);
  EXPECT_EQ(ReadHexImage(file, 4, 1, buffer.data()), 0);
  EXPECT_EQ(buffer[4], 0x41);
  EXPECT_EQ(buffer[5], 0x00);  // address 1 is at the limit: dropped
  std::fclose(file);
}

TEST(SplitFileNameTest, NameAndExtension) {
  struct Case {
    const char* path;
    const char* name;
    const char* extension;
  };
  const Case cases[] = {
      {"C:\\fw\\image.hex", "C:\\fw\\image", "hex"},
      {"C:\\fw\\IMAGE.HEX", "C:\\fw\\IMAGE", "HEX"},
      {"C:\\fw.old\\image", "C:\\fw.old\\image", "unchanged"},
      {"/srv/fw.d/image", "/srv/fw.d/image", "unchanged"},
      {"image", "image", "unchanged"},
      {"image.", "image", ""},
      {"a.b.bin", "a.b", "bin"},
      {".hex", "", "hex"},
      {"C:\\fw.old\\image.bin", "C:\\fw.old\\image", "bin"},
  };
  for (const Case& c : cases) {
    std::string name = "stale";
    std::string extension = "unchanged";
    SplitFileName(c.path, name, extension);
    EXPECT_EQ(name, c.name) << c.path;
    EXPECT_EQ(extension, c.extension) << c.path;
  }
}

}  // namespace
}  // namespace flashkit
