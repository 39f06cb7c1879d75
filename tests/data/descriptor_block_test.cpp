#include "flashkit/data/descriptor_block.h"

#include <gtest/gtest.h>

#include <string>

namespace flashkit {
namespace {

Identity MakeIdentity(std::string vendor, std::string product, std::string productString,
                      std::string serial) {
  return Identity{std::move(vendor), std::move(product), std::move(productString),
                  std::move(serial)};
}

std::string Field(const DescriptorBlock& block, std::size_t offset, std::size_t length) {
  return std::string(reinterpret_cast<const char*>(block.data()) + offset, length);
}

TEST(DescriptorBlockTest, IdsStandLittleEndian) {
  struct Case {
    const char* vendor;
    const char* product;
    std::uint8_t b0, b1, b2, b3;
  };
  const Case cases[] = {
      {"0402", "12ab", 0x02, 0x04, 0xAB, 0x12},
      {"04", "4826", 0x00, 0x04, 0x26, 0x48},        // a pair beyond the end gives 0
      {"04G2", "48", 0x00, 0x04, 0x00, 0x48},        // a non-hex character spoils its pair only
      {"040", "", 0x00, 0x04, 0x00, 0x00},           // half a pair gives 0
      {"FFFF1234", "0x12", 0xFF, 0xFF, 0x12, 0x00},  // beyond the fourth character ignored
  };
  for (const Case& c : cases) {
    DescriptorBlock block;
    block.fill(0xAA);
    BuildDescriptorBlock(MakeIdentity(c.vendor, c.product, "", ""), block);
    EXPECT_EQ(block[0], c.b0) << c.vendor;
    EXPECT_EQ(block[1], c.b1) << c.vendor;
    EXPECT_EQ(block[2], c.b2) << c.product;
    EXPECT_EQ(block[3], c.b3) << c.product;
    EXPECT_EQ(Field(block, 4, 508), std::string(508, '\0'));
  }
}

TEST(DescriptorBlockTest, StringsAreCutAtTheirFieldsAndTheRestIsZero) {
  DescriptorBlock block;
  block.fill(0xAA);
  const std::string product30 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
  const std::string serial25 = "1234500010123456789098765";
  BuildDescriptorBlock(MakeIdentity("0402", "4826", product30, serial25), block);
  EXPECT_EQ(Field(block, 4, 22), product30.substr(0, 22));
  EXPECT_EQ(Field(block, 26, 20), serial25.substr(0, 20));
  EXPECT_EQ(Field(block, 46, 466), std::string(466, '\0'));

  BuildDescriptorBlock(MakeIdentity("0402", "4826", "USB 2.0 Di", "12345"), block);
  EXPECT_EQ(Field(block, 4, 22), std::string("USB 2.0 Di") + std::string(12, '\0'));
  EXPECT_EQ(Field(block, 26, 20), std::string("12345") + std::string(15, '\0'));
}

TEST(DescriptorBlockTest, ParseHexPair) {
  EXPECT_EQ(ParseHexPair("ec75"), 0xEC);
  EXPECT_EQ(ParseHexPair("0A"), 0x0A);
  EXPECT_EQ(ParseHexPair("A"), 0);
  EXPECT_EQ(ParseHexPair(""), 0);
  EXPECT_EQ(ParseHexPair("Z1"), 0);
}

TEST(NextSerialNumberTest, CountsTheTailAfterTheNinthCharacter) {
  struct Case {
    const char* tail;
    const char* next;
  };
  const Case cases[] = {
      {"01234567890", "01234567891"},
      {"01234567899", "01234567900"},
      {"1905", "1906"},
      {"0199", "0200"},
      {"999", "000"},
      {"7A", "71"},
      {"A9", "10"},
      {"9", "0"},
      {"A", "1"},
      {"X5", "06"},
  };
  const std::string head = "123450001";
  for (const Case& c : cases) {
    EXPECT_EQ(NextSerialNumber(head + c.tail), head + c.next) << c.tail;
  }
  // The head never changes, whatever it holds.
  EXPECT_EQ(NextSerialNumber("ABC99999Z99"), "ABC99999Z00");
}

TEST(NextSerialNumberTest, NineCharactersOrFewerComeBackUnchanged) {
  for (const char* serial : {"123450001", "12345", "", "999999999"}) {
    EXPECT_EQ(NextSerialNumber(serial), serial);
  }
}

}  // namespace
}  // namespace flashkit
