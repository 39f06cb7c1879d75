#pragma once
#include <cstdio>
#include <string>

namespace flashkit {

// A C stream closed when it goes out of scope, on every path.
class ScopedFile {
 public:
  ScopedFile() = default;
  ScopedFile(const std::string& path, const char* mode) : file_(std::fopen(path.c_str(), mode)) {}
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() { Close(); }

  bool Open(const std::string& path, const char* mode) {
    Close();
    file_ = std::fopen(path.c_str(), mode);
    return file_ != nullptr;
  }
  void Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
  }
  explicit operator bool() const { return file_ != nullptr; }
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_ = nullptr;
};

// True when `path` can be opened for reading (it is closed again at once).
inline bool CanOpenForReading(const std::string& path) {
  ScopedFile file(path, "rb");
  return static_cast<bool>(file);
}

}  // namespace flashkit
