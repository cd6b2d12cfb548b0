// The operations every base type shares unless it brings its own: Find (binary search on the
// first field) and AppendAnother (copying records, with their library records, to another base).
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/dispatch.h"
#include "frame/callbacks.h"
#include "frame/catalogue.h"
#include "frame/error.h"
#include "record/field.h"
#include "record/record.h"
#include "search/commented.h"
#include "search/subset.h"

namespace ludrex {
namespace {

// A map entry for a library record found empty: it is not copied and refers to nothing.
constexpr std::int32_t kEmptyLibraryRecord = -2;

bool Convertible(std::int32_t dstType, std::int32_t srcType) {
  if (dstType == srcType) return true;
  // A string and a library reference assign to each other through the library's name field.
  return (dstType == 0 && srcType == 1) || (dstType == 1 && srcType == 0);
}

// For each field of dst, the index of the source field of the same name and a compatible type,
// or -1.
std::vector<std::int32_t> PairFields(const RecordPattern& dst, const RecordPattern& src) {
  std::vector<std::int32_t> pairs(static_cast<std::size_t>(dst.Count()), -1);
  for (std::int32_t d = 0; d < dst.Count(); ++d) {
    for (std::int32_t s = 0; s < src.Count(); ++s) {
      if (dst[d].name == src[s].name && Convertible(dst[d].type, src[s].type)) {
        pairs[static_cast<std::size_t>(d)] = s;
        break;
      }
    }
  }
  return pairs;
}

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }

// " (PGN -> QX Win)" when the two types differ, else nothing.
std::string TypeNote(std::int32_t from, std::int32_t to) {
  if (from == to) return std::string();
  return std::string(" (") + BaseTypeShortName(from) + " -> " + BaseTypeShortName(to) + ")";
}

// A source library, a destination library and the map between their record numbers.
struct LibraryPair {
  std::string srcName, dstName;
  Base* src = nullptr;
  Base* dst = nullptr;
  std::vector<std::int32_t> map;
  std::vector<std::int32_t> dstPairs;  // destination library field -> source library field
};

bool AllFieldsEmpty(const Record& r) {
  for (std::int32_t i = 0; i < r.Count(); ++i) {
    if (!r[i].IsEmpty()) return false;
  }
  return true;
}

void AssignPaired(Record& dst, const Record& src, const std::vector<std::int32_t>& pairs) {
  for (std::int32_t d = 0; d < dst.Count(); ++d) {
    std::int32_t s = pairs[static_cast<std::size_t>(d)];
    if (s < 0) {
      dst[d].SetEmpty();
    } else {
      dst[d].Assign(src[s]);
    }
  }
}

// Copies library record v of the pair's source into its destination; -1 for an empty record.
std::int32_t CopyLibraryRecord(LibraryPair& p, std::int32_t v, std::int32_t how) {
  Record in(p.src->GetRecordPattern());
  p.src->Read(v, in);
  if (AllFieldsEmpty(in)) return -1;
  Record out(p.dst->GetRecordPattern());
  out.LinkToBase(p.dst);
  AssignPaired(out, in, p.dstPairs);
  return p.dst->AppendByKey(out, how);
}

}  // namespace

std::int32_t Base::Find(Record& record, std::int32_t* found, Subset* subset) {
  std::int32_t n = subset != nullptr ? subset->CurLength() : RecordCount();
  std::int32_t lo = -1, hi = n;
  Record scratch(GetRecordPattern());
  scratch.LinkToBase(this);
  auto candidate = [&](std::int32_t pos) { return subset != nullptr ? subset->BaseNum(pos) : pos; };
  while (hi - lo > 1) {
    std::int32_t mid = (lo + hi) / 2;
    Read(UnsortedFromSorted(candidate(mid)), scratch);
    if (record[0].CompareTo(scratch[0]) > 0) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  std::int32_t eq = 0;
  if (hi < n) {
    Read(UnsortedFromSorted(candidate(hi)), scratch);
    eq = record[0].CompareTo(scratch[0]) == 0 ? 1 : 0;
  }
  if (found != nullptr) *found = eq;
  return hi;
}

void Base::GetCommented(Subset* subset) {
  if (subset == nullptr) Raise(7);
  SearchCommented(*this, *subset);
}

std::int32_t Base::AppendAnother(Subset* subset, Base* destination, bool showProgress,
                                 std::int32_t copyLibraries, const std::int32_t* order) {
  return CopyRecordsTo(subset, destination, showProgress, copyLibraries, order, 100);
}

std::int32_t Base::CopyRecordsTo(Subset* subset, Base* destination, bool showProgress,
                                 std::int32_t copyLibraries, const std::int32_t* order,
                                 std::int32_t granularity) {
  // Positions in key order become record numbers.
  std::unique_ptr<Subset> converted;
  if (subset != nullptr && IsSorted()) {
    converted.reset(Subset::CreateTmp(RecordCount()));
    for (std::int32_t p = subset->SeqInitBase(0); p >= 0; p = subset->SeqNext()) {
      converted->IncludeRange(UnsortedFromSorted(p), 1);
    }
    subset->SeqStop();
  }
  Subset* members = converted ? converted.get() : subset;

  // The destination and its libraries hold in memory what the appends need for the duration.
  destination->BeginBulkWrite();
  struct EndBulk {
    Base* base;
    ~EndBulk() {
      try {
        base->EndBulkWrite();
      } catch (...) {
        // Reported where it failed; the Update below or the base's close writes what remains.
      }
    }
  } endBulk{destination};

  const RecordPattern& srcPattern = GetRecordPattern();
  const RecordPattern& dstPattern = destination->GetRecordPattern();
  std::vector<std::int32_t> pairs = PairFields(dstPattern, srcPattern);
  Record src(srcPattern);
  src.LinkToBase(this);
  Record dst(dstPattern);
  dst.LinkToBase(destination);

  // Library pairs, shared by fields that use the same two libraries.
  std::vector<std::unique_ptr<LibraryPair>> libs;
  std::vector<LibraryPair*> fieldLib(static_cast<std::size_t>(dstPattern.Count()), nullptr);
  struct Cleanup {
    std::vector<std::unique_ptr<LibraryPair>>* libs;
    ~Cleanup() {
      for (auto& p : *libs) {
        if (p->src != nullptr) CloseBase(p->src);
        if (p->dst != nullptr) CloseBase(p->dst);
      }
    }
  } cleanup{&libs};
  for (std::int32_t d = 0; d < dstPattern.Count(); ++d) {
    std::int32_t s = pairs[static_cast<std::size_t>(d)];
    if (s < 0 || dstPattern[d].type != 0 || srcPattern[s].type != 0) continue;
    std::string srcName = Str(LibraryNameOf(src[s]));
    std::string dstName = Str(destination->LibraryNameOf(dst[d]));
    LibraryPair* pair = nullptr;
    for (auto& p : libs) {
      if (p->srcName == srcName && p->dstName == dstName) pair = p.get();
    }
    if (pair == nullptr) {
      auto p = std::make_unique<LibraryPair>();
      p->srcName = srcName;
      p->dstName = dstName;
      libs.push_back(std::move(p));
      pair = libs.back().get();
      pair->src = OpenEmbeddedBase(this, String(srcName.c_str()));
      pair->dst = OpenEmbeddedBase(destination, String(dstName.c_str()));
      pair->map.assign(static_cast<std::size_t>(pair->src->RecordCount()), -1);
      pair->dstPairs = PairFields(pair->dst->GetRecordPattern(), pair->src->GetRecordPattern());
      if ((copyLibraries & 1) != 0) {
        std::string title = Str(MessageText(931)) + dstName +
                            TypeNote(pair->src->Type(), pair->dst->Type()) + "...";
        if (showProgress) ProgressBegin(title.c_str(), 1000);
        std::int32_t count = pair->src->RecordCount();
        for (std::int32_t i = 0; i < count; ++i) {
          if (showProgress && ProgressStep(i, count) != 0) break;
          std::int32_t v = pair->src->UnsortedFromSorted(i);
          if (v < 0 || v >= count) continue;
          pair->map[static_cast<std::size_t>(v)] = CopyLibraryRecord(*pair, v, kAppendSortedRecord);
        }
        if (showProgress) ProgressEnd();
      }
    }
    fieldLib[static_cast<std::size_t>(d)] = pair;
  }

  // The records.
  std::string title = Str(MessageText(932)) + TypeNote(Type(), destination->Type()) + "...";
  std::int32_t total = members != nullptr ? members->CurLength() : RecordCount();
  std::int32_t written = 0;
  if (showProgress) ProgressBegin(title.c_str(), granularity);
  struct EndProgress {
    bool on;
    ~EndProgress() {
      if (on) ProgressEnd();
    }
  } endProgress{showProgress};
  for (std::int32_t i = 0; i < total; ++i) {
    if (showProgress && ProgressStep(i, total) != 0) break;
    std::int32_t k = order != nullptr ? order[i] : i;
    std::int32_t r = members != nullptr ? members->BaseNum(k) : k;
    if (IsDeleted(r)) continue;
    Read(r, src);
    for (std::int32_t d = 0; d < dst.Count(); ++d) {
      std::int32_t s = pairs[static_cast<std::size_t>(d)];
      LibraryPair* lib = fieldLib[static_cast<std::size_t>(d)];
      if (s < 0) {
        dst[d].SetEmpty();
      } else if (lib == nullptr) {
        dst[d].Assign(src[s]);
      } else {
        std::int32_t v = src[s].GetInt();
        std::int32_t mapped = -1;
        if (v >= 0 && v < static_cast<std::int32_t>(lib->map.size())) {
          std::int32_t& entry = lib->map[static_cast<std::size_t>(v)];
          if (entry == -1) {
            std::int32_t copied = CopyLibraryRecord(*lib, v, kAppendRecord);
            entry = copied >= 0 ? copied : kEmptyLibraryRecord;
          }
          mapped = entry >= 0 ? entry : -1;
        }
        dst[d].SetInt(mapped);
      }
    }
    destination->Write(kAppendRecord, dst);
    ++written;
  }
  destination->Update();
  return written;
}

}  // namespace ludrex
