#include "platform/posix/sg_pass_through.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace platform {
namespace {

namespace pt = pass_through;

constexpr std::size_t kCdbFieldSize = 16;
constexpr unsigned kDriverStatusMask = 0x0F;
constexpr unsigned kDriverSense = 0x08;  // sense data is there: the command itself ran
constexpr unsigned kHostTimeOut = 0x03;  // DID_TIME_OUT
constexpr unsigned kDriverTimeOut = 0x06;

std::uint32_t Read32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void Write32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Handles carry the descriptor plus one, so that descriptor 0 is not mistaken for null.
int DescriptorOf(Handle drive) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(drive) - 1);
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::vector<std::string> ParseSgDeviceList(const std::string& value) {
  std::vector<std::string> nodes;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t stop = value.find(':', start);
    if (stop == std::string::npos) stop = value.size();
    if (stop > start) nodes.push_back(value.substr(start, stop - start));
    start = stop + 1;
  }
  return nodes;
}

std::vector<std::string> SgNodesIn(const std::string& folder) {
  std::vector<std::pair<unsigned long, std::string>> found;
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return {};
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.size() < 3 || name.size() > 12 || name.compare(0, 2, "sg") != 0) continue;
    if (!std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    found.emplace_back(std::strtoul(name.c_str() + 2, nullptr, 10), name);
  }
  // Numeric order, as drive letters are probed in order: sg10 comes after sg9.
  std::sort(found.begin(), found.end());
  std::vector<std::string> nodes;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const auto& item : found) nodes.push_back(prefix + item.second);
  return nodes;
}

std::uint32_t DecodePassThrough(std::uint32_t code, std::uint8_t* area, std::uint32_t inSize,
                                std::uint32_t outSize, void* directData, sg_io_hdr_t& header) {
  if (code != pt::kIoctlPassThrough && code != pt::kIoctlPassThroughDirect) return ENOTTY;
  const std::size_t areaSize = std::max(inSize, outSize);
  if (area == nullptr || areaSize < pt::kStructSize) return EINVAL;

  const std::uint8_t cdbLength = area[pt::kOffCdbLength];
  const std::uint8_t senseLength =
      std::min<std::uint8_t>(area[pt::kOffSenseInfoLength], pt::kSenseLength);
  const std::uint8_t dataIn = area[pt::kOffDataIn];
  const std::uint32_t length = Read32(area + pt::kOffDataTransferLength);
  const std::uint32_t seconds = Read32(area + pt::kOffTimeOutValue);
  if (cdbLength == 0 || cdbLength > kCdbFieldSize) return EINVAL;
  if (senseLength > 0 && areaSize < pt::kSenseOffset + senseLength) return EINVAL;
  if (length > 0 && dataIn != pt::kDataOut && dataIn != pt::kDataInFlag) return EINVAL;

  // The two forms differ only in where the data lives: a buffered request carries it inside
  // the area (and so must fit there), a direct one in the caller's own buffer. SG_IO moves
  // either without a copy, but keeping them apart keeps the caller's view of its data exact
  // and lets each be bounds-checked against the memory it really has.
  void* data = nullptr;
  if (length > 0) {
    if (code == pt::kIoctlPassThrough) {
      if (areaSize < pt::kDataOffset || length > areaSize - pt::kDataOffset) return EINVAL;
      data = area + pt::kDataOffset;
    } else {
      if (directData == nullptr) return EINVAL;
      data = directData;
    }
  }

  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  header.cmd_len = cdbLength;
  header.cmdp = area + pt::kOffCdb;
  header.mx_sb_len = senseLength;
  header.sbp = senseLength > 0 ? area + pt::kSenseOffset : nullptr;
  header.dxfer_len = length;
  header.dxferp = data;
  if (length == 0) {
    header.dxfer_direction = SG_DXFER_NONE;
  } else {
    header.dxfer_direction = dataIn == pt::kDataInFlag ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  }
  const std::uint32_t maxSeconds = std::numeric_limits<unsigned>::max() / 1000u;
  header.timeout = std::min(seconds, maxSeconds) * 1000u;
  return 0;
}

std::uint32_t JudgeSgResult(const sg_io_hdr_t& header) {
  const unsigned driver = header.driver_status & kDriverStatusMask;
  if (header.host_status == kHostTimeOut || driver == kDriverTimeOut) return ETIMEDOUT;
  if (header.host_status != 0) return EIO;
  if (driver != 0 && driver != kDriverSense) return EIO;
  return 0;
}

void StoreSgResult(const sg_io_hdr_t& header, std::uint8_t* area) {
  area[pt::kOffScsiStatus] = header.status;
  area[pt::kOffSenseInfoLength] = header.sb_len_wr;
  const int moved = static_cast<int>(header.dxfer_len) - std::max(header.resid, 0);
  Write32(area + pt::kOffDataTransferLength, static_cast<std::uint32_t>(std::max(moved, 0)));
}

std::vector<std::string> SgPassThrough::CandidateDrives() {
  if (const char* list = std::getenv(kSgDevicesVariable)) return ParseSgDeviceList(list);
  return SgNodesIn("/dev");
}

Handle SgPassThrough::OpenDrive(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd == -1) return nullptr;
  return reinterpret_cast<Handle>(static_cast<std::intptr_t>(fd) + 1);
}

void SgPassThrough::CloseDrive(Handle drive) {
  if (drive != nullptr) close(DescriptorOf(drive));
}

std::uint32_t SgPassThrough::IoControl(Handle drive, std::uint32_t code, std::uint8_t* area,
                                       std::uint32_t inSize, std::uint32_t outSize,
                                       void* directData) {
  if (drive == nullptr) return EBADF;
  sg_io_hdr_t header;
  if (const std::uint32_t invalid =
          DecodePassThrough(code, area, inSize, outSize, directData, header)) {
    return invalid;
  }
  // Not repeated on EINTR: the command may already have reached the device.
  if (ioctl(DescriptorOf(drive), SG_IO, &header) == -1)
    return errno != 0 ? static_cast<std::uint32_t>(errno) : EIO;
  StoreSgResult(header, area);
  return JudgeSgResult(header);
}

}  // namespace platform
