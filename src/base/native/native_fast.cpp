// Fast access: the group data a pattern's fields need, held in memory and kept equal to the
// files by every write; bulk writes with the key index; and the copy of records to another base.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "base/dispatch.h"
#include "base/native/native_base.h"
#include "base/registry.h"
#include "frame/error.h"
#include "record/field.h"
#include "record/field_types.h"
#include "record/record.h"
#include "storage/memory.h"

namespace ludrex {
namespace {

// The windows of a top-level base's data and address files during bulk writes, and otherwise.
constexpr std::int32_t kBulkDataWindow = 1 << 20;
constexpr std::int32_t kBulkAddressWindow = 1 << 16;
constexpr std::int32_t kDataWindow = 40000;
constexpr std::int32_t kAddressWindow = 5000;

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }

bool SameName(const String& a, const String& b) {
  return a.Length() == b.Length() && std::memcmp(a.Text(), b.Text(), a.Length()) == 0;
}

// The libraries of base (its library-reference fields' embedded bases) that are open in the
// registry. The pointers stay valid while base's group is open: the group opens and closes as
// one.
std::vector<Base*> OpenLibrariesOf(Base* base, const RecordPattern* pattern) {
  std::vector<Base*> out;
  BaseRegistry* reg = Registry();
  if (reg == nullptr) return out;
  std::int32_t i = reg->IndexOf(base);
  if (i < 0) return out;
  std::string container = Str(reg->At(i).name);
  const RecordPattern& own = base->GetRecordPattern();
  std::vector<std::string> names;
  for (std::int32_t k = 0; k < own.Count(); ++k) {
    if (own[k].type != 0) continue;
    if (pattern != nullptr) {
      bool wanted = false;
      for (std::int32_t m = 0; m < pattern->Count(); ++m) {
        wanted = wanted || SameName((*pattern)[m].name, own[k].name);
      }
      if (!wanted) continue;
    }
    std::string lib = Str(own[k].param);
    bool seen = false;
    for (const std::string& n : names) seen = seen || n == lib;
    if (seen) continue;
    names.push_back(lib);
    std::string full = container + "," + lib;
    String key = String::Copy(full.data(), static_cast<std::uint32_t>(full.size()));
    if (Base* b = reg->Lookup(base->Type(), key)) {
      reg->Close(b);  // only the pointer is kept: the group keeps the object alive
      out.push_back(b);
    }
  }
  return out;
}

}  // namespace

void NativeBase::EnableFastAccess(const RecordPattern* pattern) {
  DisableFastAccess();
  std::vector<bool> need(groups_.size(), pattern == nullptr);
  if (pattern != nullptr) {
    for (std::int32_t m = 0; m < pattern->Count(); ++m) {
      for (const NativeField& f : fields_) {
        if (SameName(f.spec.name, (*pattern)[m].name))
          need[static_cast<std::size_t>(f.group)] = true;
      }
    }
  }
  std::int64_t bytes = 0;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    if (!need[g]) continue;
    bytes +=
        DataCount(static_cast<std::int32_t>(g)) + 4LL * AddressCount(static_cast<std::int32_t>(g));
  }
  bool loaded = static_cast<std::uint64_t>(bytes) < AvailMem() / 2;
  if (loaded) {
    try {
      for (std::size_t g = 0; g < groups_.size(); ++g) {
        if (!need[g]) continue;
        GroupFiles& gf = groupFiles_[g];
        std::int32_t n = gf.data->Count();
        gf.memData.resize(static_cast<std::size_t>(n));
        for (std::int32_t at = 0; at < n;) {
          std::int32_t k = n - at < 65535 ? n - at : 65535;
          gf.data->Read(at, gf.memData.data() + at, k);
          at += k;
        }
        if (gf.address) {
          std::int32_t c = gf.address->Count();
          gf.memAddress.resize(static_cast<std::size_t>(c));
          for (std::int32_t at = 0; at < c;) {
            std::int32_t k = c - at < 16384 ? c - at : 16384;
            gf.address->Read(at, gf.memAddress.data() + at, k);
            at += k;
          }
        }
        gf.fast = true;
      }
    } catch (const std::bad_alloc&) {
      loaded = false;
    }
  }
  if (!loaded) {
    // Not enough memory: the tables go and access stays on the files.
    DisableFastAccess();
    return;
  }
  fastOn_ = true;
  // Library lookups of bulk writes are answered from memory too.
  for (Base* lib : OpenLibrariesOf(this, pattern)) {
    if (lib == this || lib->GetFastAccess() != nullptr) continue;
    lib->EnableFastAccess(nullptr);
    fastLibraries_.push_back(lib);
  }
}

void NativeBase::DisableFastAccess() {
  for (Base* lib : fastLibraries_) lib->DisableFastAccess();
  fastLibraries_.clear();
  for (GroupFiles& gf : groupFiles_) {
    gf.fast = false;
    std::vector<std::uint8_t>().swap(gf.memData);
    std::vector<std::int32_t>().swap(gf.memAddress);
  }
  fastOn_ = false;
}

void* NativeBase::GetFastAccess() {
  return fastOn_ ? static_cast<void*>(groupFiles_.data()) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Bulk writes and the key index

void NativeBase::IndexKeyOf(Field& key, std::vector<std::uint8_t>& out) {
  KeyIndex::WeightsOf(static_cast<const char*>(key.GetBody()),
                      static_cast<std::size_t>(key.GetBodySize()), out);
}

int NativeBase::CompareIndexed(const std::uint8_t* key, std::size_t n, std::int32_t r) const {
  int c = keyIndex_.Compare(key, n, r);
  if ((fields_[static_cast<std::size_t>(keyField_)].spec.flags & kFlagDescending) != 0) c = -c;
  return c;
}

bool NativeBase::BuildKeyIndex() {
  if (keyField_ < 0 || fields_[static_cast<std::size_t>(keyField_)].spec.type != kStringType) {
    return false;
  }
  // Every key and its table entry in memory: a few words a record beside the texts.
  const NativeField& kf = fields_[static_cast<std::size_t>(keyField_)];
  std::int64_t texts = DataCount(kf.group);
  std::int64_t need = texts + 40LL * recordCount_;
  if (static_cast<std::uint64_t>(need) > AvailMem() / 4) return false;
  try {
    keyIndex_.Clear();
    keyIndex_.Reserve(static_cast<std::size_t>(recordCount_), static_cast<std::size_t>(texts));
    std::vector<std::uint8_t> w;
    for (std::int32_t r = 0; r < recordCount_; ++r) {
      Read(r, *keyScratch_);
      IndexKeyOf((*keyScratch_)[0], w);
      keyIndex_.Add(w.data(), w.size());
    }
    // A search finds the first of equal keys in key order; an order that is not sorted (a base
    // written elsewhere) is left to the searches on file.
    std::vector<std::int32_t> order = keys_.Entries();
    auto descending = (kf.spec.flags & kFlagDescending) != 0;
    for (std::size_t p = 0; p < order.size(); ++p) {
      if (p > 0) {
        int c = keyIndex_.Compare(order[p - 1], order[p]);
        if (descending ? c < 0 : c > 0) {
          keyIndex_.Clear();
          return false;
        }
      }
      keyIndex_.Claim(order[p]);
    }
    lastKey_ = order.empty() ? -1 : order.back();
  } catch (const std::bad_alloc&) {
    keyIndex_.Clear();
    return false;
  }
  pendingKeys_.clear();
  indexOn_ = true;
  return true;
}

void NativeBase::DropKeyIndex() {
  if (!indexOn_) return;
  SettleKeys();
  keyIndex_.Clear();
  indexOn_ = false;
  lastKey_ = -1;
}

void NativeBase::SettleKeys() {
  if (pendingKeys_.empty()) return;
  std::vector<std::int32_t> pending;
  pending.swap(pendingKeys_);
  auto less = [this](std::int32_t a, std::int32_t b) {
    const bool descending =
        (fields_[static_cast<std::size_t>(keyField_)].spec.flags & kFlagDescending) != 0;
    int c = keyIndex_.Compare(a, b);
    return descending ? c > 0 : c < 0;
  };
  // Each new key goes where a search of the order puts it: before the first key not below it.
  // New keys differ from every other key, so the merged order is the sorted order whatever
  // the sequence of inserts.
  std::int32_t count = keys_.Count();
  if (static_cast<std::int64_t>(pending.size()) * 32 < count) {
    for (std::int32_t r : pending) {
      std::int32_t lo = -1, hi = keys_.Count();
      while (hi - lo > 1) {
        std::int32_t mid = lo + (hi - lo) / 2;
        if (less(keys_.At(mid), r)) {
          lo = mid;
        } else {
          hi = mid;
        }
      }
      keys_.Insert(hi, r);
    }
    return;
  }
  std::sort(pending.begin(), pending.end(), less);
  std::vector<std::int32_t> old = keys_.Entries();
  std::vector<std::int32_t> merged;
  merged.reserve(old.size() + pending.size());
  std::size_t i = 0, j = 0;
  std::int32_t changedFrom = -1;
  while (i < old.size() || j < pending.size()) {
    bool takeNew = j < pending.size() && (i == old.size() || !less(old[i], pending[j]));
    if (takeNew && changedFrom < 0) changedFrom = static_cast<std::int32_t>(merged.size());
    merged.push_back(takeNew ? pending[j++] : old[i++]);
  }
  keys_.Replace(merged, changedFrom);
}

std::int32_t NativeBase::AppendByKey(Record& record, std::int32_t how) {
  if (!indexOn_ || (how != kAppendRecord && how != kAppendSortedRecord)) {
    return UnsortedFromSorted(Write(how, record));
  }
  std::unique_ptr<Field> temp;
  Field* key = KeyFieldOf(record, temp);
  if (key != nullptr) {
    IndexKeyOf(*key, keyBuf_);
  } else {
    keyBuf_.clear();  // a record without the key field has an empty key
  }
  const std::uint8_t* k = keyBuf_.data();
  std::size_t n = keyBuf_.size();
  // What Write finds: with AppendSortedRecord the last key in order answers first.
  if (how == kAppendSortedRecord && lastKey_ >= 0) {
    int c = CompareIndexed(k, n, lastKey_);
    if (c == 0) return lastKey_;
    if (c < 0) {
      std::int32_t found = keyIndex_.Find(k, n);
      if (found >= 0) return found;
    }
  } else {
    std::int32_t found = keyIndex_.Find(k, n);
    if (found >= 0) return found;
  }
  std::int32_t r = recordCount_;
  newKey_.swap(keyBuf_);  // packing the record may use the key buffer again
  PlaceRecord(r, true, record);
  keyIndex_.Add(newKey_.data(), newKey_.size());
  keyIndex_.Claim(r);
  pendingKeys_.push_back(r);
  if (lastKey_ < 0 || CompareIndexed(newKey_.data(), newKey_.size(), lastKey_) > 0) lastKey_ = r;
  return r;
}

void NativeBase::BeginBulkWrite() {
  if (bulkDepth_++ > 0) return;
  try {
    if (keyField_ >= 0 && !indexOn_) BuildKeyIndex();
    // A top-level base's files grow through large windows while the appends last (a library's
    // stay as they are: its files grow inside the volume as record-by-record writes grow them).
    if (container_ == nullptr) SetWindows(kBulkDataWindow, kBulkAddressWindow);
    for (Base* lib : OpenLibrariesOf(this, nullptr)) {
      if (lib == this) continue;
      lib->BeginBulkWrite();
      bulkLibraries_.push_back(lib);
    }
  } catch (...) {
    EndBulkWrite();
    throw;
  }
}

void NativeBase::EndBulkWrite() {
  if (bulkDepth_ == 0 || --bulkDepth_ > 0) return;
  std::vector<Base*> libs;
  libs.swap(bulkLibraries_);
  for (Base* lib : libs) lib->EndBulkWrite();
  // The index stays: later appends (a checkpointed import goes on in further calls) use it
  // without reading every key again. The key order is complete again.
  SettleKeys();
  GrowMarks();
  if (container_ == nullptr) SetWindows(kDataWindow, kAddressWindow);
}

std::int32_t NativeBase::AppendAnother(Subset* subset, Base* destination, bool showProgress,
                                       std::int32_t copyLibraries, const std::int32_t* order) {
  if ((copyLibraries & 2) != 0) {
    return CopyRecordsTo(subset, destination, showProgress, copyLibraries & 1, order, 100);
  }
  // The bulk merge between native bases declines; the own copy below gives the same records.
  // The libraries of both sides answer from memory while it runs.
  std::vector<Base*> switched;
  auto enable = [&](Base* b) {
    for (Base* lib : OpenLibrariesOf(b, nullptr)) {
      if (lib->GetFastAccess() != nullptr) continue;
      lib->EnableFastAccess(nullptr);
      switched.push_back(lib);
    }
  };
  struct Restore {
    std::vector<Base*>* libs;
    ~Restore() {
      for (Base* lib : *libs) {
        try {
          lib->DisableFastAccess();
        } catch (...) {
        }
      }
    }
  } restore{&switched};
  enable(this);
  if (destination != this) enable(destination);
  return CopyRecordsTo(subset, destination, showProgress, copyLibraries & 1, order, 500);
}

}  // namespace ludrex
