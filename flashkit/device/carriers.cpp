#include "flashkit/device/carriers.h"

#include "flashkit/device/byte_order.h"
#include "flashkit/interface/library_state.h"
#include "platform/ports.h"

namespace flashkit {

namespace pt = platform::pass_through;
namespace aspi = platform::aspi;

namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;

void FillPassThroughFields(std::uint8_t* area, std::uint8_t dataIn, std::uint32_t length,
                           std::uint32_t timeoutSeconds) {
  PutU16(area, pt::kOffLength, pt::kStructSize);
  area[pt::kOffPathId] = 0;
  area[pt::kOffTargetId] = 1;
  area[pt::kOffLun] = 0;
  area[pt::kOffCdbLength] = 12;
  area[pt::kOffSenseInfoLength] = pt::kSenseLength;
  area[pt::kOffDataIn] = dataIn;
  PutU32(area, pt::kOffDataTransferLength, length);
  PutU32(area, pt::kOffTimeOutValue, timeoutSeconds);
  PutU32(area, pt::kOffSenseInfoOffset, pt::kSenseOffset);
}

}  // namespace

// Reads use the buffered request so the data comes back inside the area (one copy, bounded at
// 64 KiB); writes use the direct request so boot loader and image data go out without a copy.
std::int32_t PassThroughRead(std::uint32_t length, std::uint32_t timeoutSeconds,
                             std::uint8_t* area) {
  if (length > pt::kMaxData) return kErrorInvalidParameter;
  FillPassThroughFields(area, pt::kDataInFlag, length, timeoutSeconds);
  PutU32(area, pt::kOffDataBuffer, pt::kDataOffset);
  return static_cast<std::int32_t>(platform::CurrentPorts().scsi->IoControl(
      State().current.handle, pt::kIoctlPassThrough, area, pt::kStructSize,
      static_cast<std::uint32_t>(pt::kDataOffset + length), nullptr));
}

std::int32_t PassThroughWrite(std::uint32_t length, std::uint32_t timeoutSeconds,
                              std::uint8_t* area, std::uint8_t* data) {
  FillPassThroughFields(area, pt::kDataOut, length, timeoutSeconds);
  // The 32-bit structure holds the buffer's address; wider hosts keep its low half there and
  // hand the pointer itself to the port.
  PutU32(
      area, pt::kOffDataBuffer,
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(length == 0 ? nullptr : data)));
  return static_cast<std::int32_t>(platform::CurrentPorts().scsi->IoControl(
      State().current.handle, pt::kIoctlPassThroughDirect, area, pt::kWriteAreaSize,
      pt::kWriteAreaSize, length == 0 ? nullptr : data));
}

std::int32_t AspiExecute(int dataIn, std::uint32_t length, aspi::SrbExecScsiCmd& srb,
                         std::uint8_t* buffer) {
  const CurrentDevice& current = State().current;
  srb.cmd = aspi::kScExecScsiCmd;
  srb.haId = current.hostAdapter;
  srb.flags = dataIn ? aspi::kSrbDirIn : aspi::kSrbDirOut;
  srb.hdrRsvd = 0;
  srb.target = current.target;
  srb.lun = 0;
  srb.bufLen = length;
  srb.bufPointer = buffer;
  srb.senseLen = aspi::kSenseLen;
  srb.cdbLen = 12;

  platform::Ports& ports = platform::CurrentPorts();
  platform::Handle event = ports.events->Create();
  volatile std::uint8_t* status = &srb.status;
  if (event != nullptr) {
    srb.flags |= aspi::kSrbEventNotify;
    srb.postProc = event;
    // A request the layer took as pending is always waited for, even when its status has
    // changed by now: the layer signals the event after the status, and the event must not
    // be closed under that signal.
    const bool pending = ports.aspi->SendCommand(&srb) == aspi::kSsPending;
    if (pending || *status == aspi::kSsPending) ports.events->Wait(event);
    ports.events->Close(event);
  } else {
    ports.aspi->SendCommand(&srb);
    if (*status == aspi::kSsPending) {
      // No event to wait on: give the request a fixed time and take it as done.
      volatile std::uint32_t sink = 0;
      for (std::uint32_t spin = 0; spin < kAspiFallbackSpins; ++spin) sink = spin;
      static_cast<void>(sink);
    }
  }
  const std::uint8_t result = *status;
  if (result == aspi::kSsComp || result == aspi::kSsPending) return 0;
  return result;
}

}  // namespace flashkit
