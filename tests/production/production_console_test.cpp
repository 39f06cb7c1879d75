// The production console as a technician runs it: a folder with the program, the simulator
// build of the library and the files; every device programmed, numbered and logged.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class ProductionConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder = fs::temp_directory_path() / ("flashkit-production-" + std::to_string(random()));
    fs::create_directories(folder);
    fs::copy_file(PRODUCTION_PROGRAM, folder / "flashkit-production");
    fs::copy_file(FLASHKIT_SIM_LIBRARY, folder / "libflashkit.so");
    Write(folder / "flashid.dat", "EC 75 01 00 K9F1G08U0A\n");
    Write(folder / "loader.bin", std::string(3000, 'L'));
    std::string image(131072, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13);
    Write(folder / "image.bin", image);
    Write(folder / "K4826.ini",
          "[K4826]\r\nserial=00000000099\r\n[Firmware]\r\nFirmware=image.bin\r\n"
          "Bootloader=loader.bin\r\n");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  int Run(const std::string& arguments) {
    const std::string command = "cd '" + folder.string() +
                                "' && timeout 120 ./flashkit-production " + arguments +
                                " --settle-ms 300 >output.txt 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }
  fs::path folder;
};

TEST_F(ProductionConsole, ProgramsNumbersAndLogsEveryDevice) {
  Write(folder / "k4826-sim.txt",
        "device one\n  at /dev/sg1\ndevice two\n  at /dev/sg2\n  fail WriteChunk 3\n");
  EXPECT_EQ(Run(""), 1) << Read(folder / "output.txt");
  const std::string output = Read(folder / "output.txt");
  EXPECT_NE(output.find("device 1: OK"), std::string::npos) << output;
  EXPECT_NE(output.find("device 2: FAIL"), std::string::npos) << output;
  const std::string log = Read(folder / "K4826.log");
  EXPECT_NE(log.find("  12345000100000000100  OK\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("    FAIL\r\n"), std::string::npos) << log;
  EXPECT_NE(Read(folder / "K4826.ini").find("serial=00000000100"), std::string::npos);
}

TEST_F(ProductionConsole, NoDeviceIsSaidAndNothingRuns) {
  EXPECT_EQ(Run(""), 4);
  EXPECT_NE(Read(folder / "output.txt").find("No Device Connect !"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder / "K4826.log"));
}

}  // namespace
