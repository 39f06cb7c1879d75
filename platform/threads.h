#pragma once
#include <cstddef>

namespace platform {

class Threads {
 public:
  virtual ~Threads() = default;
  // Starts `entry(argument)` on a new detached thread whose stack holds at least `stackBytes`.
  // Returns true when the thread was started, false when it could not be.
  virtual bool Start(void (*entry)(void*), void* argument, std::size_t stackBytes) = 0;
};

}  // namespace platform
