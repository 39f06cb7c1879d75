#include "flashkit/device/vendor_command.h"

#include <cstring>

#include "flashkit/device/carriers.h"
#include "flashkit/interface/library_state.h"

namespace flashkit {

namespace pt = platform::pass_through;

std::int32_t SendVendorCommand(int stamp, int dataIn, std::uint32_t length,
                               std::uint32_t timeoutSeconds, VendorCommand& command,
                               std::uint8_t* buffer) {
  if (stamp) std::memcpy(command.data(), kVendorSignature.data(), kVendorSignature.size());
  const std::int32_t osFamily = State().osFamily;

  if (UsesPassThrough(osFamily)) {
    if (dataIn) {
      // The buffered request carries its data inside the area, so the area lives here.
      std::uint8_t area[pt::kReadAreaSize] = {};
      std::memcpy(area + pt::kOffCdb, command.data(), command.size());
      const std::int32_t result = PassThroughRead(length, timeoutSeconds, area);
      if (result == 0 && length > 0) std::memcpy(buffer, area + pt::kDataOffset, length);
      return result;
    }
    std::uint8_t area[pt::kWriteAreaSize] = {};
    std::memcpy(area + pt::kOffCdb, command.data(), command.size());
    return PassThroughWrite(length, timeoutSeconds, area, buffer);
  }

  if (UsesAspi(osFamily)) {
    platform::aspi::SrbExecScsiCmd srb{};
    std::memcpy(srb.cdb, command.data(), command.size());
    return AspiExecute(dataIn, length, srb, buffer);
  }
  return 0;
}

void SelectCurrentDevice(const DeviceEntry& entry) {
  CurrentDevice& current = State().current;
  if (UsesPassThrough(State().osFamily)) {
    current.handle = entry.handle;
  } else if (UsesAspi(State().osFamily)) {
    current.hostAdapter = entry.hostAdapter;
    current.target = entry.target;
  }
}

}  // namespace flashkit
