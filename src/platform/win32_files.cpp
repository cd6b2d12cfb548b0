// Win32 implementation of the file-system part of the platform layer: the real system calls.
#include <windows.h>

#include <cstring>

#include "platform/files.h"

namespace ludrex::platform {
namespace {

HANDLE H(FileHandle h) { return static_cast<HANDLE>(h); }

void ToInfo(const WIN32_FIND_DATAA& d, EntryInfo* info) {
  std::size_t n = std::strlen(d.cFileName);
  if (n >= kMaxPath) n = kMaxPath - 1;
  std::memcpy(info->name, d.cFileName, n);
  info->name[n] = 0;
  info->directory = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->readOnly = (d.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  info->size = (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  info->writeTime = (static_cast<std::uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) |
                    d.ftLastWriteTime.dwLowDateTime;
}

struct Search {
  HANDLE handle;
};

using FreeSpaceExFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// GetDiskFreeSpaceExA is looked up in kernel32.dll once; systems without it use the 32-bit query.
FreeSpaceExFn FreeSpaceEx() {
  static FreeSpaceExFn fn = [] {
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel == nullptr ? nullptr
                             : reinterpret_cast<FreeSpaceExFn>(reinterpret_cast<void*>(
                                   ::GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
  }();
  return fn;
}

bool Seek(HANDLE h, std::int64_t pos) {
  LARGE_INTEGER li;
  li.QuadPart = pos;
  return ::SetFilePointerEx(h, li, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

FileHandle OpenFileHandle(const char* name, OpenMode mode, unsigned access, unsigned share,
                          unsigned flags) {
  if (name == nullptr || *name == 0) return nullptr;
  DWORD acc = 0;
  if ((access & kAccessRead) != 0) acc |= GENERIC_READ;
  if ((access & kAccessWrite) != 0) acc |= GENERIC_WRITE;
  DWORD sh = share == kShareRead ? FILE_SHARE_READ : 0;
  DWORD disp = mode == OpenMode::kOpenExisting   ? OPEN_EXISTING
               : mode == OpenMode::kCreateAlways ? CREATE_ALWAYS
                                                 : OPEN_ALWAYS;
  DWORD attr = FILE_ATTRIBUTE_NORMAL;
  if ((flags & kFlagSequential) != 0) attr |= FILE_FLAG_SEQUENTIAL_SCAN;
  if ((flags & kFlagRandom) != 0) attr |= FILE_FLAG_RANDOM_ACCESS;
  if ((flags & kFlagWriteThrough) != 0) attr |= FILE_FLAG_WRITE_THROUGH;
  HANDLE h = ::CreateFileA(name, acc, sh, nullptr, disp, attr, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : static_cast<FileHandle>(h);
}

bool CloseFileHandle(FileHandle h) { return h != nullptr && ::CloseHandle(H(h)) != 0; }

bool ReadAt(FileHandle h, std::int64_t pos, void* buffer, std::size_t n) {
  if (h == nullptr || pos < 0 || !Seek(H(h), pos)) return false;
  char* p = static_cast<char*>(buffer);
  while (n > 0) {
    DWORD want = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
    DWORD got = 0;
    if (!::ReadFile(H(h), p, want, &got, nullptr) || got != want) return false;
    p += got;
    n -= got;
  }
  return true;
}

bool WriteAt(FileHandle h, std::int64_t pos, const void* buffer, std::size_t n) {
  if (h == nullptr || pos < 0 || !Seek(H(h), pos)) return false;
  const char* p = static_cast<const char*>(buffer);
  while (n > 0) {
    DWORD want = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
    DWORD put = 0;
    if (!::WriteFile(H(h), p, want, &put, nullptr) || put != want) return false;
    p += put;
    n -= put;
  }
  return true;
}

bool SetFileLength(FileHandle h, std::int64_t length) {
  if (h == nullptr || length < 0 || !Seek(H(h), length)) return false;
  return ::SetEndOfFile(H(h)) != 0;
}

bool GetFileLength(FileHandle h, std::int64_t* length) {
  LARGE_INTEGER li;
  if (h == nullptr || !::GetFileSizeEx(H(h), &li)) return false;
  *length = li.QuadPart;
  return true;
}

bool FlushFileHandle(FileHandle h) { return h != nullptr && ::FlushFileBuffers(H(h)) != 0; }

void* FindFirstEntry(const char* pattern, EntryInfo* info) {
  if (pattern == nullptr || *pattern == 0) return nullptr;
  WIN32_FIND_DATAA d;
  HANDLE h = ::FindFirstFileA(pattern, &d);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  ToInfo(d, info);
  return new Search{h};
}

bool FindNextEntry(void* search, EntryInfo* info) {
  if (search == nullptr) return false;
  WIN32_FIND_DATAA d;
  if (!::FindNextFileA(static_cast<Search*>(search)->handle, &d)) return false;
  ToInfo(d, info);
  return true;
}

void FindEnd(void* search) {
  if (search == nullptr) return;
  ::FindClose(static_cast<Search*>(search)->handle);
  delete static_cast<Search*>(search);
}

bool RemoveFileEntry(const char* name) { return name != nullptr && ::DeleteFileA(name) != 0; }

bool MoveFileEntry(const char* source, const char* target) {
  return ::MoveFileExA(source, target, MOVEFILE_COPY_ALLOWED) != 0;
}

bool MakeDirectory(const char* name) { return ::CreateDirectoryA(name, nullptr) != 0; }

std::uint32_t FullPathName(const char* name, char* out, std::uint32_t cap) {
  if (name == nullptr || *name == 0) return 0;
  return ::GetFullPathNameA(name, cap, out, nullptr);
}

std::uint32_t TempPath(char* out, std::uint32_t cap) { return ::GetTempPathA(cap, out); }

bool CreateTempName(const char* dir, const char* prefix, char* out) {
  return ::GetTempFileNameA(dir, prefix, 0, out) != 0;
}

bool DiskFreeBytes(const char* root, std::uint64_t* bytes) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!::GetDiskFreeSpaceA(root != nullptr && *root != 0 ? root : nullptr, &sectorsPerCluster,
                           &bytesPerSector, &freeClusters, &totalClusters)) {
    return false;
  }
  // A 64-bit product: the 32-bit one wraps on disks with more than 4 GB free.
  *bytes = static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector * freeClusters;
  return true;
}

bool DiskFreeBytesEx(const char* dir, std::uint64_t* bytes) {
  FreeSpaceExFn fn = FreeSpaceEx();
  if (fn == nullptr) return false;
  ULARGE_INTEGER avail, total, totalFree;
  if (!fn(dir != nullptr && *dir != 0 ? dir : nullptr, &avail, &total, &totalFree)) return false;
  *bytes = avail.QuadPart;
  return true;
}

bool HasDiskFreeBytesEx() { return FreeSpaceEx() != nullptr; }

void UtcNow(SystemClock* now) {
  SYSTEMTIME t;
  ::GetSystemTime(&t);
  now->year = t.wYear;
  now->month = t.wMonth;
  now->day = t.wDay;
  now->hour = t.wHour;
  now->minute = t.wMinute;
  now->second = t.wSecond;
  now->millisecond = t.wMilliseconds;
}

}  // namespace ludrex::platform
