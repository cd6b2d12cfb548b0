// Direct use of the file system outside the arrays: queries on single files, directory search
// and creation, whole-file copy and move, temporary names, free space and the question long
// operations ask before they fill a disk, and a small buffered log file. Names are ANSI paths
// (Windows-1251); every failure is fatal and raised with its ARRAY code.
#pragma once

#include <cstdint>

#include "platform/files.h"
#include "storage/string.h"

namespace ludrex {

// True when an entry of that name exists and is not (FileExists) / is (IsDirectory) a directory.
bool FileExists(const char* name);
bool IsDirectory(const char* name);
// The low 32 bits of the file's size; 503 when there is no such entry.
std::uint32_t FileSize(const char* name);
// The read-only attribute; 503 when there is no such entry.
bool IsReadOnly(const char* name);
// The high 32 bits of the last-write time (100-ns units since 1601); 503 when absent.
std::uint32_t FileStamp(const char* name);
// Removes a file; the system's result, no error.
bool RemoveFile(const char* name);

// A directory search: First returns null when nothing matches the pattern; Next advances and,
// at the end, frees the search and returns null; Close frees a search not run to the end (null
// allowed).
class FileSearch {
 public:
  static FileSearch* First(const char* pattern);
  static FileSearch* Next(FileSearch* search);
  static void Close(FileSearch* search);
  // A view of the current entry's file name (valid until Next or Close).
  String FoundName() const { return String(info_.name); }
  const platform::EntryInfo& Info() const { return info_; }

 private:
  FileSearch() = default;
  void* handle_ = nullptr;
  platform::EntryInfo info_{};
};

// Creates a directory; 506 with "NEW DIR: " name on failure.
void CreateDir(const char* name);
// Replaces target by a copy of source (both opened exclusively, through arrays); 506 when a
// file cannot be opened, 512/513 on I/O errors.
void CopyFileContents(const char* target, const char* source);
// Moves or renames source to target, copying across disks; 528 on failure.
void MoveFileTo(const char* target, const char* source);

// The temporary directory with a trailing separator; 543 when the system cannot say.
String TempDirectory();
// A new empty file "~~~<hex>.tmp" in the temporary directory; its full name. 543 for the path,
// 544 for the name.
String TempFileName();
// A base name (no extension) for a temporary native base: temporary directory (or the host's
// program directory) + "~~~" + five hex digits derived from the UTC time; the number goes up
// while "<name>.kvx" exists.
String TempBaseName();
// The same for a given time of day (hour, minute, second) and directory.
String TempBaseNameAt(const char* directory, int hour, int minute, int second);

// Free bytes of the disk that holds name (empty: the temporary directory's disk); 516 when the
// full path cannot be formed, 0 when the disk cannot be measured.
std::uint64_t FreeSpace(const char* name);
// Free bytes available to the caller in the temporary directory; 0 when its path is longer
// than 260 characters; 516 on failure.
std::uint64_t FreeSpaceTemp();
// Free bytes available to the caller on the disk of name's directory part; 516 on failure.
std::uint64_t FreeSpaceFor(const char* name);

// The directory part measured by FreeSpaceFor: name itself when it ends in the separator, else
// the text up to and including the last separator (the separator alone when that is the first
// character); empty when name has none (the current directory).
String DirectoryPart(const char* name, char separator = platform::kPathSeparator);
// The root measured by FreeSpace for a full path: "C:\" for a drive path, "\\server\share\"
// for a network path, empty otherwise (always with backslashes, whatever the platform).
String RootOf(const char* fullPath);

// The question before writing need bytes when only free bytes are available (code 925: the
// base's disk, 926: the temporary directory's disk). Asks only when free < need, with the
// message text showing need / 1024 KB, through MessageDialog (flag 0, kind 20). Returns false
// when the host answered Abort (3): the caller stops.
bool SpaceQuestion(std::int64_t need, std::uint16_t code, std::uint64_t free);
// The two usual forms: the base's file (925) and temporary files (926).
bool AskSpaceForBase(std::int64_t need, const char* baseName);
bool AskSpaceForTemp(std::int64_t need);

// A buffered, append-only text log. Write errors are not reported; a failing open leaves the
// log unopened and drops the buffered text.
class LogFile {
 public:
  static constexpr std::int32_t kBufferSize = 65536;
  LogFile();
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Ignored unless 1 <= length < 256.
  void SetName(const char* name);
  // Appends n bytes; ignored when disabled or n > kBufferSize; flushes first when they would
  // not fit.
  void Write(const void* bytes, std::int32_t n);
  // CR LF, then the text.
  void Line(const char* text);
  // Opens (creating when needed), appends the buffer at the end, closes, empties the buffer.
  void Flush();
  void SetEnabled(bool on) { enabled_ = on; }

  const char* Name() const { return name_; }
  std::int32_t Buffered() const { return length_; }
  bool Opened() const { return opened_; }

 private:
  platform::FileHandle handle_ = nullptr;
  char* buffer_;
  char name_[256];
  std::int32_t length_ = 0;
  bool opened_ = false;
  bool enabled_ = true;
};

}  // namespace ludrex
