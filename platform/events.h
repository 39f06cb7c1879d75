#pragma once
#include "platform/handle.h"

namespace platform {

// Completion events for ASPI requests.
class Events {
 public:
  virtual ~Events() = default;
  // Creates an unnamed, manual-reset event that starts unsignalled. Returns null on failure.
  virtual Handle Create() = 0;
  // Waits without time limit until the event is signalled.
  virtual void Wait(Handle event) = 0;
  // Signals the event (used by whoever completes a request).
  virtual void Signal(Handle event) = 0;
  // Releases the event. A null handle is ignored.
  virtual void Close(Handle event) = 0;
};

}  // namespace platform
