// The file-system part of the platform layer: file handles with positional I/O, queries on
// directory entries, directory search, temporary paths and names, free space and the system
// clock. posix_files.cpp and win32_files.cpp implement it. Names here never match a Win32 macro.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ludrex::platform {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif
// Longest path the library hands to the system (MAX_PATH).
constexpr std::size_t kMaxPath = 260;

// An open file; null is "no file".
using FileHandle = void*;

// How OpenFileHandle opens or creates.
enum class OpenMode { kOpenExisting, kCreateAlways, kOpenAlways };
// Access bits.
constexpr unsigned kAccessRead = 1;
constexpr unsigned kAccessWrite = 2;
constexpr unsigned kAccessReadWrite = kAccessRead | kAccessWrite;
// Share modes: nobody else may open the file, or others may read it.
constexpr unsigned kShareExclusive = 0;
constexpr unsigned kShareRead = 1;
// Access-pattern hints and write-through.
constexpr unsigned kFlagNone = 0;
constexpr unsigned kFlagSequential = 1;
constexpr unsigned kFlagRandom = 2;
constexpr unsigned kFlagWriteThrough = 4;

// Opens or creates a file; null on failure. On POSIX an exclusive share mode is an advisory
// lock (flock) that other handles of this library respect.
FileHandle OpenFileHandle(const char* name, OpenMode mode, unsigned access, unsigned share,
                          unsigned flags);
// Closes a handle; false when the system reports a failure.
bool CloseFileHandle(FileHandle h);
// Reads or writes exactly n bytes at byte offset pos; false on any failure or short transfer.
bool ReadAt(FileHandle h, std::int64_t pos, void* buffer, std::size_t n);
bool WriteAt(FileHandle h, std::int64_t pos, const void* buffer, std::size_t n);
// Sets the file's length (cuts or extends with zeros).
bool SetFileLength(FileHandle h, std::int64_t length);
// The file's length in bytes.
bool GetFileLength(FileHandle h, std::int64_t* length);
// Writes the system's buffers of this file to disk.
bool FlushFileHandle(FileHandle h);

// What a directory search or query found about one entry.
struct EntryInfo {
  char name[kMaxPath];  // file name without directory
  bool directory;
  bool readOnly;
  std::uint64_t size;
  std::uint64_t writeTime;  // 100-ns intervals since 1601-01-01 UTC (FILETIME)
};

// Directory search over a pattern ("dir<sep>*.ext"; '*' and '?' in the last component only).
// FindFirstEntry returns null when nothing matches; FindNextEntry false at the end; FindEnd
// releases the search (null is ignored).
void* FindFirstEntry(const char* pattern, EntryInfo* info);
bool FindNextEntry(void* search, EntryInfo* info);
void FindEnd(void* search);

// Removes a file; false when it could not be removed.
bool RemoveFileEntry(const char* name);
// Moves or renames source to target, copying across disks when needed.
bool MoveFileEntry(const char* source, const char* target);
// Creates one directory.
bool MakeDirectory(const char* name);

// GetFullPathNameA: writes the absolute form of name (NUL-terminated) when it fits in cap bytes
// and returns its length; returns the size needed when it does not fit; 0 on failure.
std::uint32_t FullPathName(const char* name, char* out, std::uint32_t cap);
// GetTempPathA: the temporary directory with a trailing separator. Returns its length when it
// fits in cap bytes (with the NUL), else the size needed; 0 on failure.
std::uint32_t TempPath(char* out, std::uint32_t cap);
// GetTempFileNameA with unique number 0: creates a new empty file dir + prefix + hex digits +
// ".tmp" and writes its name (kMaxPath bytes at out); false on failure.
bool CreateTempName(const char* dir, const char* prefix, char* out);

// Free bytes of the disk that holds root (a root or directory; null: the current directory),
// computed in 64 bits. False on failure.
bool DiskFreeBytes(const char* root, std::uint64_t* bytes);
// Free bytes available to the caller on the disk of directory dir (null: the current
// directory), GetDiskFreeSpaceExA. False on failure or when the system lacks the query.
bool DiskFreeBytesEx(const char* dir, std::uint64_t* bytes);
// True when the 64-bit query is available (looked up once).
bool HasDiskFreeBytesEx();

// The current UTC time of day and date (GetSystemTime).
struct SystemClock {
  int year, month, day, hour, minute, second, millisecond;
};
void UtcNow(SystemClock* now);

}  // namespace ludrex::platform
