#include "flashkit/job/job_buffer.h"

#include <atomic>
#include <cstring>
#include <new>

namespace flashkit {

namespace {

std::atomic<int> allocationsUntilFailure{0};

std::uint8_t* NewZeroed(std::size_t size) {
  const int countdown = allocationsUntilFailure.load();
  if (countdown > 0) {
    allocationsUntilFailure.store(countdown - 1);
    if (countdown == 1) return nullptr;
  }
  return new (std::nothrow) std::uint8_t[size]();
}

}  // namespace

void FailJobAllocationAfter(int count) { allocationsUntilFailure.store(count); }

bool JobBuffer::Allocate(std::size_t size) {
  std::uint8_t* bytes = NewZeroed(size);
  if (bytes == nullptr) return false;
  data_.reset(bytes);
  size_ = size;
  return true;
}

bool JobBuffer::Resize(std::size_t size) {
  std::uint8_t* bytes = NewZeroed(size);
  if (bytes == nullptr) return false;
  if (data_) std::memcpy(bytes, data_.get(), size < size_ ? size : size_);
  data_.reset(bytes);
  size_ = size;
  return true;
}

void JobBuffer::Release() {
  data_.reset();
  size_ = 0;
}

}  // namespace flashkit
