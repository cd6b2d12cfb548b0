// Volumes and their members.
#include "storage/volume.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "frame/error.h"
#include "storage/memory.h"

namespace ludrex {

namespace {
constexpr std::int64_t kMax32 = 2147483647;
constexpr std::int32_t kHeaderSize = 512;
constexpr std::int32_t kTableBytes = 512;
constexpr std::int32_t kRunsPerTable = 64;
constexpr std::int32_t kMaxRuns = 256;
constexpr std::int32_t kPiece = 65535;  // largest single transfer to the volume file
constexpr std::size_t kMaxName = 227;

std::size_t NameLength(const char* name) { return name == nullptr ? 0 : std::strlen(name); }

bool NameIs(const VolumeEntry& e, const char* name, std::size_t len) {
  if (len > kMaxName) return false;
  std::size_t have = 0;
  while (have < sizeof e.name && e.name[have] != 0) ++have;
  return have == len && std::memcmp(e.name, name, len) == 0;
}

void SetName(VolumeEntry& e, const char* name, std::size_t len) {
  std::memset(e.name, 0, sizeof e.name);
  std::memcpy(e.name, name, std::min(len, kMaxName));
}

void CheckKind(std::uint32_t kind) {
  std::uint32_t k = kind & 3;
  if (k != kVolumeDirectory && k != kVolumeFile) Raise(545);
}

// 540 for an empty name, 517 for one longer than an entry holds.
std::size_t CheckName(const char* name) {
  std::size_t len = NameLength(name);
  if (len == 0) Raise(540);
  if (len > kMaxName) Raise(517, name);
  return len;
}
}  // namespace

const char Volume::kIdentification[] = "Tallowmerecraft 3.0 database.";
const char Volume::kFormatText[] = "\nKorvanex Volume format. Version 1.1";

// ---- VolumeFileArray
// -----------------------------------------------------------------------------

VolumeFileArray::VolumeFileArray(std::int32_t count, const char* name, Volume* volume,
                                 std::int32_t dir)
    : volume_(volume),
      name_(String::Copy(
          name != nullptr ? name : "",
          static_cast<std::uint32_t>(std::min<std::size_t>(NameLength(name), kMaxName)))),
      dir_(dir),
      initialCount_(count) {
  expandable_ = true;
  if (volume == nullptr) Raise(520);
  if (dir == kDirectoryFile) return;
  if (dir < 0) Raise(541);
  CheckName(name);
  if (count != -1) {
    index_ = volume->CreateEntry(name, kVolumeFile, dir);
  } else {
    index_ = volume->FindEntry(name, kVolumeFile, dir);
    if (index_ < 0) Raise(503, name);
  }
}

VolumeFileArray::~VolumeFileArray() {
  try {
    if (elementSize_ != 0) Flush();
  } catch (const Failure&) {
  }
}

std::int32_t VolumeFileArray::Init(std::uint16_t elementSize) {
  elementSize_ = elementSize == 0 ? 1 : elementSize;
  if (index_ < 0) {
    std::memcpy(&entry_, volume_->header_ + 128, sizeof entry_);
  } else {
    entry_ = volume_->Entry(index_);
  }
  const std::int64_t end = volume_->end_;
  const char* what = name_.Empty() ? "DIRECTORY" : name_.Text();
  runCount_ = 0;
  allocated_ = 0;
  for (int k = 0; k < 4; ++k) {
    std::uint32_t pos = entry_.table[k];
    if (pos == 0) continue;
    if (pos < kHeaderSize || pos + static_cast<std::int64_t>(kTableBytes) > end) Raise(512, what);
    std::uint32_t pairs[2 * kRunsPerTable];
    volume_->file_->Read(static_cast<std::int32_t>(pos), pairs, kTableBytes);
    for (int i = 0; i < kRunsPerTable; ++i) {
      std::uint32_t at = pairs[2 * i], len = pairs[2 * i + 1];
      if (len == 0) continue;
      // Runs must lie inside the file, and the member inside 2^31 bytes.
      if (at < kHeaderSize || at + static_cast<std::int64_t>(len) > end ||
          allocated_ + len > kMax32 || runCount_ >= kMaxRuns) {
        Raise(512, what);
      }
      runs_[runCount_++] = Run{allocated_, at, len, false};
      allocated_ += len;
    }
  }
  std::int32_t size = entry_.sizeOrId;
  if (size < 0 || size > allocated_) Raise(512, what);
  count_ = size / elementSize_;
  position_ = 0;
  if (initialCount_ != -1) Extend(initialCount_ - count_);
  return count_;
}

String VolumeFileArray::FileName() { return String::Copy(name_.Text(), name_.Length()); }

std::int32_t VolumeFileArray::FindRun(std::int64_t offset) const {
  if (runCount_ == 0) Raise(517);
  const Run& last = runs_[runCount_ - 1];
  if (offset >= last.logical) return runCount_ - 1;
  std::int32_t lo = 0, hi = runCount_ - 1;  // runs_[hi].logical > offset
  while (hi - lo > 1) {
    std::int32_t mid = (lo + hi) / 2;
    if (runs_[mid].logical <= offset) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return lo;
}

void VolumeFileArray::Transfer(std::int64_t offset, char* buffer, std::int64_t n, bool write) {
  while (n > 0) {
    std::int32_t r = FindRun(offset);
    const Run& run = runs_[r];
    std::int64_t within = offset - run.logical;
    std::int64_t piece = std::min<std::int64_t>({n, run.length - within, kPiece});
    if (piece <= 0) Raise(517);
    std::int32_t at = static_cast<std::int32_t>(run.position + within);
    if (write) {
      volume_->file_->Write(at, buffer, static_cast<std::int32_t>(piece));
    } else {
      volume_->file_->Read(at, buffer, static_cast<std::int32_t>(piece));
    }
    buffer += piece;
    offset += piece;
    n -= piece;
  }
}

void VolumeFileArray::Read(std::int32_t index, void* buffer, std::int32_t n) {
  CheckRead(index, n);
  Transfer(static_cast<std::int64_t>(index) * elementSize_, static_cast<char*>(buffer),
           static_cast<std::int64_t>(n) * elementSize_, false);
  position_ = index + n;
}

void VolumeFileArray::ExtendVolumeFile() {
  Array* f = volume_->file_.Get();
  if (f->Count() < volume_->end_) f->Extend(static_cast<std::int32_t>(volume_->end_ - f->Count()));
}

void VolumeFileArray::Grow(std::int64_t need) {
  if (need <= 0) return;
  std::int64_t end = volume_->end_;
  if (runCount_ > 0) {
    Run& last = runs_[runCount_ - 1];
    if (last.position + static_cast<std::int64_t>(last.length) == end) {
      if (end + need > kMax32) Raise(518, name_.Text());
      last.length = static_cast<std::uint32_t>(last.length + need);
      last.modified = true;
      volume_->end_ = end + need;
      allocated_ += need;
      return;
    }
  }
  if (runCount_ >= kMaxRuns) Raise(542, name_.Text());
  std::int64_t g = 6 * allocated_ / 100 + 1;
  std::int64_t least = std::max<std::int64_t>(g, 512);
  std::int64_t length = need > least ? need : least;
  if (end + length > kMax32) Raise(518, name_.Text());
  runs_[runCount_++] =
      Run{allocated_, static_cast<std::uint32_t>(end), static_cast<std::uint32_t>(length), true};
  volume_->end_ = end + length;
  allocated_ += length;
}

void VolumeFileArray::Write(std::int32_t index, const void* buffer, std::int32_t n) {
  CheckWrite(index, n);
  std::int64_t o = static_cast<std::int64_t>(index) * elementSize_;
  std::int64_t bytes = static_cast<std::int64_t>(n) * elementSize_;
  std::int64_t endByte = o + bytes;
  if (endByte > kMax32) Raise(517, name_.Text());
  // Space first: when it cannot be had (542, 518) nothing has changed.
  bool grown = endByte > allocated_;
  if (grown) Grow(endByte - allocated_);
  if (bytes > 0) Transfer(o, const_cast<char*>(static_cast<const char*>(buffer)), bytes, true);
  if (grown) ExtendVolumeFile();
  if (index + n > count_) {
    count_ = index + n;
    entry_.sizeOrId = static_cast<std::int32_t>(endByte);
    entryModified_ = true;
  }
  position_ = index + n;
}

void VolumeFileArray::Extend(std::int32_t delta) {
  if (delta == 0) return;
  std::int32_t c = ExtendedCount(delta);
  std::int64_t size = static_cast<std::int64_t>(c) * elementSize_;
  if (size > kMax32) Raise(517, name_.Text());
  if (size > allocated_) {
    Grow(size - allocated_);
    ExtendVolumeFile();
  }
  count_ = c;
  entry_.sizeOrId = static_cast<std::int32_t>(size);
  entryModified_ = true;
  ClampPosition();
}

void VolumeFileArray::Flush() {
  for (int k = 0; k * kRunsPerTable < runCount_; ++k) {
    std::int32_t lo = k * kRunsPerTable, hi = std::min(runCount_, lo + kRunsPerTable);
    bool modified = false;
    for (std::int32_t i = lo; i < hi; ++i) modified = modified || runs_[i].modified;
    if (!modified) continue;
    if (entry_.table[k] == 0) {
      if (volume_->end_ + kTableBytes > kMax32) Raise(518, name_.Text());
      entry_.table[k] = static_cast<std::uint32_t>(volume_->end_);
      volume_->end_ += kTableBytes;
      entryModified_ = true;
    }
    std::uint32_t pairs[2 * kRunsPerTable] = {};
    for (std::int32_t i = lo; i < hi; ++i) {
      pairs[2 * (i - lo)] = runs_[i].position;
      pairs[2 * (i - lo) + 1] = runs_[i].length;
    }
    volume_->file_->Write(static_cast<std::int32_t>(entry_.table[k]), pairs, kTableBytes);
    for (std::int32_t i = lo; i < hi; ++i) runs_[i].modified = false;
  }
  if (!entryModified_) return;
  if (index_ < 0) {
    std::memcpy(volume_->header_ + 128, &entry_, sizeof entry_);
    volume_->headerModified_ = true;
  } else {
    // The entry may have moved since the member was opened (another entry re-created or
    // reordered): find it again by name rather than write over a stranger's entry. A member
    // deleted while open writes nothing back.
    std::int32_t at = index_;
    VolumeEntry e{};
    std::size_t len = name_.Length();
    bool same = at < volume_->EntryCount();
    if (same) {
      e = volume_->Entry(at);
      same = e.parent == dir_ && (e.flags & 3) == kVolumeFile && NameIs(e, name_.Text(), len);
    }
    if (!same) {
      at = volume_->FindEntry(name_.Text(), kVolumeFile, dir_);
      if (at >= 0) e = volume_->Entry(at);
    }
    if (at >= 0) {
      e.sizeOrId = entry_.sizeOrId;
      std::memcpy(e.table, entry_.table, sizeof e.table);
      volume_->PutEntry(at, e);
      index_ = at;
    }
  }
  entryModified_ = false;
}

// ---- Volume
// --------------------------------------------------------------------------------------

Volume* Volume::Create(const char* name, std::int32_t headCache) {
  Volume* v = new (std::nothrow) Volume;
  if (v == nullptr) return nullptr;
  try {
    using namespace platform;
    ArrayHandle file(NewFileArray(0, name, kFlagRandom, kAccessReadWrite, kShareExclusive));
    if (headCache > 0) file = ArrayHandle(NewHeadCachedArray(file.Release(), headCache, false));
    file->Init(1);
    v->file_ = std::move(file);
    std::memcpy(v->header_, kIdentification, sizeof kIdentification - 1);
    std::memcpy(v->header_ + 64, kFormatText, sizeof kFormatText - 1);
    v->file_->Write(0, v->header_, kHeaderSize);
    v->end_ = kHeaderSize;
    v->directory_ = ArrayHandle(new VolumeFileArray(0, "", v, VolumeFileArray::kDirectoryFile));
    v->directory_->Init(sizeof(VolumeEntry));
    v->headerModified_ = false;
  } catch (...) {
    v->closed_ = true;
    delete v;
    throw;
  }
  return v;
}

Volume* Volume::Open(const char* name, std::int32_t headCache) {
  Volume* v = new (std::nothrow) Volume;
  if (v == nullptr) return nullptr;
  try {
    using namespace platform;
    ArrayHandle file(NewFileArray(-1, name, kFlagRandom, kAccessReadWrite, kShareExclusive));
    if (headCache > 0) file = ArrayHandle(NewHeadCachedArray(file.Release(), headCache, false));
    file->Init(1);
    v->file_ = std::move(file);
    if (v->file_->Count() < kHeaderSize || v->file_->Count() >= kMax32) Raise(539, name);
    v->file_->Read(0, v->header_, kHeaderSize);
    const char* text = reinterpret_cast<const char*>(v->header_ + 64);
    std::size_t len = 0;
    while (len < 64 && text[len] != 0) ++len;
    if (len != sizeof kFormatText - 1 || std::memcmp(text, kFormatText, len) != 0) {
      Raise(539, name);
    }
    v->end_ = v->file_->Count();
    v->directory_ = ArrayHandle(new VolumeFileArray(-1, "", v, VolumeFileArray::kDirectoryFile));
    v->directory_->Init(sizeof(VolumeEntry));
  } catch (...) {
    v->closed_ = true;  // nothing was changed: release without writing
    delete v;
    throw;
  }
  return v;
}

Volume::~Volume() {
  try {
    Close();
  } catch (const Failure&) {
  }
}

void Volume::Finish(bool flushDisk) {
  if (directory_) directory_->Flush();
  if (headerModified_) {
    file_->Write(0, header_, kHeaderSize);
    headerModified_ = false;
  }
  if (file_->Count() < end_) file_->Extend(static_cast<std::int32_t>(end_ - file_->Count()));
  if (flushDisk) file_->Flush();
}

void Volume::Close() {
  if (closed_) return;
  closed_ = true;
  try {
    Finish(false);
  } catch (...) {
    directory_.Reset();
    file_.Reset();
    throw;
  }
  directory_.Reset();
  file_.Reset();
}

void Volume::Update() {
  if (closed_) return;
  Finish(true);
}

VolumeEntry Volume::Entry(std::int32_t index) {
  VolumeEntry e;
  directory_->Read(index, &e, 1);
  return e;
}

void Volume::PutEntry(std::int32_t index, const VolumeEntry& e) { directory_->Write(index, &e, 1); }

template <class Match>
std::int32_t Volume::Scan(std::int32_t from, Match&& match) {
  constexpr std::int32_t kChunk = 64;
  VolumeEntry chunk[kChunk];
  std::int32_t count = directory_->Count();
  for (std::int32_t i = std::max(from, 0); i < count; i += kChunk) {
    std::int32_t n = std::min(kChunk, count - i);
    directory_->Read(i, chunk, n);
    for (std::int32_t j = 0; j < n; ++j) {
      if (match(chunk[j])) return i + j;
    }
  }
  return -1;
}

std::int32_t Volume::FindEntry(const char* name, std::uint32_t kind, std::int32_t dir) {
  std::size_t len = NameLength(name);
  std::uint32_t k = kind & 3;
  return Scan(0, [&](const VolumeEntry& e) {
    return e.parent == dir && (e.flags & 3) == k && NameIs(e, name, len);
  });
}

bool Volume::NameExists(const char* name, std::uint32_t kind, std::int32_t dir) {
  return dir >= 0 && NameLength(name) > 0 && FindEntry(name, kind, dir) >= 0;
}

std::int32_t Volume::CreateEntry(const char* name, std::uint32_t kind, std::int32_t dir) {
  if (dir < 0) Raise(541);
  CheckKind(kind);
  std::size_t len = CheckName(name);
  std::uint32_t k = kind & 3;
  std::int32_t count = directory_->Count();
  std::int32_t index = FindEntry(name, k, dir);
  bool existing = index >= 0;
  if (!existing) {
    index = Scan(0, [&](const VolumeEntry& e) { return e.parent == -1 && (e.flags & 3) == k; });
  }
  VolumeEntry e{};
  if (index < 0) {
    index = count;
  } else {
    if (index < count - 1) {
      RotateElements(directory_.Get(), index, 1, count - 1 - index);
      index = count - 1;
    }
    e = Entry(index);
  }
  std::int32_t id = 0;
  if (k == kVolumeDirectory) {
    if (existing && e.sizeOrId > 0) {
      id = e.sizeOrId;  // its contents stay reachable
    } else {
      std::int32_t top = 0;
      Scan(0, [&](const VolumeEntry& x) {
        if (x.parent != -1 && (x.flags & kVolumeDirectory) != 0) top = std::max(top, x.sizeOrId);
        return false;
      });
      if (top >= kMax32) Raise(541);
      id = top + 1;
    }
  }
  e.parent = dir;
  e.flags = kind;
  e.sizeOrId = id;
  SetName(e, name, len);
  PutEntry(index, e);
  return index;
}

void Volume::DeleteIn(const char* name, std::uint32_t mask, std::int32_t dir, int depth) {
  // A damaged volume may hold a directory cycle; no real tree is this deep.
  if (depth > 1000) Raise(541);
  std::size_t len = NameLength(name);
  for (std::int32_t i = 0;; ++i) {
    i = Scan(i, [&](const VolumeEntry& e) {
      return e.parent == dir && (e.flags & mask) == mask && (len == 0 || NameIs(e, name, len));
    });
    if (i < 0) return;
    VolumeEntry e = Entry(i);
    if ((e.flags & kVolumeDirectory) != 0 && e.sizeOrId > 0 && e.sizeOrId != dir) {
      DeleteIn("", 0, e.sizeOrId, depth + 1);
      e = Entry(i);
    }
    e.parent = -1;
    e.flags = 0;
    e.sizeOrId = 0;
    SetName(e, name != nullptr ? name : "", len);
    PutEntry(i, e);
  }
}

void Volume::DeleteEntries(const char* name, std::uint32_t mask, std::int32_t dir) {
  if (dir < 0) Raise(541);
  if (NameLength(name) > kMaxName) return;  // no entry has such a name
  DeleteIn(name, mask, dir, 0);
}

void Volume::MoveRename(const char* oldName, std::uint32_t kind, std::int32_t oldDir,
                        const char* newName, std::int32_t newDir) {
  if (oldDir < 0 || newDir < 0) Raise(541);
  CheckKind(kind);
  CheckName(oldName);
  std::size_t newLen = CheckName(newName);
  std::int32_t index = FindEntry(oldName, kind, oldDir);
  if (index < 0) return;
  VolumeEntry e = Entry(index);
  e.parent = newDir;
  SetName(e, newName, newLen);
  PutEntry(index, e);
  std::int32_t count = directory_->Count();
  if (newDir != oldDir && index < count - 1) {
    RotateElements(directory_.Get(), index, 1, count - 1 - index);
  }
}

void Volume::ChangeDirEntryPos(const char* refName, std::uint32_t refKind, const char* name,
                               std::uint32_t kind, std::int32_t dir) {
  if (dir < 0) Raise(541);
  CheckKind(kind);
  bool hasRef = NameLength(refName) > 0;
  if (hasRef) CheckKind(refKind);
  CheckName(name);
  std::int32_t count = directory_->Count();
  std::int32_t target = count;
  if (hasRef) {
    std::int32_t r = FindEntry(refName, refKind, dir);
    if (r >= 0) target = r;
  }
  std::int32_t from = FindEntry(name, kind, dir);
  if (from < 0 || from == target) return;
  if (from < target) {
    RotateElements(directory_.Get(), from, 1, target - from - 1);
  } else {
    RotateElements(directory_.Get(), from, 1, target - from);
  }
}

void Volume::SetFlags(std::uint32_t userFlags, const char* name, std::uint32_t kind,
                      std::int32_t dir) {
  if (dir < 0) Raise(541);
  CheckKind(kind);
  std::size_t len = CheckName(name);
  std::uint32_t k = kind & 3;
  for (std::int32_t i = 0;; ++i) {
    i = Scan(i, [&](const VolumeEntry& e) {
      return e.parent == dir && (e.flags & 3) == k && NameIs(e, name, len);
    });
    if (i < 0) return;
    VolumeEntry e = Entry(i);
    e.flags = (userFlags << 16) | (e.flags & 0xFFFFu);
    PutEntry(i, e);
  }
}

std::int32_t Volume::ChangeDir(const char* name, std::int32_t dir) {
  if (dir < 0) Raise(541);
  std::size_t len = NameLength(name);
  std::int32_t i;
  if (len == 0) {
    i = Scan(0, [&](const VolumeEntry& e) {
      return e.parent != -1 && (e.flags & kVolumeDirectory) != 0 && e.sizeOrId == dir;
    });
    return i >= 0 ? dir : 0;
  }
  i = FindEntry(name, kVolumeDirectory, dir);
  return i >= 0 ? Entry(i).sizeOrId : 0;
}

ArrayHandle Volume::OpenMember(const char* name, std::int32_t dir) {
  ArrayHandle h(new VolumeFileArray(-1, name, this, dir));
  h->Init(1);
  return h;
}

ArrayHandle Volume::CreateMember(const char* name, std::int32_t size, std::int32_t dir) {
  if (size < 0) Raise(517);
  ArrayHandle zeros(NewMemArray(size));
  zeros->Init(1);
  if (size > 0) FillBytes(static_cast<MemArray*>(zeros.Get())->Data(), size, 0);
  ArrayHandle member(new VolumeFileArray(0, name, this, dir));
  member->Init(1);
  member.Replace(0, member->Count(), zeros, 0, size);
  member->Flush();
  return member;
}

VolumeFind* Volume::FindFirst(std::uint32_t mask, std::int32_t dir) {
  if (dir < 0) return nullptr;
  auto* f = new VolumeFind{mask, 0, dir, 0, 0, String()};
  return FindNext(f);
}

VolumeFind* Volume::FindNext(VolumeFind* f) {
  if (f == nullptr) return nullptr;
  std::int32_t i = Scan(f->next, [&](const VolumeEntry& e) {
    return e.parent == f->dir && (e.flags & f->mask) == f->mask;
  });
  if (i < 0) {
    delete f;
    return nullptr;
  }
  VolumeEntry e = Entry(i);
  f->next = i + 1;
  f->flags = e.flags;
  f->sizeOrId = e.sizeOrId;
  std::size_t len = 0;
  while (len < sizeof e.name && e.name[len] != 0) ++len;
  f->name = String::Copy(e.name, static_cast<std::uint32_t>(len));
  return f;
}

void Volume::FindClose(VolumeFind* find) { delete find; }

}  // namespace ludrex
