/* Flashkit: finds attached K4826 devices and programs them.
 *
 * Load the library, call GetDevice, then Download; the job runs on a thread of its own and
 * reports through status messages FLASHKIT_STATUS_MESSAGE posted to `window` (lParam: the
 * JobStatus code; wParam: percent for Progress, flash IDs for FlashIdentified). Do not call
 * GetDevice, EndDevice or Download again until the job's last message has arrived.
 *
 * On Windows `window` is an HWND. On POSIX it is the write end of a pipe that the host
 * created, cast to a pointer; each post arrives as one FlashkitStatusRecord. The library makes
 * that descriptor non-blocking (a full pipe drops a post rather than stall the job); keep it
 * open until the job's last message has arrived. */
#ifndef FLASHKIT_INTERFACE_FLASHKIT_H
#define FLASHKIT_INTERFACE_FLASHKIT_H

#include <stdint.h>

#if defined(_WIN32)
#define FLASHKIT_CALL __cdecl
#else
#define FLASHKIT_CALL
#endif

#if defined(_WIN32) || !defined(FLASHKIT_BUILDING)
#define FLASHKIT_EXPORT
#else
#define FLASHKIT_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void* FlashkitWindow;

#define FLASHKIT_STATUS_MESSAGE 0x8001 /* WM_APP + 1 */

/* One post on POSIX, written to the pipe in a single write. */
typedef struct FlashkitStatusRecord {
  uint32_t message;
  uint32_t reserved;
  uint64_t wParam;
  int64_t lParam;
} FlashkitStatusRecord;

/* Finds the attached devices; returns how many are listed (0 when none, or on a refused
 * system). Rebuilds the list on every call. */
FLASHKIT_EXPORT int FLASHKIT_CALL GetDevice(void);
/* Starts a download job and returns 0 at once; outcomes arrive as status messages.
 * mode: 1 loader, 2 firmware, 3 descriptor, 4 descriptor image. device: 1-based position,
 * 0 for every listed device. serialAndLog: with device 0, give out serial numbers and log. */
FLASHKIT_EXPORT int FLASHKIT_CALL Download(int mode, int device, int serialAndLog,
                                           FlashkitWindow window);
/* Status of the entry at 0-based `index` (1 good, 0 failed after a mass-programming job). */
FLASHKIT_EXPORT int FLASHKIT_CALL GetDeviceStatus(int index);
/* Releases every listed device. */
FLASHKIT_EXPORT void FLASHKIT_CALL EndDevice(void);
/* Copies the eight version bytes of the entry at `index` into `buffer`; returns 1. */
FLASHKIT_EXPORT int FLASHKIT_CALL GetDeviceVersion(int index, unsigned char* buffer);
/* Copies the 512-byte device information block into `buffer`; returns 1. The first argument
 * is not read. */
FLASHKIT_EXPORT int FLASHKIT_CALL GetDeviceInfo(int unused, unsigned char* buffer);

#ifdef __cplusplus
}

namespace flashkit {
/* The codes a job posts in lParam. */
enum class JobStatus : int {
  Progress = 0,
  FileMissing = 1,
  TransferFailed = 2,
  UnknownFlash = 3,
  Success = 4,
  ConfigurationError = 5,
  VerifyError = 6,
  ContextSwitchFailed = 7,
  OutOfMemory = 8,
  FlashIdentified = 9,
};
}  // namespace flashkit
#endif

#endif
