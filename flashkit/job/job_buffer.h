#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace flashkit {

// A job's byte buffer. Allocation failure is reported, not thrown, so the job can post
// OutOfMemory; new buffers are zero-filled so that no byte the job sends is left undefined.
class JobBuffer {
 public:
  bool Allocate(std::size_t size);
  // Grows or shrinks to `size`, keeping the bytes the two sizes share; false leaves it as it was.
  bool Resize(std::size_t size);
  void Release();
  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

// Makes the n-th job buffer allocation from now fail (1 = the next one; 0 = none), so tests can
// reach the OutOfMemory paths.
void FailJobAllocationAfter(int count);

}  // namespace flashkit
