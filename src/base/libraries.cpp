// Library maintenance: renumbering, removal of empty records and compression. The new libraries
// are built in a fresh native base T at a temporary name; the base's games are rewritten to the
// new numbers only after every library was copied, so a failed or stopped copy leaves the base
// as it was and erases T.
#include "base/libraries.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/dispatch.h"
#include "base/native/native_base.h"
#include "base/native/native_files.h"
#include "base/registry.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "record/field.h"
#include "record/field_types.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/files.h"
#include "storage/volume.h"

namespace ludrex {
namespace {

constexpr std::int32_t kPiece = 65535;
// The member files of an embedded base copied from volume to volume.
constexpr std::int32_t kCopiedGroups = 20;

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }
String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}
String Empty() { return String::Copy("", 0); }

std::int32_t Granularity(std::int32_t count) { return std::max(count / 30, 1); }

bool AllFieldsEmpty(const Record& r) {
  for (std::int32_t i = 0; i < r.Count(); ++i) {
    if (!r[i].IsEmpty()) return false;
  }
  return true;
}

std::string RegisteredName(Base* b) {
  BaseRegistry* reg = Registry();
  std::int32_t i = reg != nullptr ? reg->IndexOf(b) : -1;
  return i < 0 ? std::string() : Str(reg->At(i).name);
}

// The registered name's part after the first comma: the library's own name; empty when library
// is not embedded in base.
std::string LibraryName(Base* base, Base* library) {
  std::string full = RegisteredName(library);
  std::size_t comma = full.find(',');
  if (comma == std::string::npos || full.substr(0, comma) != RegisteredName(base)) {
    return std::string();
  }
  return full.substr(comma + 1);
}

std::vector<std::string> EmbeddedNames(Base* base) {
  std::vector<std::string> names;
  std::int32_t n = base->EmbeddedBaseCount();
  for (std::int32_t i = 0; i < n; ++i) names.push_back(Str(base->EmbeddedBaseName(i)));
  return names;
}

std::vector<std::string> MemberNames(const std::string& lib) {
  std::vector<std::string> out;
  for (const char* ext : {".kvx", ".iii", ".axx", ".dxx"}) out.push_back(lib + ext);
  for (std::int32_t g = 0; g < kCopiedGroups; ++g) {
    out.push_back(lib + GroupExtension('a', g));
    out.push_back(lib + GroupExtension('d', g));
  }
  return out;
}

// An open embedded base given back on every path.
struct OpenLibrary {
  Base* base = nullptr;
  bool fast = false;  // fast access switched on here
  OpenLibrary() = default;
  OpenLibrary(const OpenLibrary&) = delete;
  OpenLibrary& operator=(const OpenLibrary&) = delete;
  ~OpenLibrary() { Close(); }
  void Open(Base* container, const std::string& name) {
    base = OpenEmbeddedBase(container, Own(name));
    if (base->GetFastAccess() == nullptr) {
      base->EnableFastAccess(nullptr);
      fast = base->GetFastAccess() != nullptr;
    }
  }
  void Close() {
    if (base == nullptr) return;
    Base* b = base;
    base = nullptr;
    try {
      if (fast) b->DisableFastAccess();
      b->Update();
    } catch (...) {
      CloseBase(b);
      throw;
    }
    CloseBase(b);
  }
};

// The new base T: created at a temporary name with base's pattern (its libraries empty), closed
// and erased unless Keep() was called.
class Target {
 public:
  explicit Target(Base* base) {
    name_ = Str(TempBaseName());
    base_ = CreateBase(Own(name_), base->GetRecordPattern(), kNativeBase);
    native_ = dynamic_cast<NativeBase*>(base_);
  }
  ~Target() {
    try {
      Close();
    } catch (...) {
    }
    if (!keep_) {
      try {
        EraseBase(Own(name_), kNativeBase);
      } catch (...) {
      }
    }
  }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  Base* Get() { return base_; }
  Volume* EmbeddedVolume() { return native_ != nullptr ? native_->EmbeddedVolume() : nullptr; }
  void Close() {
    if (base_ == nullptr) return;
    Base* b = base_;
    base_ = nullptr;
    native_ = nullptr;
    try {
      b->Update();
    } catch (...) {
      CloseBase(b);
      throw;
    }
    CloseBase(b);
  }
  String Keep() {
    Close();
    keep_ = true;
    return Own(name_);
  }

 private:
  std::string name_;
  Base* base_ = nullptr;
  NativeBase* native_ = nullptr;
  bool keep_ = false;
};

// Copies the member files of the embedded base lib from one volume to another in pieces of 65535
// bytes, replacing what the target held for lib. False when a progress step asked to stop.
bool CopyLibraryFiles(Volume* from, Volume* to, const std::string& lib) {
  std::vector<std::string> members = MemberNames(lib);
  std::string title = Str(MessageText(1002)) + lib;
  ProgressScope progress(title.c_str(), 1);
  std::int32_t total = static_cast<std::int32_t>(members.size());
  std::vector<std::uint8_t> buf(kPiece);
  for (std::int32_t i = 0; i < total; ++i) {
    if (ProgressStep(i, total) != 0) return false;
    const std::string& m = members[static_cast<std::size_t>(i)];
    if (to->NameExists(m.c_str(), kVolumeFile, 0)) to->DeleteEntries(m.c_str(), kVolumeFile, 0);
    if (!from->NameExists(m.c_str(), kVolumeFile, 0)) continue;
    VolumeFileArray in(-1, m.c_str(), from, 0);
    in.Init(1);
    VolumeFileArray out(0, m.c_str(), to, 0);
    out.Init(1);
    for (std::int32_t at = 0; at < in.Count();) {
      std::int32_t n = std::min(in.Count() - at, kPiece);
      in.Read(at, buf.data(), n);
      out.Write(at, buf.data(), n);
      at += n;
    }
    out.Flush();
  }
  return true;
}

// The library-reference fields of base's pattern that name lib (all of them when lib is empty),
// as indexes into the pattern.
std::vector<std::int32_t> FieldsOf(Base* base, const std::string& lib) {
  std::vector<std::int32_t> out;
  const RecordPattern& p = base->GetRecordPattern();
  for (std::int32_t i = 0; i < p.Count(); ++i) {
    if (p[i].type == kLibRefType && (lib.empty() || Str(p[i].param) == lib)) out.push_back(i);
  }
  return out;
}

// A pattern of the given fields of base's pattern, each keeping only its record number.
RecordPattern NumbersPattern(Base* base, const std::vector<std::int32_t>& fields) {
  const RecordPattern& p = base->GetRecordPattern();
  RecordPattern out;
  for (std::int32_t i : fields) {
    FieldSpec spec = p[i];
    spec.flags |= kFlagIndexOnly;
    spec.flags &= ~kFlagKey;
    out.Append(spec);
  }
  return out;
}

// Fast access on base for the fields of pattern while it lives (when it was off).
class FastFields {
 public:
  FastFields(Base* base, const RecordPattern& pattern) : base_(base) {
    if (base_->GetFastAccess() != nullptr) return;
    base_->EnableFastAccess(&pattern);
    on_ = base_->GetFastAccess() != nullptr;
  }
  ~FastFields() {
    if (!on_) return;
    try {
      base_->DisableFastAccess();
    } catch (...) {
    }
  }
  FastFields(const FastFields&) = delete;
  FastFields& operator=(const FastFields&) = delete;

 private:
  Base* base_;
  bool on_ = false;
};

// Rewrites base's records: field i of the numbers pattern (base field fields[i]) maps through
// *maps[i] (a number outside the map or mapped to -1 becomes -1). Only records whose numbers
// change are written. A stop request is not honoured here: a base half renumbered would refer to
// neither the old libraries nor the new ones.
void RewriteGames(Base* base, const std::vector<std::int32_t>& fields,
                  const std::vector<const std::vector<std::int32_t>*>& maps) {
  RecordPattern pattern = NumbersPattern(base, fields);
  Record record(pattern);
  FastFields fast(base, pattern);
  std::int32_t count = base->RecordCount();
  ProgressScope progress(MessageTextPtr(1003), Granularity(count));
  for (std::int32_t r = 0; r < count; ++r) {
    ProgressStep(r, count);
    base->Read(r, record);
    bool changed = false;
    for (std::int32_t i = 0; i < record.Count(); ++i) {
      const std::vector<std::int32_t>& map = *maps[static_cast<std::size_t>(i)];
      std::int32_t v = record[i].GetInt();
      std::int32_t nv = v >= 0 && v < static_cast<std::int32_t>(map.size())
                            ? map[static_cast<std::size_t>(v)]
                            : -1;
      if (nv < 0) nv = -1;
      if (nv != v) {
        record[i].SetInt(nv);
        changed = true;
      }
    }
    if (changed) base->Write(r, record);
  }
}

// Resolves a host map into new numbers: kept records numbered 0, 1, ... in record order, merged
// ones the number of the kept record their chain of merges ends at, dropped ones -1.
std::vector<std::int32_t> NewNumbers(const std::int32_t* map, const std::vector<bool>* drop,
                                     std::int32_t count, std::vector<bool>& kept) {
  kept.assign(static_cast<std::size_t>(count), false);
  std::vector<std::int32_t> number(static_cast<std::size_t>(count), -1);
  std::int32_t next = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    bool dropped = drop != nullptr && (*drop)[static_cast<std::size_t>(k)];
    std::int32_t m = map != nullptr ? map[k] : -1;
    if (m >= count) Raise(903, "map");
    if (!dropped && (m < 0 || m == k)) {
      kept[static_cast<std::size_t>(k)] = true;
      number[static_cast<std::size_t>(k)] = next++;
    }
  }
  if (map == nullptr) return number;
  for (std::int32_t k = 0; k < count; ++k) {
    if (kept[static_cast<std::size_t>(k)] || (drop != nullptr && (*drop)[static_cast<std::size_t>(k)]))
      continue;
    std::int32_t at = map[k];
    for (std::int32_t steps = 0; steps <= count; ++steps) {
      if (at < 0 || at >= count) break;
      if (kept[static_cast<std::size_t>(at)]) {
        number[static_cast<std::size_t>(k)] = number[static_cast<std::size_t>(at)];
        break;
      }
      if (drop != nullptr && (*drop)[static_cast<std::size_t>(at)]) break;
      at = map[at];
    }
    if (number[static_cast<std::size_t>(k)] < 0 &&
        !(drop != nullptr && at >= 0 && at < count && (*drop)[static_cast<std::size_t>(at)])) {
      Raise(903, "map");  // a ring of merges with no kept record
    }
  }
  return number;
}

// Copies the kept records of source to target (an empty library of the same pattern) through
// AppendAnother, in record order, so that the k-th kept record becomes record k of target.
// False when fewer records arrived (a stop, a deleted record, a key that met an equal one).
bool CopyKept(Base* source, Base* target, const std::vector<bool>& kept, std::int32_t keptCount) {
  std::int32_t count = source->RecordCount();
  std::unique_ptr<Subset> members(Subset::CreateTmp(count));
  // AppendAnother reads the subset of a keyed base as positions in key order.
  bool sorted = source->IsSorted() != 0;
  std::int32_t runFrom = -1;
  for (std::int32_t p = 0; p <= count; ++p) {
    bool in = false;
    if (p < count) {
      std::int32_t k = sorted ? source->UnsortedFromSorted(p) : p;
      in = k >= 0 && k < count && kept[static_cast<std::size_t>(k)];
    }
    if (in && runFrom < 0) runFrom = p;
    if (!in && runFrom >= 0) {
      members->IncludeRange(runFrom, p - runFrom);
      runFrom = -1;
    }
  }
  if (members->CurLength() != keptCount) return false;
  std::int32_t written = source->AppendAnother(members.get(), target, true, 0, nullptr);
  return written == keptCount && target->RecordCount() == keptCount;
}

// One library renumbered into T: steps 3 to 6 of a renumbering. False when the copy failed.
bool RenumberInto(Base* base, Target& target, const std::string& lib, const std::vector<bool>& kept,
                  std::int32_t keptCount) {
  OpenLibrary source, dest;
  source.Open(base, lib);
  dest.Open(target.Get(), lib);
  bool ok = CopyKept(source.base, dest.base, kept, keptCount);
  dest.Close();
  source.Close();
  return ok;
}

// The numbers map of one library: the kept records and what every record becomes.
struct Plan {
  std::string lib;
  std::vector<bool> kept;
  std::int32_t keptCount = 0;
  std::vector<std::int32_t> number;
};

// Renumbers the libraries of the plans into T, copies every other library unchanged and then
// rewrites the games. Returns T's name or an empty text.
String Renumber(Base* base, std::vector<Plan>& plans) {
  if (dynamic_cast<NativeBase*>(base) == nullptr) return Empty();
  Target target(base);
  base->Update();
  for (Plan& p : plans) {
    if (!RenumberInto(base, target, p.lib, p.kept, p.keptCount)) return Empty();
  }
  Volume* from = dynamic_cast<NativeBase*>(base)->EmbeddedVolume();
  Volume* to = target.EmbeddedVolume();
  if (from == nullptr || to == nullptr) return Empty();
  for (const std::string& other : EmbeddedNames(base)) {
    bool planned = false;
    for (const Plan& p : plans) planned = planned || p.lib == other;
    if (!planned && !CopyLibraryFiles(from, to, other)) return Empty();
  }
  // Every library is in place: now the games.
  std::vector<std::int32_t> fields;
  std::vector<const std::vector<std::int32_t>*> maps;
  for (const Plan& p : plans) {
    for (std::int32_t f : FieldsOf(base, p.lib)) {
      fields.push_back(f);
      maps.push_back(&p.number);
    }
  }
  if (!fields.empty()) RewriteGames(base, fields, maps);
  base->Update();
  return target.Keep();
}

bool IsLibraryOf(Base* base, const std::string& lib) {
  if (lib.empty()) return false;
  for (const std::string& n : EmbeddedNames(base)) {
    if (n == lib) return true;
  }
  return false;
}

}  // namespace

String MultiChange(Base* base, Base* library, const std::int32_t* map) {
  if (base == nullptr || library == nullptr || map == nullptr) Raise(7);
  std::string lib = LibraryName(base, library);
  if (!IsLibraryOf(base, lib)) return Empty();
  Plan plan;
  plan.lib = lib;
  std::int32_t count = library->RecordCount();
  {
    std::string title = Str(MessageText(1002)) + lib;
    ProgressScope progress(title.c_str(), Granularity(count));
    plan.number = NewNumbers(map, nullptr, count, plan.kept);
    for (std::int32_t k = 0; k < count; ++k) {
      if (ProgressStep(k, count) != 0) return Empty();
      if (plan.kept[static_cast<std::size_t>(k)]) ++plan.keptCount;
    }
  }
  std::vector<Plan> plans;
  plans.push_back(std::move(plan));
  return Renumber(base, plans);
}

String KillEmptyLibRecs(Base* base) {
  if (base == nullptr) Raise(7);
  std::vector<Plan> plans;
  for (const std::string& lib : EmbeddedNames(base)) {
    OpenLibrary l;
    l.Open(base, lib);
    std::int32_t count = l.base->RecordCount();
    Record r(l.base->GetRecordPattern());
    std::vector<bool> drop(static_cast<std::size_t>(count), false);
    for (std::int32_t k = 0; k < count; ++k) {
      l.base->Read(k, r);
      drop[static_cast<std::size_t>(k)] = AllFieldsEmpty(r);
    }
    Plan p;
    p.lib = lib;
    p.number = NewNumbers(nullptr, &drop, count, p.kept);
    for (bool k : p.kept) p.keptCount += k ? 1 : 0;
    plans.push_back(std::move(p));
  }
  return Renumber(base, plans);
}

// ---------------------------------------------------------------------------------------------
// Compression

namespace {

// One library of the compression: the source in base, the target in T, and the map of source
// record numbers to target numbers (-1: not used yet).
struct Compressed {
  std::string lib;
  OpenLibrary source, dest;
  std::vector<std::int32_t> map;
  std::vector<std::int32_t> order;  // source records in order of first use
  std::unique_ptr<Record> in, out;
  std::vector<std::int32_t> pairs;

  void Prepare() {
    const RecordPattern& sp = source.base->GetRecordPattern();
    const RecordPattern& dp = dest.base->GetRecordPattern();
    in = std::make_unique<Record>(sp);
    out = std::make_unique<Record>(dp);
    for (std::int32_t d = 0; d < dp.Count(); ++d) {
      std::int32_t s = -1;
      for (std::int32_t k = 0; k < sp.Count() && s < 0; ++k) {
        if (sp[k].name == dp[d].name && sp[k].type == dp[d].type) s = k;
      }
      pairs.push_back(s);
    }
    map.assign(static_cast<std::size_t>(source.base->RecordCount()), -1);
  }
  // Source record v written to the target with AppendRecord; its record number there.
  std::int32_t Copy(std::int32_t v) {
    source.base->Read(v, *in);
    for (std::int32_t d = 0; d < out->Count(); ++d) {
      std::int32_t s = pairs[static_cast<std::size_t>(d)];
      if (s < 0) {
        (*out)[d].SetEmpty();
      } else {
        (*out)[d].Assign((*in)[s]);
      }
    }
    return dest.base->UnsortedFromSorted(dest.base->Write(kAppendRecord, *out));
  }
};

// The libraries of base's library-reference fields, opened in base and in T; fieldLib[i] is the
// entry of field fields[i].
void OpenCompressed(Base* base, Target& target, const std::vector<std::int32_t>& fields,
                    std::vector<std::unique_ptr<Compressed>>& libs,
                    std::vector<Compressed*>& fieldLib) {
  const RecordPattern& p = base->GetRecordPattern();
  std::vector<std::string> present = EmbeddedNames(base);
  for (std::int32_t f : fields) {
    std::string lib = Str(p[f].param);
    Compressed* c = nullptr;
    for (auto& l : libs) {
      if (l->lib == lib) c = l.get();
    }
    if (c == nullptr && std::find(present.begin(), present.end(), lib) != present.end()) {
      auto l = std::make_unique<Compressed>();
      l->lib = lib;
      l->source.Open(base, lib);
      l->dest.Open(target.Get(), lib);
      l->Prepare();
      libs.push_back(std::move(l));
      c = libs.back().get();
    }
    fieldLib.push_back(c);
  }
}

}  // namespace

String LibraryCompressByRecords(Base* base) {
  if (base == nullptr) Raise(7);
  Target target(base);
  base->Update();
  std::vector<std::int32_t> fields = FieldsOf(base, std::string());
  std::vector<std::unique_ptr<Compressed>> libs;
  std::vector<Compressed*> fieldLib;
  OpenCompressed(base, target, fields, libs, fieldLib);
  RecordPattern pattern = NumbersPattern(base, fields);
  Record record(pattern);
  std::int32_t count = base->RecordCount();
  {
    ProgressScope progress(MessageTextPtr(1010), Granularity(count));
    for (std::int32_t r = 0; r < count; ++r) {
      if (ProgressStep(r, count) != 0) break;
      base->Read(r, record);
      for (std::int32_t i = 0; i < record.Count(); ++i) {
        Compressed* c = fieldLib[static_cast<std::size_t>(i)];
        std::int32_t v = record[i].GetInt();
        if (c == nullptr || v < 0) continue;
        if (v >= static_cast<std::int32_t>(c->map.size())) {
          record[i].SetInt(-1);
          continue;
        }
        std::int32_t& m = c->map[static_cast<std::size_t>(v)];
        if (m == -1) m = c->Copy(v);
        record[i].SetInt(m);
      }
      base->Write(r, record);
    }
  }
  for (auto& l : libs) {
    l->dest.Close();
    l->source.Close();
  }
  base->Update();
  return target.Keep();
}

namespace {

// The bulk compression of a native base: the games' library numbers read in one pass (only those
// fields, from memory), the used library records copied in order of first use, and the games
// rewritten where a number changed. Empty text when a step was stopped (base unchanged).
String BulkCompress(Base* base) {
  Target target(base);
  base->Update();
  std::vector<std::int32_t> fields = FieldsOf(base, std::string());
  std::vector<std::unique_ptr<Compressed>> libs;
  std::vector<Compressed*> fieldLib;
  OpenCompressed(base, target, fields, libs, fieldLib);
  std::int32_t count = base->RecordCount();
  // Pass 1: the order of first use.
  {
    RecordPattern pattern = NumbersPattern(base, fields);
    Record record(pattern);
    FastFields fast(base, pattern);
    ProgressScope progress(MessageTextPtr(1071), Granularity(count));
    for (std::int32_t r = 0; r < count; ++r) {
      if (ProgressStep(r, count) != 0) return Empty();
      base->Read(r, record);
      for (std::int32_t i = 0; i < record.Count(); ++i) {
        Compressed* c = fieldLib[static_cast<std::size_t>(i)];
        std::int32_t v = record[i].GetInt();
        if (c == nullptr || v < 0 || v >= static_cast<std::int32_t>(c->map.size())) continue;
        std::int32_t& m = c->map[static_cast<std::size_t>(v)];
        if (m != -1) continue;
        m = static_cast<std::int32_t>(c->order.size());
        c->order.push_back(v);
      }
    }
  }
  // Pass 2: the library records, in that order.
  for (auto& l : libs) {
    std::string title = Str(MessageText(1073)) + " " + l->lib;
    std::int32_t n = static_cast<std::int32_t>(l->order.size());
    ProgressScope progress(title.c_str(), Granularity(n));
    for (std::int32_t i = 0; i < n; ++i) {
      if (ProgressStep(i, n) != 0) return Empty();
      std::int32_t v = l->order[static_cast<std::size_t>(i)];
      l->map[static_cast<std::size_t>(v)] = l->Copy(v);
    }
    l->dest.Close();
    l->source.Close();
  }
  // Pass 3: the games.
  std::vector<const std::vector<std::int32_t>*> maps;
  std::vector<std::int32_t> none;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    maps.push_back(fieldLib[i] != nullptr ? &fieldLib[i]->map : &none);
  }
  RewriteGames(base, fields, maps);
  base->Update();
  return target.Keep();
}

}  // namespace

String LibraryCompress(Base* base) {
  if (base == nullptr) Raise(7);
  if (dynamic_cast<NativeBase*>(base) != nullptr) return BulkCompress(base);
  return LibraryCompressByRecords(base);
}

}  // namespace ludrex
