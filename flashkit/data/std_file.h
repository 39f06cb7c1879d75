#pragma once
#include <cstdio>
#include <memory>
#include <string>

namespace flashkit {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// A C stream that closes itself on every path out of its scope.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

inline UniqueFile OpenFile(const char* path, const char* mode) {
  return UniqueFile(std::fopen(path, mode));
}

// True when `path` can be opened for reading (it is closed again at once).
inline bool CanOpenForReading(const std::string& path) {
  return static_cast<bool>(OpenFile(path.c_str(), "rb"));
}

}  // namespace flashkit
