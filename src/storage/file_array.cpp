// FileArray: an array kept in a disk file.
#include <algorithm>
#include <cstring>
#include <limits>

#include "frame/error.h"
#include "storage/array.h"
#include "storage/files.h"

namespace ludrex {

namespace {
// "OLD: name" / "NEW: name" for the open and create errors.
[[noreturn]] void RaiseOpen(const char* prefix, const char* name) {
  char extra[300];
  std::size_t p = std::strlen(prefix);
  std::memcpy(extra, prefix, p);
  std::size_t n =
      name != nullptr ? std::min<std::size_t>(std::strlen(name), sizeof extra - p - 1) : 0;
  if (n > 0) std::memcpy(extra + p, name, n);
  extra[p + n] = 0;
  Raise(506, extra);
}
}  // namespace

FileArray::FileArray(std::int32_t count, const char* name, unsigned flags, unsigned access,
                     unsigned share)
    : name_(String::WithMaxLen(256)), initialCount_(count) {
  using namespace platform;
  bool named = name != nullptr && *name != 0;
  if (count == -1) {
    if (!named) Raise(502);
    name_.Assign(String(name));
    handle_ = OpenFileHandle(name, OpenMode::kOpenExisting, access, share, flags);
    if (handle_ == nullptr && (access & kAccessWrite) != 0) {
      handle_ = OpenFileHandle(name, OpenMode::kOpenExisting, kAccessRead, share, flags);
      readOnly_ = handle_ != nullptr;
    }
    if (handle_ == nullptr) RaiseOpen("OLD: ", name);
    count_ = 0;
  } else {
    if (named) {
      name_.Assign(String(name));
    } else {
      name_.Assign(TempFileName());
      deleteOnClose_ = true;
    }
    handle_ = OpenFileHandle(name_.Text(), OpenMode::kCreateAlways, access, share, flags);
    if (handle_ == nullptr) {
      if (deleteOnClose_) RemoveFile(name_.Text());
      RaiseOpen("NEW: ", name_.Text());
    }
    count_ = count < 0 ? 0 : count;
  }
  position_ = 0;
  expandable_ = true;
}

FileArray::~FileArray() {
  if (handle_ != nullptr && !platform::CloseFileHandle(handle_)) ReportFatal(508, name_.Text());
  if (deleteOnClose_ && !platform::RemoveFileEntry(name_.Text())) ReportFatal(509, name_.Text());
}

std::int32_t FileArray::Init(std::uint16_t elementSize) {
  elementSize_ = elementSize == 0 ? 1 : elementSize;
  if (initialCount_ != -1) {
    if (!platform::SetFileLength(handle_, static_cast<std::int64_t>(count_) * elementSize_)) {
      Raise(518, name_.Text());
    }
  }
  std::int64_t length = 0;
  if (!platform::GetFileLength(handle_, &length)) Raise(510, name_.Text());
  std::int64_t c = length / elementSize_;
  // A file of more than 2^31 - 1 elements cannot be addressed with 32-bit indexes.
  count_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(c, std::numeric_limits<std::int32_t>::max()));
  return count_;
}

String FileArray::FileName() { return String::Copy(name_.Text(), name_.Length()); }

void FileArray::Read(std::int32_t index, void* buffer, std::int32_t n) {
  CheckRead(index, n);
  if (n > 0 && !platform::ReadAt(handle_, static_cast<std::int64_t>(index) * elementSize_, buffer,
                                 static_cast<std::size_t>(n) * elementSize_)) {
    Raise(512, name_.Text());
  }
  position_ = index + n;
}

void FileArray::Write(std::int32_t index, const void* buffer, std::int32_t n) {
  CheckWrite(index, n);
  if (n > 0 && !platform::WriteAt(handle_, static_cast<std::int64_t>(index) * elementSize_, buffer,
                                  static_cast<std::size_t>(n) * elementSize_)) {
    Raise(513, name_.Text());
  }
  if (index + n > count_) count_ = index + n;
  position_ = index + n;
}

void FileArray::Flush() {
  if (!platform::FlushFileHandle(handle_)) Raise(515, name_.Text());
}

std::int32_t FileArray::ElementsPerKilobyte() { return 1024 / elementSize_; }

std::int32_t FileArray::Room() {
  std::uint64_t free = FreeSpace(name_.Text()) / elementSize_;
  return static_cast<std::int32_t>(
      std::min<std::uint64_t>(free, std::numeric_limits<std::int32_t>::max()));
}

void FileArray::Extend(std::int32_t delta) {
  if (delta == 0) return;
  std::int32_t c = ExtendedCount(delta);
  if (!platform::SetFileLength(handle_, static_cast<std::int64_t>(c) * elementSize_)) {
    Raise(518, name_.Text());
  }
  count_ = c;
  ClampPosition();
}

}  // namespace ludrex
