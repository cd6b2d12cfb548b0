// NativeBase: open, create, Read, Write, the key order, deletion marks, information and update.
#include "base/native/native_base.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/dispatch.h"
#include "base/registry.h"
#include "frame/error.h"
#include "record/field.h"
#include "record/field_types.h"
#include "search/subset.h"
#include "storage/files.h"
#include "storage/memory.h"
#include "storage/volume.h"

namespace ludrex {
namespace {

constexpr std::int32_t kNoData = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t kPiece = 65535;
constexpr std::int32_t kDeletionBuffer = 4000;
constexpr std::int32_t kDataWindow = 40000;
constexpr std::int32_t kAddressWindow = 5000;

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }
String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}
// A view of s (valid while s lives and is not changed).
String View(const std::string& s) {
  return String(s.c_str(), static_cast<std::uint16_t>(s.size()));
}

bool SameName(const String& a, const String& b) {
  return a.Length() == b.Length() && std::memcmp(a.Text(), b.Text(), a.Length()) == 0;
}

// The base-128 length of the size header: 7 bits a byte, low group first, 0x80 on all but the
// last byte.
void PutSize(std::vector<std::uint8_t>& out, std::uint32_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(v));
}

std::int32_t MemoryCap(std::int64_t want) {
  std::uint64_t avail = AvailMem();
  std::int64_t cap =
      avail < static_cast<std::uint64_t>(want) ? static_cast<std::int64_t>(avail) : want;
  if (cap > 64 * 1024 * 1024) cap = 64 * 1024 * 1024;
  return static_cast<std::int32_t>(cap < 0 ? 0 : cap);
}

void SortFields(std::vector<NativeField>& fields) {
  std::stable_sort(fields.begin(), fields.end(), [](const NativeField& a, const NativeField& b) {
    return a.group != b.group ? a.group < b.group : a.ordinal < b.ordinal;
  });
}

// Reads the whole of an array of bytes.
std::vector<std::uint8_t> ReadAll(Array* a) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(a->Count()));
  std::int32_t at = 0;
  while (at < a->Count()) {
    std::int32_t n = std::min(a->Count() - at, kPiece);
    a->Read(at, bytes.data() + at, n);
    at += n;
  }
  return bytes;
}

// The header of a native base stored in an array: parsed, or false for a wrong format mark.
bool ReadHeaderFrom(Array* a, NativeHeader& h, std::string& mark) {
  return ParseNativeHeader(ReadAll(a), h, mark);
}

// The sorted, visible pattern of a header's fields (without library patterns).
RecordPattern SortedPattern(std::vector<NativeField> fields) {
  SortFields(fields);
  RecordPattern p;
  for (const NativeField& f : fields) p.Append(f.spec);
  return p;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

NativeBase::NativeBase(const String& name, Volume* volume, const std::string& containerName)
    : Base(kNativeBase, name),
      container_(volume),
      containerName_(containerName),
      files_(Str(name), volume) {
  try {
    header_ = files_.Open(".kvx", 1);
    NativeHeader h;
    std::string found;
    if (!ReadHeaderFrom(header_.Get(), h, found)) {
      std::string extra = std::string(kNativeFormatMark) + "\n\n" + Str(name) + ":\n" + found;
      Warn(904, extra.c_str());
      header_.Reset();
      return;  // open_ stays 0
    }
    flags_ = h.flags;
    recordCount_ = savedCount_ = h.count;
    description_ = h.description;
    fields_ = std::move(h.fields);
    std::int32_t key = -1;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if ((fields_[i].spec.flags & kFlagKey) == 0) continue;
      if (fields_[i].spec.type == kLibRefType) Raise(918);
      if (key >= 0) Raise(919);
      key = static_cast<std::int32_t>(i);
    }
    SortFields(fields_);
    OpenFiles();
    open_ = 1;
  } catch (...) {
    CloseAll();
    throw;
  }
}

NativeBase::NativeBase(const String& name, const RecordPattern& pattern, Volume* volume,
                       const std::string& containerName)
    : Base(kNativeBase, name),
      container_(volume),
      containerName_(containerName),
      files_(Str(name), volume) {
  try {
    for (std::int32_t i = 0; i < pattern.Count(); ++i) {
      NativeField f;
      f.spec = pattern[i];
      f.created = i;
      fields_.push_back(f);
    }
    AssignStorage(fields_);
    // Checked before any file is written, so a refused pattern leaves nothing behind.
    bool keySeen = false;
    for (const NativeField& f : fields_) {
      if (f.spec.type == kLibRefType && (f.spec.flags & kFlagKey) != 0) Raise(918);
      if (f.spec.type == kLibRefType && volume != nullptr) Raise(915);
      if ((f.spec.flags & kFlagKey) != 0) {
        if (keySeen) Raise(919);
        keySeen = true;
      }
    }
    header_ = files_.Create(".kvx", 1);
    WriteHeader(true);
    if (volume == nullptr) {
      std::string emb = files_.NameOf(".emb");
      volume_.reset(Volume::Create(emb.c_str(), MemoryCap(2000000)));
      if (!volume_) Raise(520, emb.c_str());
      // Each library once, with the library pattern the first field naming it carries.
      std::vector<std::string> made;
      for (const NativeField& f : fields_) {
        if (f.spec.type != kLibRefType || f.spec.library == nullptr) continue;
        std::string lib = Str(f.spec.param);
        if (std::find(made.begin(), made.end(), lib) != made.end()) continue;
        made.push_back(lib);
        delete CreateEmbedded(f.spec.param, *f.spec.library);
      }
    }
    SortFields(fields_);
    if (keySeen) files_.Create(".iii", 4);
    files_.Create(".axx", 1);
    files_.Create(".dxx", 1);
    std::int32_t groups = fields_.empty() ? 0 : fields_.back().group + 1;
    for (std::int32_t g = 0; g < groups; ++g) {
      bool fixed = true;
      for (const NativeField& f : fields_) {
        if (f.group == g && f.kind != kStorageFixed) fixed = false;
      }
      if (!fixed) files_.Create(GroupExtension('a', g).c_str(), 4);
      files_.Create(GroupExtension('d', g).c_str(), 1);
    }
    if (volume_) volume_->Update();
    volume_.reset();  // reopened with the rest
    OpenFiles();
    open_ = 1;
  } catch (...) {
    CloseAll();
    throw;
  }
}

void NativeBase::OpenFiles() {
  // Groups.
  groups_.clear();
  std::int32_t count = fields_.empty() ? 0 : fields_.back().group + 1;
  groups_.resize(static_cast<std::size_t>(count));
  keyField_ = -1;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const NativeField& f = fields_[i];
    NativeGroup& g = groups_[static_cast<std::size_t>(f.group)];
    if (g.count == 0) g.first = static_cast<std::int32_t>(i);
    ++g.count;
    if (f.kind != kStorageFixed) g.allFixed = false;
    g.totalSize += f.kind == kStorageFixed ? f.size : 0;
    if ((f.spec.flags & kFlagKey) != 0 && keyField_ < 0) keyField_ = static_cast<std::int32_t>(i);
  }

  // Key order.
  if (keyField_ >= 0) {
    keyFile_ = files_.Open(".iii", 4);
    std::int32_t n = keyFile_->Count();
    // The header's count is written last at every update: an update cut short (a killed
    // process, a power cut) leaves the key order and the slot map ahead of it, with entries of
    // records past the count, which are dropped. Fewer entries, or other values, are damage.
    if (n < recordCount_) Raise(945, files_.NameOf(".iii").c_str());
    std::vector<std::int32_t> entries(static_cast<std::size_t>(n));
    for (std::int32_t at = 0; at < n;) {
      std::int32_t k = std::min(n - at, 16384);
      keyFile_->Read(at, entries.data() + at, k);
      at += k;
    }
    if (n > recordCount_) {
      std::erase_if(entries, [&](std::int32_t v) { return v >= recordCount_; });
      if (static_cast<std::int32_t>(entries.size()) != recordCount_)
        Raise(945, files_.NameOf(".iii").c_str());
      for (std::int32_t at = 0; at < recordCount_;) {
        std::int32_t k = std::min(recordCount_ - at, 16384);
        keyFile_->Write(at, entries.data() + at, k);
        at += k;
      }
      keyFile_->Extend(recordCount_ - n);
    }
    // Every record exactly once.
    std::vector<bool> seen(static_cast<std::size_t>(recordCount_), false);
    for (std::int32_t v : entries) {
      if (v < 0 || v >= recordCount_ || seen[static_cast<std::size_t>(v)])
        Raise(945, files_.NameOf(".iii").c_str());
      seen[static_cast<std::size_t>(v)] = true;
    }
    keys_.Assign(entries);
  }

  // Slot map.
  slotFile_ = files_.Open(".axx", 1);
  slots_.Load(slotFile_.Get());
  if (slots_.Count() > recordCount_) slots_.KeepRecords(recordCount_);
  if (slots_.Count() != recordCount_) Raise(945, files_.NameOf(".axx").c_str());

  // The embedded bases' volume.
  if (container_ == nullptr) {
    std::string emb = files_.NameOf(".emb");
    std::int64_t size = files_.Size(".emb");
    volume_.reset(Volume::Open(emb.c_str(), MemoryCap(size + 100000)));
    if (!volume_) Raise(520, emb.c_str());
  }

  // Deletion marks: exactly one bit per record.
  {
    std::int32_t bytes =
        static_cast<std::int32_t>((static_cast<std::int64_t>(recordCount_) + 7) / 8);
    ArrayHandle d = files_.Open(".dxx", 1);
    if (d->Count() != bytes) {
      std::int32_t old = d->Count();
      d->Extend(bytes - old);
      if (bytes > old) {
        std::vector<std::uint8_t> zeros(static_cast<std::size_t>(bytes - old), 0);
        d->Write(old, zeros.data(), bytes - old);
      }
    }
    if (bytes > 0 && recordCount_ % 8 != 0) {
      // Bits past the record count are kept clear.
      std::uint8_t last = d->GetByte(bytes - 1);
      std::uint8_t mask = static_cast<std::uint8_t>(0xFF << (8 - recordCount_ % 8));
      if ((last & ~mask) != 0) d->PutByte(bytes - 1, static_cast<std::uint8_t>(last & mask));
    }
    d->Flush();
  }
  deleted_.reset(Subset::OpenIn(ArrayHandle(files_.OpenRaw(".dxx")), recordCount_));
  (void)kDeletionBuffer;

  // Group files.
  groupFiles_.clear();
  groupFiles_.resize(groups_.size());
  SetWindows(kDataWindow, kAddressWindow);

  LoadLibraryPatterns();
  BuildPattern();
}

void NativeBase::SetWindows(std::int32_t dataBytes, std::int32_t addresses) {
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    GroupFiles& gf = groupFiles_[g];
    std::int32_t gi = static_cast<std::int32_t>(g);
    // Only one open array per file: the old window writes back and closes first.
    if (!groups_[g].allFixed) {
      gf.address.Reset();
      gf.address = ArrayHandle(
          NewBufArray(files_.OpenRaw(GroupExtension('a', gi).c_str()), addresses, addresses));
      gf.address->Init(4);
      gf.address->Expandable(1);
    }
    gf.data.Reset();
    gf.data = ArrayHandle(
        NewBufArray(files_.OpenRaw(GroupExtension('d', gi).c_str()), dataBytes, dataBytes));
    gf.data->Init(1);
    gf.data->Expandable(1);
    gf.lastDataStart = gf.lastDataEnd = -1;
    gf.lastAddress = -1;
  }
}

void NativeBase::LoadLibraryPatterns() {
  for (NativeField& f : fields_) {
    if (f.spec.type != kLibRefType) continue;
    RecordPattern lib;
    std::string member = Str(f.spec.param) + ".kvx";
    if (volume_ && volume_->NameExists(member.c_str(), kVolumeFile, 0)) {
      // A library open in the registry knows its pattern; otherwise read its header.
      ArrayHandle a(new VolumeFileArray(-1, member.c_str(), volume_.get(), 0));
      a->Init(1);
      NativeHeader h;
      std::string mark;
      if (ReadHeaderFrom(a.Get(), h, mark)) lib = SortedPattern(h.fields);
    }
    delete f.spec.library;
    f.spec.library = new RecordPattern(lib);
  }
}

void NativeBase::BuildPattern() {
  pattern_.Clear();
  for (const NativeField& f : fields_) pattern_.Append(f.spec);
  keyScratch_.reset();
  if (keyField_ >= 0) {
    RecordPattern one;
    one.Append(fields_[static_cast<std::size_t>(keyField_)].spec);
    keyScratch_ = std::make_unique<Record>(one);
  }
  params_.clear();
  std::string full = FullName();
  for (const NativeField& f : fields_) {
    params_.push_back(f.spec.type == kLibRefType ? full + "," + Str(f.spec.param)
                                                 : Str(f.spec.param));
  }
  emptyBodies_.clear();
  emptyBodies_.resize(fields_.size());
  emptyReady_.assign(fields_.size(), false);
}

NativeBase::~NativeBase() {
  if (open_ != 0) {
    try {
      // The libraries of this group are destroyed before their container: not touched here.
      fastLibraries_.clear();
      DisableFastAccess();
      FlushIndexes();
      if (modified_ || recordCount_ != savedCount_) WriteHeader(false);
    } catch (...) {
      // Reported where it failed; the files are closed all the same.
    }
  }
  CloseAll();
}

void NativeBase::CloseAll() noexcept {
  keyScratch_.reset();
  deleted_.reset();
  groupFiles_.clear();
  keyFile_.Reset();
  slotFile_.Reset();
  header_.Reset();
  if (volume_) {
    try {
      volume_->Close();
    } catch (...) {
    }
    volume_.reset();
  }
}

// ---------------------------------------------------------------------------------------------
// Header, update

void NativeBase::WriteHeader(bool create) {
  NativeHeader h;
  h.flags = flags_;
  h.count = recordCount_;
  h.description = description_;
  h.fields = fields_;
  // The header keeps the creation order; the sorted list is made from it at every open.
  std::stable_sort(
      h.fields.begin(), h.fields.end(),
      [](const NativeField& a, const NativeField& b) { return a.created < b.created; });
  std::vector<std::uint8_t> rest = BuildNativeHeader(h);
  if (create) {
    std::uint8_t texts[100] = {};
    std::memcpy(texts, kNativeIdentification, std::strlen(kNativeIdentification));
    std::memcpy(texts + 50, kNativeFormatMark, std::strlen(kNativeFormatMark));
    header_->Write(0, texts, 100);
  } else if (header_->Count() < 100) {
    Raise(517);
  }
  std::int32_t total = 100 + static_cast<std::int32_t>(rest.size());
  for (std::int32_t at = 0; at < static_cast<std::int32_t>(rest.size());) {
    std::int32_t n = std::min(static_cast<std::int32_t>(rest.size()) - at, kPiece);
    header_->Write(100 + at, rest.data() + at, n);
    at += n;
  }
  if (header_->Count() > total) header_->Extend(total - header_->Count());
  header_->Flush();
  modified_ = false;
  savedCount_ = recordCount_;
}

void NativeBase::FlushIndexes() {
  for (GroupFiles& gf : groupFiles_) {
    if (gf.data) gf.data->Flush();
    if (gf.address) gf.address->Flush();
  }
  if (keyFile_) {
    SettleKeys();
    keys_.Store(keyFile_.Get());
  }
  if (keyFile_) keyFile_->Flush();
  if (slotFile_) {
    slots_.Store(slotFile_.Get());
    slotFile_->Flush();
  }
  if (deleted_) {
    GrowMarks();
    deleted_->Update();
  }
}

void NativeBase::Update() {
  // The header, which holds the record count, is written last: a process killed on the way
  // leaves the count of the previous update with every file holding at least that many records.
  if (volume_ && Registry() != nullptr && Registry()->IndexOf(this) >= 0) {
    std::int32_t n = EmbeddedBaseCount();
    for (std::int32_t i = 0; i < n; ++i) {
      Base* e = OpenEmbeddedBase(this, EmbeddedBaseName(i));
      try {
        e->Update();
      } catch (...) {
        CloseBase(e);
        throw;
      }
      CloseBase(e);
    }
  }
  if (volume_) volume_->Update();
  FlushIndexes();
  if (modified_ || recordCount_ != savedCount_) WriteHeader(false);
  if (container_ != nullptr) container_->Update();
}

// ---------------------------------------------------------------------------------------------
// Information and embedded bases

std::string NativeBase::FullName() const {
  if (container_ != nullptr) return containerName_ + "," + Str(name_);
  return Str(name_);
}

void NativeBase::GetInfo(BaseInfo& info) {
  info.description = Own(description_);
  std::string full = FullName();
  info.fullName = Own(full);
  info.secondFullName = Own(full);
  info.type = kNativeBase;
  info.flag = static_cast<std::int32_t>(flags_ & 1);
}

void NativeBase::SetInfo(const BaseInfo& info) {
  description_ = Str(info.description);
  flags_ = (flags_ & ~1u) | (info.flag != 0 ? 1u : 0u);
  modified_ = true;
}

std::int32_t NativeBase::EmbeddedBaseCount() {
  if (!volume_) return 0;
  std::int32_t n = 0;
  for (VolumeFind* f = volume_->FindFirst(kVolumeFile, 0); f != nullptr; f = volume_->FindNext(f)) {
    const String& name = f->name;
    if (name.Length() > 4 && std::memcmp(name.Text() + name.Length() - 4, ".kvx", 4) == 0) ++n;
  }
  return n;
}

String NativeBase::EmbeddedBaseName(std::int32_t index) {
  if (index < 0 || !volume_) Raise(908);
  std::int32_t n = 0;
  for (VolumeFind* f = volume_->FindFirst(kVolumeFile, 0); f != nullptr; f = volume_->FindNext(f)) {
    const String& name = f->name;
    if (name.Length() > 4 && std::memcmp(name.Text() + name.Length() - 4, ".kvx", 4) == 0) {
      if (n++ == index) {
        String out = String::Copy(name.Text(), name.Length() - 4u);
        Volume::FindClose(f);
        return out;
      }
    }
  }
  Raise(908);
}

String NativeBase::LibraryNameOf(const Field& field) {
  for (const NativeField& f : fields_) {
    if (f.spec.type == kLibRefType && SameName(f.spec.name, field.Name())) {
      return String::Copy(f.spec.param.Text(), f.spec.param.Length());
    }
  }
  return String(static_cast<const char*>(nullptr));
}

void NativeBase::GetEmbeddedShortInfo(ShortInfo& out, const String& name) {
  out.text = String(static_cast<const char*>(nullptr));
  out.count = -1;
  if (!volume_) return;
  // An embedded base that is open answers for itself: its header may not be written yet.
  if (Registry() != nullptr) {
    std::int32_t i = Registry()->IndexOf(this);
    if (i >= 0) {
      std::string full = Str(Registry()->At(i).name) + "," + Str(name);
      if (Base* open = Registry()->Lookup(kNativeBase, Own(full))) {
        BaseInfo info;
        try {
          open->GetInfo(info);
        } catch (...) {
          Registry()->Close(open);
          throw;
        }
        out.text = String::Copy(info.description.Text(), info.description.Length());
        out.count = open->RecordCount();
        Registry()->Close(open);
        return;
      }
    }
  }
  std::string member = Str(name) + ".kvx";
  if (!volume_->NameExists(member.c_str(), kVolumeFile, 0)) return;
  ArrayHandle a(new VolumeFileArray(-1, member.c_str(), volume_.get(), 0));
  a->Init(1);
  NativeShortInfoFrom(a.Get(), out);
}

Base* NativeBase::OpenEmbedded(const String& name) {
  if (!volume_) Raise(915);
  std::string member = Str(name) + ".kvx";
  if (!volume_->NameExists(member.c_str(), kVolumeFile, 0)) Raise(909, member.c_str());
  auto* b = new NativeBase(name, volume_.get(), Str(name_));
  if (!b->IsOpen()) {
    delete b;
    Raise(909, member.c_str());
  }
  return b;
}

Base* NativeBase::CreateEmbedded(const String& name, const RecordPattern& pattern) {
  if (!volume_) Raise(915);
  NativeFileSpace space(Str(name), volume_.get());
  for (const char* ext : {".kvx", ".iii", ".axx", ".dxx"}) space.Remove(ext);
  for (std::int32_t g = 0; g <= 99; ++g) {
    space.Remove(GroupExtension('a', g).c_str());
    space.Remove(GroupExtension('d', g).c_str());
  }
  return new NativeBase(name, pattern, volume_.get(), Str(name_));
}

// ---------------------------------------------------------------------------------------------
// Group data access

std::int32_t NativeBase::AddressCount(std::int32_t g) {
  GroupFiles& gf = groupFiles_[static_cast<std::size_t>(g)];
  if (gf.fast) return static_cast<std::int32_t>(gf.memAddress.size());
  return gf.address ? gf.address->Count() : 0;
}

namespace {

// Whether [at, at + n) can be read from the array under the window without missing bytes that
// only the window holds.
bool BesideWindow(Array* a, std::int64_t at, std::int64_t n) {
  auto* w = static_cast<BufArray*>(a);
  std::int64_t start = w->WindowStart(), end = start + w->WindowValid();
  if (at < end && at + n > start) return false;
  return at + n <= w->Underlying()->Count();
}

}  // namespace

std::int32_t NativeBase::GetAddress(std::int32_t g, std::int32_t s) {
  GroupFiles& gf = groupFiles_[static_cast<std::size_t>(g)];
  if (gf.fast) return gf.memAddress[static_cast<std::size_t>(s)];
  bool sequential = s >= gf.lastAddress && s <= gf.lastAddress + 1024;
  gf.lastAddress = s;
  if (!sequential && BesideWindow(gf.address.Get(), s, 1)) {
    std::int32_t v;
    static_cast<BufArray*>(gf.address.Get())->Underlying()->Read(s, &v, 1);
    return v;
  }
  return static_cast<std::int32_t>(gf.address->GetLong(s));
}

void NativeBase::PutAddress(std::int32_t g, std::int32_t s, std::int32_t value) {
  GroupFiles& gf = groupFiles_[static_cast<std::size_t>(g)];
  gf.address->PutLong(s, static_cast<std::uint32_t>(value));
  if (gf.fast) {
    if (gf.memAddress.size() <= static_cast<std::size_t>(s))
      gf.memAddress.resize(static_cast<std::size_t>(s) + 1, kNoData);
    gf.memAddress[static_cast<std::size_t>(s)] = value;
  }
}

std::int64_t NativeBase::DataCount(std::int32_t g) {
  GroupFiles& gf = groupFiles_[static_cast<std::size_t>(g)];
  if (gf.fast) return static_cast<std::int64_t>(gf.memData.size());
  return gf.data->Count();
}

void NativeBase::ReadData(std::int32_t g, std::int64_t at, void* out, std::int32_t n,
                          std::int32_t record) {
  if (n <= 0) return;
  if (at < 0 || at + n > DataCount(g)) {
    // The address or a length of the record's data points past its data file.
    std::string extra =
        files_.NameOf(GroupExtension('d', g).c_str()) + ", " + std::to_string(record);
    Raise(946, extra.c_str());
  }
  GroupFiles& gf = groupFiles_[static_cast<std::size_t>(g)];
  if (gf.fast) {
    std::memcpy(out, gf.memData.data() + at, static_cast<std::size_t>(n));
    return;
  }
  auto* p = static_cast<std::uint8_t*>(out);
  std::int32_t a = static_cast<std::int32_t>(at);
  bool sequential = at >= gf.lastDataStart && at <= gf.lastDataEnd + 4096;
  gf.lastDataStart = at;
  gf.lastDataEnd = at + n;
  Array* from = gf.data.Get();
  if (!sequential && BesideWindow(from, at, n)) from = static_cast<BufArray*>(from)->Underlying();
  while (n > 0) {
    std::int32_t k = std::min(n, kPiece);
    from->Read(a, p, k);
    a += k;
    p += k;
    n -= k;
  }
}

void NativeBase::WriteData(std::int32_t g, std::int64_t at, const void* bytes, std::int32_t n) {
  if (n <= 0) return;
  if (at + n > 0x7FFFFFFF) Raise(517);
  GroupFiles& gf = groupFiles_[static_cast<std::size_t>(g)];
  std::int32_t a = static_cast<std::int32_t>(at);
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  if (gf.fast) {
    std::size_t end = static_cast<std::size_t>(at + n);
    if (gf.memData.size() < end) gf.memData.resize(end, 0);
    std::memcpy(gf.memData.data() + at, p, static_cast<std::size_t>(n));
  }
  std::int32_t count = gf.data->Count();
  if (a > count) {
    // Slots skipped by the all-fixed layout read as zero bytes, never as leftovers.
    std::vector<std::uint8_t> zeros(static_cast<std::size_t>(a - count), 0);
    gf.data->Write(count, zeros.data(), a - count);
  }
  while (n > 0) {
    std::int32_t k = std::min(n, kPiece);
    gf.data->Write(a, p, k);
    a += k;
    p += k;
    n -= k;
  }
}

std::int32_t NativeBase::PieceFor(std::int32_t g, std::int64_t at, std::int32_t want) {
  GroupFiles& gf = groupFiles_[static_cast<std::size_t>(g)];
  if (gf.fast) return want;
  auto* w = static_cast<BufArray*>(gf.data.Get());
  std::int64_t start = w->WindowStart(), end = start + w->WindowValid();
  // Inside the window: up to its end, so that the window does not move past the next record.
  if (at >= start && at < end)
    return static_cast<std::int32_t>(std::min<std::int64_t>(want, end - at));
  // A jump reads straight from the file and leaves the window where it is.
  bool sequential = at >= gf.lastDataStart && at <= gf.lastDataEnd + 4096;
  if (!sequential) return want;
  // Going on past the window: one byte, after which the window covers the rest of the record.
  return 1;
}

std::int64_t NativeBase::ResolveAddress(std::int32_t g, std::int32_t s, std::int32_t* overflow,
                                        std::int32_t record) {
  if (overflow != nullptr) *overflow = -1;
  // Every record has an entry in each address file from the moment it is written: a slot
  // beyond the end of the file, or an overflow reference that leads outside it, is damage, and
  // neither a read nor a rewrite may take it for a record without data (a rewrite would place
  // its overflow entry over another slot's).
  auto damaged = [&]() -> std::int64_t {
    std::string extra =
        files_.NameOf(GroupExtension('a', g).c_str()) + ", " + std::to_string(record);
    Raise(946, extra.c_str());
  };
  std::int32_t count = AddressCount(g);
  if (s >= count) return damaged();
  std::int32_t v = GetAddress(g, s);
  if (v == kNoData) return -1;
  if (v < 0) {
    std::int32_t j = -v;
    if (j >= count) return damaged();
    if (overflow != nullptr) *overflow = j;
    v = GetAddress(g, j);
    if (v < 0) return damaged();
  }
  return v;
}

void NativeBase::ReadGroup(std::int32_t g, std::int64_t address, std::int32_t record,
                           std::vector<std::uint8_t>& buf, std::vector<std::int32_t>& offset,
                           std::vector<std::int32_t>& length) {
  const NativeGroup& grp = groups_[static_cast<std::size_t>(g)];
  offset.assign(static_cast<std::size_t>(grp.count), 0);
  length.assign(static_cast<std::size_t>(grp.count), 0);
  auto damaged = [&]() {
    std::string extra =
        files_.NameOf(GroupExtension('d', g).c_str()) + ", " + std::to_string(record);
    Raise(946, extra.c_str());
  };
  std::int64_t end = DataCount(g);
  std::int64_t at = address;
  // The first piece holds the size header and, for most records, the bodies too: one read.
  std::int32_t piece = 0;
  if (!grp.allFixed) {
    std::int64_t avail = end - at;
    if (avail <= 0) damaged();
    piece = static_cast<std::int32_t>(std::min<std::int64_t>(PieceFor(g, at, 512), avail));
    head_.resize(static_cast<std::size_t>(piece));
    ReadData(g, at, head_.data(), piece, record);
    // More header bytes when the piece ends inside the header.
    auto ensure = [&](std::int32_t k) {
      if (k <= piece) return;
      if (k > avail) damaged();
      std::int32_t more = static_cast<std::int32_t>(
          std::min<std::int64_t>(std::max(k - piece, 4 * grp.count), avail - piece));
      head_.resize(static_cast<std::size_t>(piece + more));
      ReadData(g, at + piece, head_.data() + piece, more, record);
      piece += more;
    };
    std::int32_t pos = 0;
    for (std::int32_t i = 0; i < grp.count; ++i) {
      const NativeField& f = fields_[static_cast<std::size_t>(grp.first + i)];
      if (f.kind == kStorageFixed) {
        length[static_cast<std::size_t>(i)] = f.size;
        continue;
      }
      // A base-128 length: 7 bits a byte, low group first, at most 4 bytes.
      std::uint32_t v = 0;
      for (std::int32_t k = 0;; ++k) {
        if (k >= 4) damaged();
        ensure(pos + 1);
        std::uint8_t b = head_[static_cast<std::size_t>(pos++)];
        v |= static_cast<std::uint32_t>(b & 0x7F) << (7 * k);
        if ((b & 0x80) == 0) break;
      }
      length[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(v);
    }
    at += pos;
    piece -= pos;
    std::memmove(head_.data(), head_.data() + pos, static_cast<std::size_t>(piece));
  } else {
    for (std::int32_t i = 0; i < grp.count; ++i) {
      length[static_cast<std::size_t>(i)] = fields_[static_cast<std::size_t>(grp.first + i)].size;
    }
  }
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < grp.count; ++i) {
    offset[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(total);
    total += length[static_cast<std::size_t>(i)];
  }
  if (total > 0x7FFFFFFF || at + total > end) damaged();
  buf.resize(static_cast<std::size_t>(total));
  std::int32_t have = static_cast<std::int32_t>(std::min<std::int64_t>(piece, total));
  if (have > 0) std::memcpy(buf.data(), head_.data(), static_cast<std::size_t>(have));
  ReadData(g, at + have, buf.data() + have, static_cast<std::int32_t>(total) - have, record);
}

// ---------------------------------------------------------------------------------------------
// Read

std::int32_t NativeBase::MatchField(const Record& record, std::int32_t i) const {
  const String& name = record[i].Name();
  std::int32_t n = static_cast<std::int32_t>(fields_.size());
  if (i < n && SameName(fields_[static_cast<std::size_t>(i)].spec.name, name)) return i;
  // The first field of the name, through an index of the names, so that matching a wide
  // record in another order than the base's stays linear.
  if (byName_.empty() && n > 0) {
    byName_.reserve(static_cast<std::size_t>(n));
    for (std::int32_t j = 0; j < n; ++j) {
      const String& f = fields_[static_cast<std::size_t>(j)].spec.name;
      byName_.emplace(std::string(f.Text(), f.Length()), j);
    }
  }
  auto it = byName_.find(std::string(name.Text(), name.Length()));
  return it == byName_.end() ? -1 : it->second;
}

void NativeBase::Read(std::int32_t n, Record& record) {
  if (n < 0 || n >= recordCount_) Raise(903);
  std::int32_t s = slots_.SlotOf(n);
  std::int32_t fieldCount = record.Count();
  std::vector<std::int32_t>& match = match_;
  std::vector<std::uint8_t>& wanted = wanted_;
  match.resize(static_cast<std::size_t>(fieldCount));
  wanted.assign(groups_.size(), 0);
  for (std::int32_t i = 0; i < fieldCount; ++i) {
    std::int32_t j = MatchField(record, i);
    match[static_cast<std::size_t>(i)] = j;
    if (j >= 0) wanted[static_cast<std::size_t>(fields_[static_cast<std::size_t>(j)].group)] = 1;
  }
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    if (wanted[g] == 0) continue;
    const NativeGroup& grp = groups_[g];
    std::int32_t gi = static_cast<std::int32_t>(g);
    std::int64_t address = grp.allFixed ? static_cast<std::int64_t>(s) * grp.totalSize
                                        : ResolveAddress(gi, s, nullptr, n);
    if (address >= 0) ReadGroup(gi, address, n, readBuf_, readOffset_, readLength_);
    for (std::int32_t i = 0; i < fieldCount; ++i) {
      std::int32_t j = match[static_cast<std::size_t>(i)];
      if (j < 0 || fields_[static_cast<std::size_t>(j)].group != gi) continue;
      Field& out = record[i];
      if (address < 0) {
        out.SetEmpty();
        continue;
      }
      const NativeField& f = fields_[static_cast<std::size_t>(j)];
      std::size_t k = static_cast<std::size_t>(j - grp.first);
      const std::uint8_t* body = readBuf_.data() + readOffset_[k];
      std::int32_t len = readLength_[k];
      const std::string& param = params_[static_cast<std::size_t>(j)];
      if (out.TypeCode() == f.spec.type) {
        out.Decode(kNativeBase, body, len, View(param));
      } else {
        std::unique_ptr<Field> temp(CreateField(f.spec));
        temp->Unpack(kNativeBase, body, len, View(param));
        out.Assign(*temp);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Key order

std::int32_t NativeBase::UnsortedFromSorted(std::int32_t position) {
  if (keyField_ < 0) return position;
  SettleKeys();
  return keys_.At(position);
}

Field* NativeBase::KeyFieldOf(Record& record, std::unique_ptr<Field>& temp) {
  const NativeField& k = fields_[static_cast<std::size_t>(keyField_)];
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    if (!SameName(record[i].Name(), k.spec.name)) continue;
    if (record[i].TypeCode() == k.spec.type) return &record[i];
    temp.reset(CreateField(k.spec));
    temp->Assign(record[i]);
    return temp.get();
  }
  return nullptr;
}

int NativeBase::CompareKey(Field& key, std::int32_t position) {
  if (indexOn_) return CompareIndexed(keyBuf_.data(), keyBuf_.size(), keys_.At(position));
  Read(keys_.At(position), *keyScratch_);
  int c = key.CompareTo((*keyScratch_)[0]);
  if ((fields_[static_cast<std::size_t>(keyField_)].spec.flags & kFlagDescending) != 0) c = -c;
  return c;
}

std::int32_t NativeBase::LowerBound(Field& key, bool* equal) {
  std::int32_t n = keys_.Count();
  std::int32_t lo = -1, hi = n;
  while (hi - lo > 1) {
    std::int32_t mid = lo + (hi - lo) / 2;
    if (CompareKey(key, mid) > 0) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  *equal = hi < n && CompareKey(key, hi) == 0;
  return hi;
}

// ---------------------------------------------------------------------------------------------
// Write

const ByteBlock& NativeBase::EmptyBody(std::int32_t field) {
  std::size_t j = static_cast<std::size_t>(field);
  if (!emptyReady_[j]) {
    const NativeField& f = fields_[j];
    std::unique_ptr<Field> temp(CreateField(f.spec));
    temp->SetEmpty();
    const std::string& param = params_[j];
    temp->Pack(kNativeBase, View(param), emptyBodies_[j]);
    emptyReady_[j] = true;
  }
  return emptyBodies_[j];
}

std::int32_t NativeBase::Write(std::int32_t n, Record& record) {
  bool isNew;
  std::int32_t r;
  std::int32_t keyPos = -1;   // where the record's number goes in the key order
  std::int32_t keyFrom = -1;  // where it is now (existing records)
  if (n == kAppendRecord || n == kAppendSortedRecord) {
    isNew = true;
    r = recordCount_;
  } else {
    if (n < 0 || n > recordCount_) Raise(903);
    r = n;
    isNew = n == recordCount_;
  }
  if (keyField_ >= 0) {
    std::unique_ptr<Field> temp;
    Field* key = KeyFieldOf(record, temp);
    std::unique_ptr<Field> empty;
    if (key == nullptr && isNew) {
      empty.reset(CreateField(fields_[static_cast<std::size_t>(keyField_)].spec));
      empty->SetEmpty();
      key = empty.get();
    }
    if (indexOn_) {
      // The key order is searched in memory: it must hold every record.
      SettleKeys();
      if (key != nullptr) IndexKeyOf(*key, keyBuf_);
    }
    if (key != nullptr) {
      std::int32_t count = keys_.Count();
      bool equal = false;
      if (n == kAppendSortedRecord && count > 0) {
        int c = CompareKey(*key, count - 1);
        if (c == 0) return count - 1;
        if (c > 0) {
          keyPos = count;
        } else {
          keyPos = LowerBound(*key, &equal);
        }
      } else {
        keyPos = LowerBound(*key, &equal);
      }
      if (isNew) {
        if (equal) return keyPos;
        keyFrom = count;
      } else {
        keyFrom = keys_.Find(r);
        if (keyFrom < 0) Raise(945, files_.NameOf(".iii").c_str());
        if (equal && keyPos != keyFrom) return keyPos;
        if (keyPos > keyFrom) --keyPos;
      }
    }
  }

  PlaceRecord(r, isNew, record);
  if (keyField_ >= 0 && keyFrom >= 0) {
    // The entry moves from its place (a new one from the end) to the searched position.
    if (isNew) {
      keys_.Insert(keyPos, r);
    } else if (keyPos != keyFrom) {
      keys_.Insert(keyPos, keys_.Erase(keyFrom));
    }
  }
  if (indexOn_ && keyFrom >= 0) {
    if (isNew) {
      keyIndex_.Add(keyBuf_.data(), keyBuf_.size());
      keyIndex_.Claim(r);
      lastKey_ = keys_.At(keys_.Count() - 1);
    } else {
      // A record's key was rewritten in place: the index does not follow such writes.
      DropKeyIndex();
    }
  }
  if (keyField_ >= 0) {
    if (keyPos >= 0) return keyPos;
    std::int32_t p = keys_.Find(r);
    if (p >= 0) return p;
  }
  return r;
}

// Packs the record's fields and writes them as record r (new: in a new slot after the last one),
// then, for a new record, grows the slot map, the record count and the deletion marks. A field
// that refuses to pack leaves the base as it was.
void NativeBase::PlaceRecord(std::int32_t r, bool isNew, Record& record) {
  // Matching of the record's fields.
  std::int32_t fieldCount = static_cast<std::int32_t>(fields_.size());
  std::vector<std::int32_t>& source = placeSource_;
  source.assign(static_cast<std::size_t>(fieldCount), -1);
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    std::int32_t j = MatchField(record, i);
    if (j >= 0 && source[static_cast<std::size_t>(j)] < 0) source[static_cast<std::size_t>(j)] = i;
  }

  // Slot.
  std::int32_t s;
  if (isNew) {
    s = recordCount_;
    for (std::size_t g = 0; g < groups_.size(); ++g) {
      if (!groups_[g].allFixed) s = std::max(s, AddressCount(static_cast<std::int32_t>(g)));
    }
    s = std::max(s, slots_.Bits());
  } else {
    s = slots_.SlotOf(r);
  }

  // Pack and place each group's data before anything of the record's index is changed, so a
  // field that refuses to pack leaves the base as it was.
  std::vector<std::uint8_t>& head = placeHead_;
  std::vector<std::uint8_t>& bodies = placeBodies_;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    const NativeGroup& grp = groups_[g];
    std::int32_t gi = static_cast<std::int32_t>(g);
    bool present = isNew;
    for (std::int32_t i = 0; i < grp.count && !present; ++i) {
      present = source[static_cast<std::size_t>(grp.first + i)] >= 0;
    }
    if (!present || grp.count == 0) continue;

    // The old bodies, for the fields the record does not bring.
    std::int32_t overflow = -1;
    std::int64_t oldAddress = -1;
    bool haveOld = false;
    if (!isNew) {
      oldAddress = grp.allFixed ? static_cast<std::int64_t>(s) * grp.totalSize
                                : ResolveAddress(gi, s, &overflow, r);
      bool anyAbsent = false;
      for (std::int32_t i = 0; i < grp.count; ++i) {
        anyAbsent = anyAbsent || source[static_cast<std::size_t>(grp.first + i)] < 0;
      }
      if (anyAbsent && oldAddress >= 0) {
        ReadGroup(gi, oldAddress, r, readBuf_, readOffset_, readLength_);
        haveOld = true;
      }
    }

    head.clear();
    bodies.clear();
    for (std::int32_t i = 0; i < grp.count; ++i) {
      std::int32_t j = grp.first + i;
      const NativeField& f = fields_[static_cast<std::size_t>(j)];
      std::int32_t src = source[static_cast<std::size_t>(j)];
      const std::uint8_t* body;
      std::int32_t len;
      if (src >= 0) {
        const std::string& param = params_[static_cast<std::size_t>(j)];
        Field& in = record[src];
        if (in.TypeCode() == f.spec.type) {
          in.Pack(kNativeBase, View(param), packBuf_);
        } else {
          std::unique_ptr<Field> temp(CreateField(f.spec));
          temp->Assign(in);
          temp->Pack(kNativeBase, View(param), packBuf_);
        }
        body = packBuf_.Data();
        len = packBuf_.Count();
      } else if (haveOld) {
        body = readBuf_.data() + readOffset_[static_cast<std::size_t>(i)];
        len = readLength_[static_cast<std::size_t>(i)];
      } else {
        const ByteBlock& e = EmptyBody(j);
        body = e.Data();
        len = e.Count();
      }
      if (f.kind == kStorageFixed) {
        if (len != f.size) Raise(905);
      } else if (f.kind == kStorageVariable) {
        PutSize(head, static_cast<std::uint32_t>(len));
      } else {
        Raise(906);
      }
      if (len > 0) bodies.insert(bodies.end(), body, body + len);
    }
    if (bodies.size() + head.size() > 0x7FFFFFF0u) Raise(517);
    std::int32_t size = static_cast<std::int32_t>(head.size() + bodies.size());

    std::int64_t address;
    if (grp.allFixed) {
      address = static_cast<std::int64_t>(s) * grp.totalSize;
    } else if (isNew) {
      address = DataCount(gi);
      if (s == 0 && address != 0) Raise(920, "New Record");
      std::int32_t have = AddressCount(gi);
      for (std::int32_t k = have; k < s; ++k) PutAddress(gi, k, kNoData);
      PutAddress(gi, s, static_cast<std::int32_t>(address));
    } else {
      address = oldAddress;
      // The room ends at the next address-file entry after s that is not negative.
      bool fits = address >= 0;
      if (fits) {
        std::int32_t count = AddressCount(gi);
        for (std::int32_t k = s + 1; k < count; ++k) {
          std::int32_t v = GetAddress(gi, k);
          if (v >= 0) {
            fits = address + size <= v;
            break;
          }
        }
      }
      if (!fits) {
        if (overflow >= 0) PutAddress(gi, overflow, kNoData);
        address = DataCount(gi);
        std::int32_t l = AddressCount(gi);
        PutAddress(gi, s, -l);
        PutAddress(gi, l, static_cast<std::int32_t>(address));
      }
    }
    if (!head.empty()) WriteData(gi, address, head.data(), static_cast<std::int32_t>(head.size()));
    if (!bodies.empty()) {
      WriteData(gi, address + static_cast<std::int64_t>(head.size()), bodies.data(),
                static_cast<std::int32_t>(bodies.size()));
    }
  }

  if (isNew) {
    slots_.AddSlot(s);
    ++recordCount_;
    if (bulkDepth_ > 0 && container_ == nullptr) {
      ++unmarked_;
    } else {
      deleted_->Expand(1);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Deletion marks

void NativeBase::GrowMarks() {
  if (unmarked_ == 0) return;
  std::int32_t n = unmarked_;
  unmarked_ = 0;
  deleted_->Expand(n);
}

Subset* NativeBase::GetDeletedSubset() {
  GrowMarks();
  return deleted_.get();
}

int NativeBase::IsDeleted(std::int32_t n) {
  if (n < 0 || n >= recordCount_) Raise(903);
  if (n >= recordCount_ - unmarked_) return 0;  // appended in bulk, marks not grown yet
  return deleted_->Item(n);
}

void NativeBase::ToggleDelete(std::int32_t n, std::int32_t count) {
  if (n < 0 || count < 0 || static_cast<std::int64_t>(n) + count > recordCount_) Raise(903);
  GrowMarks();
  deleted_->ToggleRange(n, count);
  deleted_->Update();
}

}  // namespace ludrex
