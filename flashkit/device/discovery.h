#pragma once
#include <cstdint>

#include "platform/system_info.h"

namespace flashkit {

// The OsFamily for a version report; `previous` is kept for a platform that is neither of the
// two Windows families.
std::int32_t OsFamilyFor(const platform::OsVersion& version, bool known, std::int32_t previous);

// The body of GetDevice: determines OsFamily, records the configuration path, rebuilds the
// device list and returns its size (0 on a refused or unknown system, list left alone).
int DiscoverDevices();

// Closes every entry's drive handle and empties the device list.
void ReleaseDeviceList();

}  // namespace flashkit
