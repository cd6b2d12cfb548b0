// Volumes: one disk file holding many member files in a tree of directories. Member data lives
// in runs (contiguous byte ranges of the volume file) listed in run tables; the list of entries
// is itself a member (the directory file). Data is never moved, and the space of deleted or
// shrunk members is not reused by other members.
//
// File layout (little-endian, absolute byte positions):
//   0    64  identification text, NUL-padded (written, never checked)
//   64   64  format text "\nKorvanex Volume format. Version 1.1", NUL-padded (checked: 539)
//   128  256 the directory file's own entry (size = 256 x entries)
//   384  128 reserved, zero
//   512  ... runs and 512-byte run-table blocks in allocation order
// Directory entry (256 bytes): parent id (0 top level, -1 deleted), flags (bit 0 directory,
// bit 1 file, bits 16-31 user flags), size of a file or own id of a directory, four run-table
// positions, name (228 bytes, NUL-padded, at most 227 characters, case-sensitive).
// Run table (512 bytes): 64 pairs (position, length); block k holds runs 64k..64k+63, so a
// member has at most 256 runs (542 beyond).
//
// Every position and size is 32-bit: a volume never grows past 2^31 - 1 bytes (518) and a member
// never past 2^31 - 1 bytes (517). A damaged volume (tables or runs outside the file, sizes
// beyond the allocated runs) raises 512 when the member is opened; nothing is read outside the
// file. Member arrays must be released before their volume.
#pragma once

#include <cstdint>

#include "storage/array.h"
#include "storage/string.h"

namespace ludrex {

constexpr std::uint32_t kVolumeDirectory = 1;  // entry kind bits
constexpr std::uint32_t kVolumeFile = 2;

struct VolumeEntry {
  std::int32_t parent;
  std::uint32_t flags;
  std::int32_t sizeOrId;
  std::uint32_t table[4];
  char name[228];
};
static_assert(sizeof(VolumeEntry) == 256, "a directory entry is 256 bytes");

class Volume;

// A member of a volume as an array (Expandable). Construction finds or creates the entry: count
// -1 opens the file entry name of directory dir (503 when absent), any other count creates or
// re-creates it (keeping its runs) and Init then makes it count elements long. dir kDirectory
// File opens the directory file itself. 541 for another negative dir, 540 for an empty name.
// Writes past the allocated runs lengthen the last run when it ends at the volume's end, else
// add a run of max(need, 6 % of the member + 1, 512) bytes. Flush (and destruction) writes the
// run tables and the entry. Every Read/Write goes to the volume file (in pieces of at most 65535
// bytes): for element-by-element access wrap the member in a BufArray. Only one open array per
// member at a time; a member flushed after its entry moved finds the entry again by name, and a
// member deleted while open writes nothing back.
class VolumeFileArray : public Array {
 public:
  static constexpr std::int32_t kDirectoryFile = -2147483647 - 1;
  struct Run {
    std::int64_t logical;  // offset of the run's first byte within the member
    std::uint32_t position;
    std::uint32_t length;
    bool modified;
  };

  VolumeFileArray(std::int32_t count, const char* name, Volume* volume, std::int32_t dir);
  ~VolumeFileArray() override;
  std::int32_t Init(std::uint16_t elementSize) override;
  String FileName() override;
  void Read(std::int32_t index, void* buffer, std::int32_t n) override;
  void Write(std::int32_t index, const void* buffer, std::int32_t n) override;
  void Flush() override;
  void Extend(std::int32_t delta) override;

  std::int32_t RunCount() const { return runCount_; }
  const Run& RunAt(std::int32_t i) const { return runs_[i]; }
  std::uint32_t TablePosition(int k) const { return entry_.table[k]; }
  std::int32_t EntryIndex() const { return index_; }

 private:
  void Grow(std::int64_t need);
  void Transfer(std::int64_t offset, char* buffer, std::int64_t n, bool write);
  std::int32_t FindRun(std::int64_t offset) const;
  void ExtendVolumeFile();

  Volume* volume_;
  String name_;
  std::int32_t dir_;
  std::int32_t index_ = -1;
  std::int32_t initialCount_;
  VolumeEntry entry_{};
  bool entryModified_ = false;
  std::int32_t runCount_ = 0;
  std::int64_t allocated_ = 0;
  Run runs_[256] = {};
};

// The state of a directory listing (Volume_FindFirst/Next).
struct VolumeFind {
  std::uint32_t mask;
  std::int32_t next;  // index of the next entry to look at
  std::int32_t dir;
  std::uint32_t flags;
  std::int32_t sizeOrId;
  String name;
};

class Volume {
 public:
  static const char kIdentification[];  // "Tallowmerecraft 3.0 database."
  static const char kFormatText[];      // "\nKorvanex Volume format. Version 1.1"

  // Creates (or truncates) the file and writes a fresh 512-byte header. headCache > 0 keeps that
  // many leading bytes of the volume file in memory. Null only when memory runs out.
  static Volume* Create(const char* name, std::int32_t headCache = 0);
  // Opens an existing volume read/write and exclusive (read-only when writing is refused); 506
  // when it cannot be opened, 539 when it is not a volume of this format.
  static Volume* Open(const char* name, std::int32_t headCache = 0);
  // Close, reporting (not throwing) errors.
  ~Volume();
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;

  // Writes the directory file's tables, the header and the file's end, then releases the
  // arrays. Later calls do nothing.
  void Close();
  // Writes everything pending and flushes the file to disk.
  void Update();

  // Creates the entry name of kind (1 directory, 2 file) in dir, or re-creates it: an existing
  // entry of that kind and name is reused and moved last (its runs kept, size 0; a directory
  // keeps its id). Returns its index. 541 dir < 0, 545 bad kind, 540 empty name, 517 name over
  // 227 characters.
  std::int32_t CreateEntry(const char* name, std::uint32_t kind, std::int32_t dir);
  // Deletes every entry of dir matching mask and name (all when name is empty); directories
  // with their contents. Runs stay allocated.
  void DeleteEntries(const char* name, std::uint32_t mask, std::int32_t dir);
  // Renames and/or moves one entry (moved last when the directory changes); silent when absent.
  void MoveRename(const char* oldName, std::uint32_t kind, std::int32_t oldDir, const char* newName,
                  std::int32_t newDir);
  // Moves entry name to just before refName (or last when refName is empty or absent).
  void ChangeDirEntryPos(const char* refName, std::uint32_t refKind, const char* name,
                         std::uint32_t kind, std::int32_t dir);
  // Sets the user flags (bits 16-31) of every matching entry.
  void SetFlags(std::uint32_t userFlags, const char* name, std::uint32_t kind, std::int32_t dir);
  // The id of subdirectory name of dir; 0 when none.
  std::int32_t ChangeDir(const char* name, std::int32_t dir);
  // True when dir has an entry of that kind and name.
  bool NameExists(const char* name, std::uint32_t kind, std::int32_t dir);
  // Index of the entry of that kind and name in dir, or -1.
  std::int32_t FindEntry(const char* name, std::uint32_t kind, std::int32_t dir);

  // A member as an array of element size 1 (503 when absent).
  ArrayHandle OpenMember(const char* name, std::int32_t dir);
  // Creates or re-creates a member holding size zero bytes and returns it open.
  ArrayHandle CreateMember(const char* name, std::int32_t size, std::int32_t dir);

  // Listing: FindFirst returns null when no entry of dir has all bits of mask; FindNext frees
  // the find and returns null at the end.
  VolumeFind* FindFirst(std::uint32_t mask, std::int32_t dir);
  VolumeFind* FindNext(VolumeFind* find);
  static void FindClose(VolumeFind* find);

  std::int32_t EntryCount() { return directory_->Count(); }
  VolumeEntry Entry(std::int32_t index);
  void PutEntry(std::int32_t index, const VolumeEntry& e);
  std::int64_t End() const { return end_; }
  Array* File() { return file_.Get(); }
  VolumeFileArray* Directory() { return static_cast<VolumeFileArray*>(directory_.Get()); }
  const unsigned char* Header() const { return header_; }

 private:
  friend class VolumeFileArray;
  Volume() = default;
  void Finish(bool flushDisk);
  // Index of the first entry at or after from satisfying match, or -1 (reads in chunks).
  template <class Match>
  std::int32_t Scan(std::int32_t from, Match&& match);
  void DeleteIn(const char* name, std::uint32_t mask, std::int32_t dir, int depth);

  ArrayHandle file_;
  std::int64_t end_ = 0;
  unsigned char header_[512] = {};
  bool headerModified_ = false;
  ArrayHandle directory_;
  bool closed_ = false;
};

}  // namespace ludrex
