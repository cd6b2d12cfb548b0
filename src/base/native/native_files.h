// Where the files of a native base live: ordinary files named base name + extension, or members
// of a container volume named embedded name + extension.
#pragma once

#include <cstdint>
#include <string>

#include "storage/array.h"

namespace ludrex {

class Volume;

class NativeFileSpace {
 public:
  NativeFileSpace() = default;
  NativeFileSpace(std::string stem, Volume* volume) : stem_(std::move(stem)), volume_(volume) {}

  const std::string& Stem() const { return stem_; }
  Volume* InVolume() const { return volume_; }
  std::string NameOf(const char* extension) const { return stem_ + extension; }

  bool Exists(const char* extension) const;
  std::int64_t Size(const char* extension) const;
  // Opens an existing file (503/506 when it cannot be), initialised with elementSize.
  ArrayHandle Open(const char* extension, std::uint16_t elementSize) const;
  // Creates (or empties) the file, initialised with elementSize.
  ArrayHandle Create(const char* extension, std::uint16_t elementSize) const;
  // The same, not initialised (for owners that initialise themselves).
  Array* OpenRaw(const char* extension) const;
  void Remove(const char* extension) const;

 private:
  std::string stem_;
  Volume* volume_ = nullptr;
};

// ".a%.2i" / ".d%.2i".
std::string GroupExtension(char kind, std::int32_t group);

}  // namespace ludrex
