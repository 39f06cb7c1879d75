// A stand-in ASPI layer for the tests of the ASPI port: it reports two host adapters and
// completes every request at once, echoing the first command byte into the data buffer.
#include <cstdint>

#include "platform/aspi.h"

extern "C" __attribute__((dllexport)) std::uint32_t __cdecl GetASPI32SupportInfo() {
  return (platform::aspi::kSsComp << 8) | 2;
}

#ifdef FAKE_WNASPI32_COMPLETE
extern "C" __attribute__((dllexport)) std::uint32_t __cdecl SendASPI32Command(void* srb) {
  auto* request = static_cast<platform::aspi::SrbExecScsiCmd*>(srb);
  if (request->cmd == platform::aspi::kScExecScsiCmd && request->bufPointer && request->bufLen)
    request->bufPointer[0] = request->cdb[0];
  request->status = platform::aspi::kSsComp;
  return request->status;
}
#endif
