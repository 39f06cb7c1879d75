#pragma once
#include <cstdio>
#include <memory>

namespace flashkit {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// A C stream that closes itself on every path out of its scope.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

inline UniqueFile OpenFile(const char* path, const char* mode) {
  return UniqueFile(std::fopen(path, mode));
}

}  // namespace flashkit
