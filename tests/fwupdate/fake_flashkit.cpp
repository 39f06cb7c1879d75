// A stand-in libflashkit.so for the console program's own failure paths: one device at version
// 0.105 whose download job never reports. Built twice: whole, and (FAKE_FLASHKIT_PARTIAL)
// without GetDeviceStatus, as a library that lacks one of the five functions.
#include "flashkit/interface/flashkit.h"

extern "C" {

__attribute__((visibility("default"))) int GetDevice(void) { return 1; }

__attribute__((visibility("default"))) int Download(int, int, int, FlashkitWindow) { return 0; }

#ifndef FAKE_FLASHKIT_PARTIAL
__attribute__((visibility("default"))) int GetDeviceStatus(int) { return 0; }
#endif

__attribute__((visibility("default"))) void EndDevice(void) {}

__attribute__((visibility("default"))) int GetDeviceVersion(int, unsigned char* buffer) {
  const unsigned char version[8] = {0, 0, 0x05, 0x01, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) buffer[i] = version[i];
  return 1;
}
}
