// Helpers of the storage tests: a scratch directory per test and the code of a raised error.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture.h"
#include "frame/error.h"
#include "platform/platform.h"

namespace ludrex::testing {

// The code of the fatal error body raises, or 0 when it returns normally.
template <class Body>
unsigned ErrorOf(Body&& body) {
  try {
    body();
  } catch (const Failure& f) {
    return f.code;
  }
  return 0;
}

// A fresh directory under the system's temporary directory, removed with its files afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    static int serial = 0;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("ludrex-storage-" + std::to_string(platform::TickCount()) + "-" +
                      std::to_string(++serial));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec)) break;
    }
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<unsigned char> ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& name, const std::vector<unsigned char>& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace ludrex::testing
