// POSIX implementation of the file-system part of the platform layer.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/platform.h"

namespace ludrex::platform {
namespace {

int Fd(FileHandle h) { return static_cast<int>(reinterpret_cast<std::intptr_t>(h)) - 1; }
FileHandle Handle(int fd) {
  return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd) + 1);
}

void CopyName(const char* s, char* out) {
  std::size_t n = std::strlen(s);
  if (n >= kMaxPath) n = kMaxPath - 1;
  std::memcpy(out, s, n);
  out[n] = 0;
}

bool FillInfo(const std::string& path, const char* name, EntryInfo* info) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  CopyName(name, info->name);
  info->directory = S_ISDIR(st.st_mode);
  // Read-only: no write permission bit (what the attribute means on Windows), or a file system
  // mounted read-only (which the bits do not show, and which no user, root included, can write).
  info->readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                   (!S_ISDIR(st.st_mode) && access(path.c_str(), W_OK) != 0 && errno == EROFS);
  info->size = static_cast<std::uint64_t>(st.st_size);
  // Seconds between 1601-01-01 and 1970-01-01.
  constexpr std::uint64_t kEpochShift = 11644473600ull;
  info->writeTime = (static_cast<std::uint64_t>(st.st_mtim.tv_sec) + kEpochShift) * 10000000ull +
                    static_cast<std::uint64_t>(st.st_mtim.tv_nsec) / 100u;
  return true;
}

struct Search {
  DIR* dir = nullptr;
  std::string directory;  // with trailing separator, or empty for the current directory
  std::string mask;
  bool single = false;  // a pattern without wildcards: one stat, no listing
};

bool NextMatch(Search* s, EntryInfo* info) {
  if (s->dir == nullptr) return false;
  while (dirent* e = readdir(s->dir)) {
    if (fnmatch(s->mask.c_str(), e->d_name, 0) != 0) continue;
    if (FillInfo(s->directory + e->d_name, e->d_name, info)) return true;
  }
  return false;
}

}  // namespace

FileHandle OpenFileHandle(const char* name, OpenMode mode, unsigned access, unsigned share,
                          unsigned flags) {
  if (name == nullptr || *name == 0) return nullptr;
  int oflags = O_CLOEXEC;
  if ((access & kAccessWrite) != 0) {
    oflags |= (access & kAccessRead) != 0 ? O_RDWR : O_WRONLY;
  } else {
    oflags |= O_RDONLY;
  }
  if (mode == OpenMode::kCreateAlways) oflags |= O_CREAT;
  if (mode == OpenMode::kOpenAlways) oflags |= O_CREAT;
  if ((flags & kFlagWriteThrough) != 0) oflags |= O_DSYNC;
  int fd = open(name, oflags, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  // An exclusive share mode keeps every other handle out, as on Windows. A writer that lets
  // others read still keeps out every other handle of the library (which asks for read
  // sharing only, and on Windows cannot share a file with a writer either).
  bool writer = (access & kAccessWrite) != 0;
  if ((share == kShareExclusive || writer) && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  if (share != kShareExclusive && !writer && flock(fd, LOCK_SH | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  if (mode == OpenMode::kCreateAlways && ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
#ifdef POSIX_FADV_SEQUENTIAL
  if ((flags & kFlagSequential) != 0) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if ((flags & kFlagRandom) != 0) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
#endif
  return Handle(fd);
}

bool CloseFileHandle(FileHandle h) {
  if (h == nullptr) return false;
  return close(Fd(h)) == 0;
}

bool ReadAt(FileHandle h, std::int64_t pos, void* buffer, std::size_t n) {
  if (h == nullptr || pos < 0) return false;
  char* p = static_cast<char*>(buffer);
  while (n > 0) {
    ssize_t got = pread(Fd(h), p, n, static_cast<off_t>(pos));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    pos += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAt(FileHandle h, std::int64_t pos, const void* buffer, std::size_t n) {
  if (h == nullptr || pos < 0) return false;
  const char* p = static_cast<const char*>(buffer);
  while (n > 0) {
    ssize_t put = pwrite(Fd(h), p, n, static_cast<off_t>(pos));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    pos += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

bool SetFileLength(FileHandle h, std::int64_t length) {
  if (h == nullptr || length < 0) return false;
  return ftruncate(Fd(h), static_cast<off_t>(length)) == 0;
}

bool GetFileLength(FileHandle h, std::int64_t* length) {
  struct stat st {};
  if (h == nullptr || fstat(Fd(h), &st) != 0) return false;
  *length = static_cast<std::int64_t>(st.st_size);
  return true;
}

bool FlushFileHandle(FileHandle h) { return h != nullptr && fsync(Fd(h)) == 0; }

void* FindFirstEntry(const char* pattern, EntryInfo* info) {
  if (pattern == nullptr || *pattern == 0) return nullptr;
  std::string p(pattern);
  auto* s = new Search;
  std::size_t slash = p.rfind('/');
  if (slash == std::string::npos) {
    s->mask = p;
  } else {
    s->directory = p.substr(0, slash + 1);
    s->mask = p.substr(slash + 1);
  }
  if (s->mask.find_first_of("*?[") == std::string::npos) {
    // A plain name: one entry or none (a trailing separator names the directory itself).
    s->single = true;
    std::string name = s->mask.empty() ? p : s->mask;
    if (!FillInfo(p, name.c_str(), info)) {
      delete s;
      return nullptr;
    }
    return s;
  }
  if (s->mask == "*.*") s->mask = "*";
  s->dir = opendir(s->directory.empty() ? "." : s->directory.c_str());
  if (!NextMatch(s, info)) {
    FindEnd(s);
    return nullptr;
  }
  return s;
}

bool FindNextEntry(void* search, EntryInfo* info) {
  if (search == nullptr) return false;
  auto* s = static_cast<Search*>(search);
  if (s->single) return false;
  return NextMatch(s, info);
}

void FindEnd(void* search) {
  if (search == nullptr) return;
  auto* s = static_cast<Search*>(search);
  if (s->dir != nullptr) closedir(s->dir);
  delete s;
}

bool RemoveFileEntry(const char* name) { return name != nullptr && unlink(name) == 0; }

bool MoveFileEntry(const char* source, const char* target) {
  if (source == nullptr || target == nullptr) return false;
  if (rename(source, target) == 0) return true;
  if (errno != EXDEV) return false;
  // Across file systems: copy, then remove the source.
  FileHandle in = OpenFileHandle(source, OpenMode::kOpenExisting, kAccessRead, kShareRead, 0);
  if (in == nullptr) return false;
  FileHandle out =
      OpenFileHandle(target, OpenMode::kCreateAlways, kAccessReadWrite, kShareExclusive, 0);
  bool ok = out != nullptr;
  std::int64_t length = 0;
  ok = ok && GetFileLength(in, &length);
  static char buffer[65536];
  for (std::int64_t pos = 0; ok && pos < length; pos += sizeof buffer) {
    std::size_t n = static_cast<std::size_t>(
        length - pos < static_cast<std::int64_t>(sizeof buffer) ? length - pos : sizeof buffer);
    ok = ReadAt(in, pos, buffer, n) && WriteAt(out, pos, buffer, n);
  }
  CloseFileHandle(in);
  if (out != nullptr) ok = CloseFileHandle(out) && ok;
  if (!ok) {
    unlink(target);
    return false;
  }
  return unlink(source) == 0;
}

bool MakeDirectory(const char* name) { return name != nullptr && mkdir(name, 0777) == 0; }

std::uint32_t FullPathName(const char* name, char* out, std::uint32_t cap) {
  if (name == nullptr || *name == 0) return 0;
  std::string full;
  if (name[0] == '/') {
    full = name;
  } else {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return 0;
    full = cwd;
    if (full.empty() || full.back() != '/') full += '/';
    full += name;
  }
  if (full.size() + 1 > cap) return static_cast<std::uint32_t>(full.size() + 1);
  std::memcpy(out, full.c_str(), full.size() + 1);
  return static_cast<std::uint32_t>(full.size());
}

std::uint32_t TempPath(char* out, std::uint32_t cap) {
  std::string dir;
  const char* env = std::getenv("TMPDIR");
  dir = (env != nullptr && *env != 0) ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  if (dir.size() + 1 > cap) return static_cast<std::uint32_t>(dir.size() + 1);
  std::memcpy(out, dir.c_str(), dir.size() + 1);
  return static_cast<std::uint32_t>(dir.size());
}

bool CreateTempName(const char* dir, const char* prefix, char* out) {
  if (dir == nullptr || prefix == nullptr) return false;
  // As the Windows call does: start from the clock, try each 16-bit number once.
  std::uint32_t start = (TickCount() ^ static_cast<std::uint32_t>(getpid())) & 0xFFFF;
  for (std::uint32_t i = 0; i < 0x10000; ++i) {
    std::uint32_t unique = (start + i) & 0xFFFF;
    if (unique == 0) continue;
    char name[kMaxPath + 32];
    int len = std::snprintf(name, sizeof name, "%s%.3s%X.tmp", dir, prefix, unique);
    if (len < 0 || static_cast<std::size_t>(len) >= kMaxPath) return false;
    int fd = open(name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      std::memcpy(out, name, static_cast<std::size_t>(len) + 1);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool DiskFreeBytes(const char* root, std::uint64_t* bytes) {
  struct statvfs st {};
  if (statvfs(root != nullptr && *root != 0 ? root : ".", &st) != 0) return false;
  *bytes = static_cast<std::uint64_t>(st.f_bfree) * st.f_frsize;
  return true;
}

bool DiskFreeBytesEx(const char* dir, std::uint64_t* bytes) {
  struct statvfs st {};
  if (statvfs(dir != nullptr && *dir != 0 ? dir : ".", &st) != 0) return false;
  *bytes = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

bool HasDiskFreeBytesEx() { return true; }

void UtcNow(SystemClock* now) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  gmtime_r(&ts.tv_sec, &t);
  now->year = t.tm_year + 1900;
  now->month = t.tm_mon + 1;
  now->day = t.tm_mday;
  now->hour = t.tm_hour;
  now->minute = t.tm_min;
  now->second = t.tm_sec;
  now->millisecond = static_cast<int>(ts.tv_nsec / 1000000);
}

}  // namespace ludrex::platform
