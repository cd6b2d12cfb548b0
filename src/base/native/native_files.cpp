#include "base/native/native_files.h"

#include <cstdio>

#include "storage/files.h"
#include "storage/volume.h"

namespace ludrex {

std::string GroupExtension(char kind, std::int32_t group) {
  char text[8];
  std::snprintf(text, sizeof text, ".%c%.2i", kind, static_cast<int>(group));
  return text;
}

bool NativeFileSpace::Exists(const char* extension) const {
  std::string name = NameOf(extension);
  if (volume_ != nullptr) return volume_->NameExists(name.c_str(), kVolumeFile, 0);
  return FileExists(name.c_str());
}

std::int64_t NativeFileSpace::Size(const char* extension) const {
  std::string name = NameOf(extension);
  if (volume_ != nullptr) {
    std::int32_t i = volume_->FindEntry(name.c_str(), kVolumeFile, 0);
    return i < 0 ? -1 : volume_->Entry(i).sizeOrId;
  }
  return FileExists(name.c_str()) ? static_cast<std::int64_t>(FileSize(name.c_str())) : -1;
}

Array* NativeFileSpace::OpenRaw(const char* extension) const {
  std::string name = NameOf(extension);
  if (volume_ != nullptr) return new VolumeFileArray(-1, name.c_str(), volume_, 0);
  // Other programs may read the files of an open base (a copy, a backup); none may write them.
  return NewFileArray(-1, name.c_str(), platform::kFlagNone, platform::kAccessReadWrite,
                      platform::kShareRead);
}

ArrayHandle NativeFileSpace::Open(const char* extension, std::uint16_t elementSize) const {
  ArrayHandle a(OpenRaw(extension));
  a->Init(elementSize);
  a->Expandable(1);
  return a;
}

ArrayHandle NativeFileSpace::Create(const char* extension, std::uint16_t elementSize) const {
  std::string name = NameOf(extension);
  ArrayHandle a(volume_ != nullptr ? new VolumeFileArray(0, name.c_str(), volume_, 0)
                                   : NewFileArray(0, name.c_str(), platform::kFlagNone,
                                                  platform::kAccessReadWrite,
                                                  platform::kShareRead));
  a->Init(elementSize);
  a->Expandable(1);
  return a;
}

void NativeFileSpace::Remove(const char* extension) const {
  std::string name = NameOf(extension);
  if (volume_ != nullptr) {
    if (volume_->NameExists(name.c_str(), kVolumeFile, 0)) {
      volume_->DeleteEntries(name.c_str(), kVolumeFile, 0);
    }
    return;
  }
  if (FileExists(name.c_str())) RemoveFile(name.c_str());
}

}  // namespace ludrex
