#include "platform/posix/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/data/temp_folder.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using flashkit_test::ReadAll;
using flashkit_test::TempFolder;

struct ReadCase {
  const char* label;
  std::string content;  // null file when it starts with '!'
  std::string section, key, fallback;
  std::uint32_t size;
  std::string value;
};

class ProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, AsTheWindowsReader) {
  const ReadCase& c = GetParam();
  TempFolder folder;
  const std::string path =
      c.content == "!" ? folder.File("absent.ini") : folder.Write("k.ini", c.content);
  ProfileFile profile;
  char buffer[512];
  std::memset(buffer, 'Z', sizeof buffer);
  const std::uint32_t count = profile.GetString(c.section, c.key, c.fallback, buffer, c.size, path);
  EXPECT_EQ(std::string(buffer), c.value);
  EXPECT_EQ(count, c.value.size());
  EXPECT_EQ(buffer[c.size], 'Z') << "wrote past the buffer";
}

const std::string kFile =
    "; kit settings\r\n"
    "lonely=before any section\r\n"
    "[K4826]\r\n"
    "VID=0402\r\n"
    "  PID   =   12ab   \r\n"
    "descriptor=\"  USB Disk  \"\r\n"
    "single='x'\r\n"
    "half=\"open\r\n"
    "mixed=\"ab'\r\n"
    "quotes=\"\"\r\n"
    "empty=\r\n"
    "noequals\r\n"
    "Long=0123456789ABCDEF\r\n"
    "[firmware] trailing text\r\n"
    "FIRMWARE=C:\\fw\\image.hex\r\n"
    "[K4826]\r\n"
    "later=only in the second copy\r\n"
    "[ Spaced ]\r\n"
    "x=spaced section\r\n";

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileRead,
    ::testing::Values(
        ReadCase{"missing_file", "!", "K4826", "VID", "dflt", 100, "dflt"},
        ReadCase{"missing_file_cut", "!", "K4826", "VID", "default", 4, "def"},
        ReadCase{"plain", kFile, "K4826", "VID", "", 100, "0402"},
        ReadCase{"spaces_trimmed", kFile, "K4826", "PID", "", 100, "12ab"},
        ReadCase{"double_quotes", kFile, "K4826", "descriptor", "", 100, "  USB Disk  "},
        ReadCase{"single_quotes", kFile, "K4826", "single", "", 100, "x"},
        ReadCase{"unmatched_quote", kFile, "K4826", "half", "", 100, "\"open"},
        ReadCase{"mixed_quotes", kFile, "K4826", "mixed", "", 100, "\"ab'"},
        ReadCase{"empty_quotes", kFile, "K4826", "quotes", "d", 100, ""},
        ReadCase{"empty_value", kFile, "K4826", "empty", "d", 100, ""},
        ReadCase{"no_equals_gives_default", kFile, "K4826", "noequals", "d", 100, "d"},
        ReadCase{"missing_key", kFile, "K4826", "serial", "dflt", 100, "dflt"},
        ReadCase{"missing_section", kFile, "Other", "VID", "dflt", 100, "dflt"},
        ReadCase{"names_without_case", kFile, "k4826", "vid", "", 100, "0402"},
        ReadCase{"header_with_trailing_text", kFile, "FIRMWARE", "firmware", "", 100,
                 "C:\\fw\\image.hex"},
        ReadCase{"names_trimmed", kFile, " K4826 ", " VID ", "", 100, "0402"},
        ReadCase{"first_section_only", kFile, "K4826", "later", "dflt", 100, "dflt"},
        ReadCase{"keys_before_sections", kFile, "K4826", "lonely", "dflt", 100, "dflt"},
        ReadCase{"unnamed_section", kFile, "", "lonely", "", 100, "before any section"},
        ReadCase{"value_cut", kFile, "K4826", "Long", "", 11, "0123456789"},
        ReadCase{"quoted_value_cut", kFile, "K4826", "descriptor", "", 5, "  US"},
        ReadCase{"size_one", kFile, "K4826", "VID", "", 1, ""},
        ReadCase{"default_trailing_blanks", kFile, "K4826", "serial", "abc   ", 100, "abc"},
        ReadCase{"default_unquoted", kFile, "K4826", "serial", "'q'  ", 100, "q"},
        ReadCase{"default_unquoted_missing_file", "!", "K4826", "VID", "\"q\"", 100, "q"},
        ReadCase{"quoted_value_fills_buffer", kFile, "K4826", "descriptor", "", 13, "  USB Disk  "},
        ReadCase{"section_name_trimmed", kFile, "spaced", "x", "", 100, "spaced section"},
        ReadCase{"lf_and_cr_line_ends", "[A]\nx=1\ry=2\n", "a", "Y", "", 100, "2"},
        ReadCase{"utf8_mark", "\xEF\xBB\xBF[A]\nx=1\n", "A", "x", "", 100, "1"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ProfileReadInt, AsGetPrivateProfileIntA) {
  struct Case {
    const char* value;  // null: key missing
    int result;
  };
  const Case cases[] = {{"12abc", 12},
                        {"0x10", 16},
                        {"abc", 0},
                        {"-5", -5},
                        {"", 77},
                        {nullptr, 77},
                        {"  42  ", 42},
                        {"+3", 3},
                        {"0b101", 5},
                        {"0o17", 15},
                        {"0X10", 0},
                        {"010", 10},
                        {"4294967295", -1},
                        {"\"64\"", 64},
                        {"- 5", 0},
                        {"0x", 0},
                        {"123456789012345678901234567890123", 1849262357}};
  TempFolder folder;
  ProfileFile profile;
  for (const Case& c : cases) {
    const std::string path = folder.Write(
        "i.ini", c.value ? std::string("[S]\nn=") + c.value + "\n" : std::string("[S]\n"));
    EXPECT_EQ(profile.GetInt("S", "N", 77, path), c.result) << (c.value ? c.value : "(missing)");
  }
  EXPECT_EQ(profile.GetInt("S", "n", 31, folder.File("absent.ini")), 31);
  EXPECT_EQ(ParseProfileInt("2147483648"), static_cast<std::int32_t>(0x80000000u));
}

TEST(ProfileReadIntCut, ValueIsReadIntoThirtyCharacters) {
  // Only the first 29 characters count: 28 zeros and "1"; the "2" after them is not seen.
  TempFolder folder;
  ProfileFile profile;
  const std::string path = folder.Write("i.ini", "[S]\nn=" + std::string(28, '0') + "12\n");
  EXPECT_EQ(profile.GetInt("S", "n", 0, path), 1);
}

class ProfileWrite : public ::testing::Test {
 protected:
  std::string Write(const std::string& content) { return folder_.Write("k.ini", content); }
  std::string Path() const { return folder_.File("k.ini"); }
  std::string Read(const std::string& section, const std::string& key) {
    char buffer[300];
    profile_.GetString(section, key, "<none>", buffer, sizeof buffer, Path());
    return buffer;
  }
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator()));
  }

  TempFolder folder_;
  ProfileFile profile_;
};

TEST_F(ProfileWrite, ReplacesOneValueAndKeepsEverythingElse) {
  Write(
      "; kit settings\r\n\r\n[Firmware]\r\nFirmware=a.bin\r\n\r\n[K4826]\r\nVID=0402\r\n"
      "  Serial = 01234567890\r\n; keep me\r\n[Other]\r\nserial=x\r\n");
  ASSERT_TRUE(profile_.WriteString("k4826", "SERIAL", "01234567891", Path()));
  EXPECT_EQ(ReadAll(Path()),
            "; kit settings\r\n\r\n[Firmware]\r\nFirmware=a.bin\r\n\r\n[K4826]\r\nVID=0402\r\n"
            "  Serial = 01234567891\r\n; keep me\r\n[Other]\r\nserial=x\r\n");
  EXPECT_EQ(FilesInFolder(), 1u) << "a temporary file was left behind";
}

TEST_F(ProfileWrite, AddsKeyAtTheEndOfItsSectionInTheFilesLineEnds) {
  Write("[K4826]\nVID=0402\n; note\n\n[Firmware]\nFirmware=a.bin");
  ASSERT_TRUE(profile_.WriteString("K4826", "serial", "7", Path()));
  ASSERT_TRUE(profile_.WriteString("Firmware", "Bootloader", "b.bin", Path()));
  EXPECT_EQ(ReadAll(Path()),
            "[K4826]\nVID=0402\n; note\nserial=7\n\n[Firmware]\nFirmware=a.bin\n"
            "Bootloader=b.bin\n");
}

TEST_F(ProfileWrite, AddsSectionAndCreatesFile) {
  ASSERT_TRUE(profile_.WriteString("K4826", "serial", "1", Path()));
  EXPECT_EQ(ReadAll(Path()), "[K4826]\r\nserial=1\r\n");
  ASSERT_TRUE(profile_.WriteString("Firmware", "Firmware", "a.bin", Path()));
  EXPECT_EQ(ReadAll(Path()), "[K4826]\r\nserial=1\r\n\r\n[Firmware]\r\nFirmware=a.bin\r\n");
  Write("[A]\r\nx=1");  // no line end on the last line
  ASSERT_TRUE(profile_.WriteString("B", "y", "2", Path()));
  EXPECT_EQ(ReadAll(Path()), "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
}

TEST_F(ProfileWrite, WritesWhereTheReaderLooks) {
  Write("[A]\nflag\n[a]\nx=old\n");
  ASSERT_TRUE(profile_.WriteString("A", "x", "new", Path()));   // first [A] gets the key
  ASSERT_TRUE(profile_.WriteString("A", "flag", "1", Path()));  // a line without '='
  EXPECT_EQ(ReadAll(Path()), "[A]\nflag=1\nx=new\n[a]\nx=old\n");
  EXPECT_EQ(Read("a", "X"), "new");
}

TEST_F(ProfileWrite, ValuesReadBackAsTheReaderTrimsThem) {
  struct Case {
    const char* written;
    const char* read;
  };
  const Case cases[] = {{"01234567891", "01234567891"},
                        {"  padded  ", "padded"},
                        {"\" kept \"", " kept "},
                        {"", ""},
                        {"a=b;c", "a=b;c"},
                        {"[x]", "[x]"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(profile_.WriteString("K4826", "serial", c.written, Path())) << c.written;
    EXPECT_EQ(Read("K4826", "serial"), c.read) << c.written;
  }
}

TEST_F(ProfileWrite, RefusesWhatWouldBreakTheFileAndLeavesItAlone) {
  const std::string before = "[K4826]\r\nserial=1\r\n";
  Write(before);
  EXPECT_FALSE(profile_.WriteString("K4826", "serial", "1\r\n[Evil]", Path()));
  EXPECT_FALSE(profile_.WriteString("K4826", "a=b", "1", Path()));
  EXPECT_FALSE(profile_.WriteString("K4826", "", "1", Path()));
  EXPECT_FALSE(profile_.WriteString("K4826", "[x]", "1", Path()));
  EXPECT_FALSE(profile_.WriteString("K]", "serial", "1", Path()));
  EXPECT_EQ(ReadAll(Path()), before);
  EXPECT_FALSE(profile_.WriteString("K4826", "serial", "1", folder_.File("no/such/k.ini")));
  // A path that exists but cannot be read as a file is not replaced.
  fs::create_directory(folder_.File("dir.ini"));
  EXPECT_FALSE(profile_.WriteString("K4826", "serial", "1", folder_.File("dir.ini")));
  EXPECT_TRUE(fs::is_directory(folder_.File("dir.ini")));
  EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(ProfileWrite, ReplacesTheFileInsteadOfRewritingIt) {
  Write("[K4826]\nserial=1\n");
  chmod(Path().c_str(), 0640);
  struct stat before {};
  ASSERT_EQ(stat(Path().c_str(), &before), 0);
  std::ifstream old(Path(), std::ios::binary);  // a reader that opened the old file
  ASSERT_TRUE(profile_.WriteString("K4826", "serial", "2", Path()));
  struct stat after {};
  ASSERT_EQ(stat(Path().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "[K4826]\nserial=1\n");
  EXPECT_EQ(ReadAll(Path()), "[K4826]\nserial=2\n");
}

TEST_F(ProfileWrite, WritesThroughALinkToItsFile) {
  const std::string target = folder_.Write("real.ini", "[K4826]\nserial=1\n");
  fs::create_symlink(target, Path());
  ASSERT_TRUE(profile_.WriteString("K4826", "serial", "2", Path()));
  EXPECT_TRUE(fs::is_symlink(Path()));
  EXPECT_EQ(ReadAll(target), "[K4826]\nserial=2\n");
}

}  // namespace
}  // namespace platform
