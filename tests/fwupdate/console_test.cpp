// The console fwupdate as a user runs it: a folder holding the program, the simulator build of
// libflashkit.so, "K4826.ini", "flashid.dat", a boot loader, an image and the simulator's
// configuration. Checks what the user saw, the exit status, and what reached the device.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kDeviceOldVersion = "version 00 00 05 01 00 00 00 00\n";  // 0.105

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A one-bank image whose stamp reads 1.23C.
std::string OneBankImage() {
  std::string image(65536, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  image[65532] = '\x3C';
  image[65533] = '\x12';
  return image;
}

struct Outcome {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

class ConsoleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "fwupdate-console-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    ASSERT_TRUE(fs::exists(FWUPDATE_PROGRAM)) << FWUPDATE_PROGRAM;
    ASSERT_TRUE(fs::exists(FLASHKIT_SIM_LIBRARY))
        << FLASHKIT_SIM_LIBRARY << " is missing: build target flashkit_sim";
    fs::copy_file(FWUPDATE_PROGRAM, folder / "fwupdate");
    fs::copy_file(FLASHKIT_SIM_LIBRARY, folder / "libflashkit.so");
    image = OneBankImage();
    WriteAll(folder / "fw.bin", image);
    std::string loader(3000, '\0');
    for (std::size_t i = 0; i < loader.size(); ++i) loader[i] = static_cast<char>(i * 13);
    WriteAll(folder / "loader.bin", loader);
    WriteAll(folder / "flashid.dat", "98 73 11 00 TC58DVM92\nEC 75 20 00 K9F5608U0B\n");
    WriteAll(folder / "K4826.ini",
             "[K4826]\nVID=0402\nPID=4826\n[Firmware]\nFirmware=fw.bin\nBootloader=loader.bin\n");
    fs::create_directories(folder / "dump");
  }
  void TearDown() override {
    std::error_code ignored;
    if (!HasFailure()) fs::remove_all(folder, ignored);
  }

  void Device(const std::string& extra) {
    WriteAll(folder / "k4826-sim.txt",
             "device k1\nat /dev/sg1\nflash_ids EC 75 00 00 00 00 00 00\n" +
                 std::string(kDeviceOldVersion) + extra);
  }

  Outcome Start(const std::string& arguments = "--yes") {
    std::string command = "cd '" + folder.string() + "' && K4826_SIM_TRACE=trace.txt " +
                          "K4826_SIM_DUMP=dump timeout 60 ./fwupdate " + arguments +
                          " </dev/null >output.txt 2>&1";
    int status = std::system(command.c_str());
    Outcome run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.output = ReadAll(folder / "output.txt");
    return run;
  }

  // The simulator's trace: one command per line, "<device> <n> <kind> ...".
  std::vector<std::string> Kinds() {
    std::vector<std::string> kinds;
    std::istringstream lines(ReadAll(folder / "trace.txt"));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string device, index, kind;
      words >> device >> index >> kind;
      kinds.push_back(kind);
    }
    return kinds;
  }

  fs::path folder;
  std::string image;
};

TEST_F(ConsoleRun, SuccessShowsVersionsProgressAndProgramsTheDevice) {
  Device("");
  Outcome run = Start();
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("Device firmware version: 0.105"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("New firmware version:    1.23C"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Erasing Flash..."), std::string::npos);
  EXPECT_NE(run.output.find("] 100%"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Download successfully!"), std::string::npos) << run.output;
  // After the download the device runs the new version.
  EXPECT_NE(run.output.find("Device firmware version: 1.23C"), std::string::npos);

  std::vector<std::string> kinds = Kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "LoadBootLoader"), 1);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "WriteChunk"), 65);  // 64 and the closing one
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "ReadBank"), 1);
  ASSERT_FALSE(kinds.empty());
  EXPECT_EQ(kinds.back(), "ContextSwitch2");
  // What the device holds is the image.
  EXPECT_EQ(ReadAll(folder / "dump" / "k1-bank0.bin"), image);
}

TEST_F(ConsoleRun, AskedFirstAndARefusalDownloadsNothing) {
  Device("");
  Outcome run = Start("");  // stdin is empty: no answer is no
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("[y/N]"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Erasing Flash..."), std::string::npos) << run.output;
  std::vector<std::string> kinds = Kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "WriteChunk"), 0);
}

TEST_F(ConsoleRun, FailuresShowTheDialogsTextAndExitNonzero) {
  struct Case {
    const char* name;
    std::string device;  // extra simulator lines; "none" for no device at all
    std::string ini;     // replaces K4826.ini when not empty
    const char* text;
    bool successFirst = false;  // the download itself went well before the failure
  };
  const std::vector<Case> cases = {
      {"read-back byte corrupted", "corrupt 0 5000\n", "", "Download failed\nVerify error!"},
      {"chunk transfer fails", "fail WriteChunk 10\n", "",
       "Download failed\nPlease check power cable and USB cable!"},
      {"switch back fails", "fail ContextSwitch2 1\n", "",
       "Download failed\nContext switch failed!", true},
      {"unknown flash", "flash_ids 01 02 03 04 05 06 07 08\n", "",
       "Download failed\nUnknown flash type!"},
      {"no device", "none", "",
       "No Device Connect !\nPlease plug the device into USB port and run again!"},
      {"empty Firmware key", "", "[Firmware]\nFirmware=\nBootloader=loader.bin\n",
       "Configuration error!\nPlease download this package again.\nOr contact with your "
       "provider!"},
      {"image missing", "", "[Firmware]\nFirmware=gone.bin\nBootloader=loader.bin\n",
       "Some necessary files are missed!\nPlease download this package again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.device == "none") {
      WriteAll(folder / "k4826-sim.txt", "# no devices\n");
    } else {
      Device(c.device);
    }
    if (!c.ini.empty()) WriteAll(folder / "K4826.ini", c.ini);
    fs::remove(folder / "trace.txt");
    Outcome run = Start();
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find(c.text), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Download successfully!") != std::string::npos, c.successFirst)
        << run.output;
    // A failed sequence stops where it failed: no switch back unless that was what failed.
    std::vector<std::string> kinds = Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "ContextSwitch2"), c.successFirst ? 1 : 0);
    WriteAll(folder / "K4826.ini",
             "[K4826]\nVID=0402\nPID=4826\n[Firmware]\nFirmware=fw.bin\nBootloader=loader.bin\n");
  }
}

// A job that never reports ends the program with a clear error instead of a hang.
TEST_F(ConsoleRun, SilentJobEndsWithAnErrorAfterTheTimeout) {
  fs::copy_file(FAKE_SILENT_LIBRARY, folder / "libflashkit.so",
                fs::copy_options::overwrite_existing);
  auto start = std::chrono::steady_clock::now();
  Outcome run = Start("--yes --timeout 1");
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_NE(run.output.find("Erasing Flash..."), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("has not answered for 1 s"), std::string::npos) << run.output;
  EXPECT_LT(took, std::chrono::seconds(10));
}

TEST_F(ConsoleRun, LibraryWithoutOneOfTheFiveFunctionsIsNotUsed) {
  fs::copy_file(FAKE_PARTIAL_LIBRARY, folder / "libflashkit.so",
                fs::copy_options::overwrite_existing);
  Outcome run = Start();
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("Error: Failure in Loading DLL - Flashkit.dll"), std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("Device firmware version: 0.105"), std::string::npos) << run.output;

  fs::remove(folder / "libflashkit.so");
  run = Start();
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("Failure in Loading DLL - Flashkit.dll"), std::string::npos)
      << run.output;
}

}  // namespace
