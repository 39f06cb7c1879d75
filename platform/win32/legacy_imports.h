#pragma once
// Kernel functions that the statically linked thread runtime imports but that Windows 98/Me,
// NT 4 or 2000 lack (legacy_imports.cpp). Only the tests need this header.
#include <cstdint>

namespace platform::win32 {

// The 64-bit tick count after `previous` (wrap count in the high half, the last 32-bit tick in
// the low half) once the 32-bit tick count reads `now`: one wrap is counted whenever the count
// went round since `previous`, so calls must come less than 49.7 days apart.
std::uint64_t ExtendTickCount(std::uint64_t previous, std::uint32_t now);

// Points the thunks back at their resolvers. With `useSystem` false they take their fallbacks
// as if the system lacked every function. The critical-section family is left alone: its
// implementation is chosen once per process, before the first section is initialised. Call only
// while no other thread uses the thunks.
void ResetLegacyImports(bool useSystem);

// True when this process runs its critical sections on the fallback lock (Windows 95/98/Me).
bool LegacyCriticalSections();

}  // namespace platform::win32
