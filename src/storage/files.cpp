// Files, temporary names, free space and the log file.
#include "storage/files.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "frame/callbacks.h"
#include "frame/error.h"
#include "frame/state.h"
#include "storage/array.h"
#include "storage/memory.h"

namespace ludrex {

namespace {

bool Query(const char* name, platform::EntryInfo* info) {
  void* s = platform::FindFirstEntry(name, info);
  if (s == nullptr) return false;
  platform::FindEnd(s);
  return true;
}

platform::EntryInfo Required(const char* name) {
  platform::EntryInfo info{};
  if (!Query(name, &info)) Raise(503, name);
  return info;
}

std::string Prefixed(const char* prefix, const char* name) {
  std::string s(prefix);
  if (name != nullptr) s += name;
  if (s.size() > 400) s.resize(400);
  return s;
}

}  // namespace

bool FileExists(const char* name) {
  platform::EntryInfo info{};
  return Query(name, &info) && !info.directory;
}

bool IsDirectory(const char* name) {
  platform::EntryInfo info{};
  return Query(name, &info) && info.directory;
}

std::uint32_t FileSize(const char* name) {
  return static_cast<std::uint32_t>(Required(name).size & 0xFFFFFFFFu);
}

bool IsReadOnly(const char* name) { return Required(name).readOnly; }

std::uint32_t FileStamp(const char* name) {
  return static_cast<std::uint32_t>(Required(name).writeTime >> 32);
}

bool RemoveFile(const char* name) { return platform::RemoveFileEntry(name); }

FileSearch* FileSearch::First(const char* pattern) {
  auto* s = new FileSearch;
  s->handle_ = platform::FindFirstEntry(pattern, &s->info_);
  if (s->handle_ == nullptr) {
    delete s;
    return nullptr;
  }
  return s;
}

FileSearch* FileSearch::Next(FileSearch* search) {
  if (search == nullptr) return nullptr;
  if (platform::FindNextEntry(search->handle_, &search->info_)) return search;
  Close(search);
  return nullptr;
}

void FileSearch::Close(FileSearch* search) {
  if (search == nullptr) return;
  platform::FindEnd(search->handle_);
  delete search;
}

void CreateDir(const char* name) {
  if (!platform::MakeDirectory(name)) Raise(506, Prefixed("NEW DIR: ", name).c_str());
}

void CopyFileContents(const char* target, const char* source) {
  using namespace platform;
  ArrayHandle out(NewFileArray(0, target, kFlagSequential, kAccessReadWrite, kShareExclusive));
  out->Init(1);
  ArrayHandle in(NewFileArray(-1, source, kFlagSequential, kAccessReadWrite, kShareExclusive));
  in->Init(1);
  out.Replace(0, out->Count(), in, 0, in->Count());
}

void MoveFileTo(const char* target, const char* source) {
  if (!platform::MoveFileEntry(source, target)) Raise(528, source);
}

String TempDirectory() {
  char small[platform::kMaxPath + 1];
  std::uint32_t n = platform::TempPath(small, sizeof small);
  if (n == 0) Raise(543);
  if (n < sizeof small) return String::Copy(small, n);
  // Longer than the usual buffer: ask again with the size the system gave.
  std::string big(n + 1, '\0');
  std::uint32_t m = platform::TempPath(big.data(), n + 1);
  if (m == 0 || m > n) Raise(543);
  if (m > kMaxStringLength) Raise(543);
  return String::Copy(big.data(), m);
}

String TempFileName() {
  String dir = TempDirectory();
  char name[platform::kMaxPath + 1] = {};
  if (!platform::CreateTempName(dir.Text(), "~~~", name)) Raise(544, dir.Text());
  return String::Copy(name, static_cast<std::uint32_t>(std::strlen(name)));
}

String TempBaseNameAt(const char* directory, int hour, int minute, int second) {
  unsigned v = ((static_cast<unsigned>(hour) % 16) * 64 + static_cast<unsigned>(minute) % 64) * 64 +
               static_cast<unsigned>(second) % 64;
  std::string dir(directory != nullptr ? directory : "");
  for (unsigned tries = 0; tries < 0x10000; ++tries) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%05X", (v + tries) & 0xFFFFFu);
    std::string candidate = dir + "~~~" + digits;
    if (!FileExists((candidate + ".kvx").c_str())) {
      return String::Copy(candidate.data(), static_cast<std::uint32_t>(candidate.size()));
    }
  }
  Raise(544, dir.c_str());
}

String TempBaseName() {
  std::string dir;
  char small[platform::kMaxPath + 1];
  std::uint32_t n = platform::TempPath(small, sizeof small);
  if (n > 0 && n < sizeof small) {
    dir.assign(small, n);
  } else if (n >= sizeof small) {
    std::string big(n + 1, '\0');
    std::uint32_t m = platform::TempPath(big.data(), n + 1);
    if (m > 0 && m <= n) dir.assign(big.data(), m);
  }
  if (dir.empty()) dir = ProgramPath;
  platform::SystemClock now{};
  platform::UtcNow(&now);
  return TempBaseNameAt(dir.c_str(), now.hour, now.minute, now.second);
}

String DirectoryPart(const char* name, char separator) {
  if (name == nullptr || *name == 0) return String::Copy("", 0);
  std::size_t len = std::strlen(name);
  if (name[len - 1] == separator) return String::Copy(name, static_cast<std::uint32_t>(len));
  const char* last = std::strrchr(name, separator);
  if (last == nullptr) return String::Copy("", 0);
  if (last == name) return String::Copy(name, 1);
  return String::Copy(name, static_cast<std::uint32_t>(last - name + 1));
}

String RootOf(const char* full) {
  if (full == nullptr) return String::Copy("", 0);
  std::size_t len = std::strlen(full);
  if (len >= 3 && full[1] == ':' && full[2] == '\\') return String::Copy(full, 3);
  if (len >= 2 && full[0] == '\\' && full[1] == '\\') {
    // \\server\share\ : the backslash that ends the share name.
    const char* server_end = std::strchr(full + 2, '\\');
    if (server_end != nullptr) {
      const char* share_end = std::strchr(server_end + 1, '\\');
      if (share_end != nullptr) {
        return String::Copy(full, static_cast<std::uint32_t>(share_end - full + 1));
      }
      // No backslash after the share name: the root is the whole text plus one.
      std::string r(full);
      r += '\\';
      return String::Copy(r.data(), static_cast<std::uint32_t>(r.size()));
    }
  }
  return String::Copy("", 0);
}

std::uint64_t FreeSpace(const char* name) {
  // An empty name measures the temporary directory's disk (without creating a file there).
  String temp;
  if (name == nullptr || *name == 0) {
    temp = TempDirectory();
    name = temp.Text();
  }
  char full[platform::kMaxPath + 1];
  std::uint32_t n = platform::FullPathName(name, full, sizeof full);
  std::string path;
  if (n == 0) Raise(516, name);
  if (n < sizeof full) {
    path.assign(full, n);
  } else {
    path.assign(n + 1, '\0');
    std::uint32_t m = platform::FullPathName(name, path.data(), n + 1);
    if (m == 0 || m > n) Raise(516, name);
    path.resize(m);
  }
  String root = RootOf(path.c_str());
  std::string where(root.Text(), root.Length());
  if (where.empty() && platform::kPathSeparator == '/') {
    // POSIX paths have no drive: measure the file's directory.
    String dir = DirectoryPart(path.c_str());
    where.assign(dir.Text(), dir.Length());
  }
  std::uint64_t bytes = 0;
  if (!platform::DiskFreeBytes(where.empty() ? nullptr : where.c_str(), &bytes)) return 0;
  return bytes;
}

std::uint64_t FreeSpaceTemp() {
  if (!platform::HasDiskFreeBytesEx()) return FreeSpace("");
  char small[platform::kMaxPath + 1];
  std::uint32_t n = platform::TempPath(small, sizeof small);
  if (n == 0) Raise(516);
  if (n > platform::kMaxPath) return 0;
  std::uint64_t bytes = 0;
  if (!platform::DiskFreeBytesEx(small, &bytes)) Raise(516, small);
  return bytes;
}

std::uint64_t FreeSpaceFor(const char* name) {
  if (!platform::HasDiskFreeBytesEx()) return FreeSpace(name);
  String dir = DirectoryPart(name);
  std::uint64_t bytes = 0;
  if (!platform::DiskFreeBytesEx(dir.Empty() ? nullptr : dir.Text(), &bytes)) Raise(516, name);
  return bytes;
}

bool SpaceQuestion(std::int64_t need, std::uint16_t code, std::uint64_t free) {
  if (need < 0 || free >= static_cast<std::uint64_t>(need)) return true;
  std::string format = MessageTextPtr(code);
  // The message's own placeholder is "%I64d"; format the number here, whatever the C runtime.
  char number[32];
  std::snprintf(number, sizeof number, "%" PRId64, need / 1024);
  std::string text;
  std::size_t at = format.find("%I64d");
  if (at == std::string::npos) {
    text = format;
  } else {
    text = format.substr(0, at) + number + format.substr(at + 5);
  }
  return MessageDialog(text.c_str(), 0, kDialogQuestion) != kDialogAbort;
}

bool AskSpaceForBase(std::int64_t need, const char* baseName) {
  return SpaceQuestion(need, 925, FreeSpaceFor(baseName));
}

bool AskSpaceForTemp(std::int64_t need) { return SpaceQuestion(need, 926, FreeSpaceTemp()); }

// ---- LogFile
// -------------------------------------------------------------------------------------

LogFile::LogFile() : buffer_(static_cast<char*>(MemAlloc(kBufferSize))) {
  std::snprintf(name_, sizeof name_, "%s", "d:\\trace\\trace.out");
}

LogFile::~LogFile() {
  try {
    Flush();
  } catch (...) {
  }
  MemFree(buffer_);
}

void LogFile::SetName(const char* name) {
  if (name == nullptr) return;
  std::size_t n = std::strlen(name);
  if (n < 1 || n >= 256) return;
  std::memcpy(name_, name, n + 1);
}

void LogFile::Write(const void* bytes, std::int32_t n) {
  if (!enabled_ || n <= 0 || n > kBufferSize) return;
  if (length_ + n > kBufferSize) Flush();
  std::memcpy(buffer_ + length_, bytes, static_cast<std::size_t>(n));
  length_ += n;
}

void LogFile::Line(const char* text) {
  Write("\r\n", 2);
  if (text != nullptr) Write(text, static_cast<std::int32_t>(std::strlen(text)));
}

void LogFile::Flush() {
  using namespace platform;
  if (handle_ == nullptr) {
    handle_ =
        OpenFileHandle(name_, OpenMode::kOpenAlways, kAccessWrite, kShareRead, kFlagWriteThrough);
    opened_ = handle_ != nullptr;
  }
  if (handle_ != nullptr) {
    std::int64_t end = 0;
    if (GetFileLength(handle_, &end) && length_ > 0) {
      WriteAt(handle_, end, buffer_, static_cast<std::size_t>(length_));
    }
    CloseFileHandle(handle_);
    handle_ = nullptr;
  }
  length_ = 0;
}

}  // namespace ludrex
