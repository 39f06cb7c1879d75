#include "flashkit/data/flash_id_table.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/data/temp_folder.h"

namespace flashkit {
namespace {

using flashkit_test::TempFolder;

struct Expected {
  std::uint8_t maker, device, parameter, spare;
  std::string name;
};

std::string NameOf(const FlashIdRecord& record) {
  std::size_t length = 0;
  while (length < record.name.size() && record.name[length] != '\0') ++length;
  return std::string(record.name.data(), length);
}

struct TableCase {
  const char* label;
  std::string content;
  std::vector<Expected> records;
};

class FlashIdTableRead : public ::testing::TestWithParam<TableCase> {};

TEST_P(FlashIdTableRead, GivesTheRecordsInFileOrder) {
  const TableCase& c = GetParam();
  TempFolder folder;
  FlashIdTable table;
  ASSERT_EQ(LoadFlashIdTable(table, folder.Write("flashid.dat", c.content).c_str()), 1);
  ASSERT_EQ(table.records.size(), c.records.size());
  for (std::size_t i = 0; i < c.records.size(); ++i) {
    const FlashIdRecord& got = table.records[i];
    const Expected& want = c.records[i];
    EXPECT_EQ(got.makerId, want.maker) << i;
    EXPECT_EQ(got.deviceId, want.device) << i;
    EXPECT_EQ(got.parameter, want.parameter) << i;
    EXPECT_EQ(got.spare, want.spare) << i;
    EXPECT_EQ(NameOf(got), want.name) << i;
  }
}

const std::string kLongId(5000, 'E');
const std::string kName25 = "ABCDEFGHIJKLMNOPQRSTUVWXY";

INSTANTIATE_TEST_SUITE_P(
    Tokens, FlashIdTableRead,
    ::testing::Values(
        TableCase{"plain", "EC 75 01 00 K9F1G08\n", {{0xEC, 0x75, 0x01, 0x00, "K9F1G08"}}},
        TableCase{"letter_case", "ec Ec eC 0f lower", {{0xEC, 0xEC, 0xEC, 0x0F, "lower"}}},
        TableCase{"not_hex", "G1 1G 7 ECX bad", {{0x00, 0x00, 0x00, 0xEC, "bad"}}},
        TableCase{"name_cut_to_20",
                  "AD F1 02 00 " + kName25,
                  {{0xAD, 0xF1, 0x02, 0x00, kName25.substr(0, 20)}}},
        TableCase{"over_lines",
                  "EC\n75\t01\r\n  00\n\nfirst AD F1 02 00 second 98 D3 03 01 third\n",
                  {{0xEC, 0x75, 0x01, 0x00, "first"},
                   {0xAD, 0xF1, 0x02, 0x00, "second"},
                   {0x98, 0xD3, 0x03, 0x01, "third"}}},
        // Overlong tokens are consumed whole, so the next record starts where it should.
        TableCase{"long_tokens",
                  kLongId + " 75 01 00 " + std::string(300, 'n') + " AD F1 02 00 x",
                  {{0xEE, 0x75, 0x01, 0x00, std::string(20, 'n')}, {0xAD, 0xF1, 0x02, 0x00, "x"}}},
        TableCase{"partial_last_record_dropped",
                  "EC 75 01 00 one AD F1 02 00",
                  {{0xEC, 0x75, 0x01, 0x00, "one"}}},
        TableCase{"empty", "", {}}, TableCase{"only_white_space", " \r\n\t\n", {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FlashIdTable, NameOfTwentyCharactersFillsTheFieldWithoutTerminator) {
  TempFolder folder;
  FlashIdTable table;
  ASSERT_EQ(LoadFlashIdTable(table, folder.Write("flashid.dat", "EC 75 01 00 " + kName25).c_str()),
            1);
  ASSERT_EQ(table.records.size(), 1u);
  EXPECT_EQ(std::string(table.records[0].name.data(), kFlashNameLength), kName25.substr(0, 20));
}

TEST(FlashIdTable, LookupFindsTheFirstListingOfAPair) {
  TempFolder folder;
  FlashIdTable table;
  ASSERT_EQ(LoadFlashIdTable(table, folder
                                        .Write("flashid.dat",
                                               "AD F1 01 00 other\n"
                                               "EC 75 01 00 first\n"
                                               "EC 75 02 00 second\n")
                                        .c_str()),
            1);
  const FlashIdRecord* found = FindFlashIdRecord(table, 0xEC, 0x75);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(NameOf(*found), "first");
  EXPECT_EQ(found->parameter, 0x01);
  EXPECT_EQ(FindFlashIdRecord(table, 0x75, 0xEC), nullptr);  // both halves must match
  EXPECT_EQ(FindFlashIdRecord(table, 0xEC, 0xF1), nullptr);

  FreeFlashIdTable(table);
  EXPECT_TRUE(table.records.empty());
  EXPECT_EQ(FindFlashIdRecord(table, 0xEC, 0x75), nullptr);
}

TEST(FlashIdTable, MissingFileOrFolderGivesZeroAndNoRecords) {
  TempFolder folder;
  FlashIdTable table;
  ASSERT_EQ(LoadFlashIdTable(table, folder.Write("flashid.dat", "EC 75 01 00 x").c_str()), 1);
  EXPECT_EQ(LoadFlashIdTable(table, folder.File("absent.dat").c_str()), 0);
  EXPECT_TRUE(table.records.empty());
  std::filesystem::create_directory(folder.File("dir.dat"));
  EXPECT_EQ(LoadFlashIdTable(table, folder.File("dir.dat").c_str()), 0);
}

// Root may open a read-only file for writing, so the check runs in a child process that
// has dropped to an unprivileged user.
TEST(FlashIdTable, WriteProtectedFileCountsAsMissing) {
  TempFolder folder;
  const std::string path = folder.Write("flashid.dat", "EC 75 01 00 x");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  std::filesystem::permissions(folder.path(), std::filesystem::perms::all);

  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    FlashIdTable table;
    const int result = LoadFlashIdTable(table, path.c_str());
    _exit(result == 0 && table.records.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot drop to an unprivileged user here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a read-only flashid.dat was accepted";

  // The same file made writable again is read.
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  FlashIdTable table;
  EXPECT_EQ(LoadFlashIdTable(table, path.c_str()), 1);
}

TEST(FlashIdTable, ParseHexDigits) {
  struct Case {
    char high, low;
    std::uint8_t value;
  };
  const Case cases[] = {{'E', 'C', 0xEC}, {'e', 'c', 0xEC}, {'0', '0', 0x00}, {'F', 'f', 0xFF},
                        {'9', 'A', 0x9A}, {'G', '1', 0x00}, {'1', 'G', 0x00}, {'7', '\0', 0x00},
                        {'@', '0', 0x00}, {'0', 'g', 0x00}};
  for (const Case& c : cases) {
    EXPECT_EQ(ParseHexDigits(c.high, c.low), c.value) << c.high << c.low;
  }
}

}  // namespace
}  // namespace flashkit
