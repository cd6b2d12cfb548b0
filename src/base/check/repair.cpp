// The repair: records of a (possibly damaged) base copied one by one to the end of another base,
// with the library records they refer to.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/check/base_check.h"
#include "base/dispatch.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "record/field.h"
#include "record/field_chess.h"
#include "record/field_types.h"
#include "record/record.h"
#include "search/subset.h"

namespace ludrex {
namespace {

constexpr std::int32_t kMovesMeaning = 22;
constexpr std::int32_t kEmptyLibraryRecord = -2;
// Native game bytes longer than this hold at least one element unless they begin with a set-up
// position.
constexpr std::int32_t kSurelyNotEmpty = 64;

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }

bool AllFieldsEmpty(const Record& r) {
  for (std::int32_t i = 0; i < r.Count(); ++i) {
    if (!r[i].IsEmpty()) return false;
  }
  return true;
}

// A library of the source and the library of the destination its records go to, with the map
// from source record numbers to destination record numbers, filled on first use.
struct LibraryCopy {
  std::string srcName, dstName;
  Base* src = nullptr;
  Base* dst = nullptr;
  bool srcFast = false, dstFast = false;  // fast access switched on here
  std::vector<std::int32_t> map;
  std::vector<std::int32_t> pairs;  // destination library field -> source library field
  std::unique_ptr<Record> in, out;

  ~LibraryCopy() {
    try {
      if (srcFast) src->DisableFastAccess();
      if (dstFast) dst->DisableFastAccess();
    } catch (...) {
    }
    if (src != nullptr) CloseBase(src);
    if (dst != nullptr) CloseBase(dst);
  }

  std::int32_t Translate(std::int32_t v) {
    if (v < 0 || v >= static_cast<std::int32_t>(map.size())) return -1;
    std::int32_t& entry = map[static_cast<std::size_t>(v)];
    if (entry == -1) {
      src->Read(v, *in);
      if (AllFieldsEmpty(*in)) {
        entry = kEmptyLibraryRecord;
      } else {
        for (std::int32_t d = 0; d < out->Count(); ++d) {
          std::int32_t s = pairs[static_cast<std::size_t>(d)];
          if (s < 0) {
            (*out)[d].SetEmpty();
          } else {
            (*out)[d].Assign((*in)[s]);
          }
        }
        entry = dst->UnsortedFromSorted(dst->Write(kAppendRecord, *out));
      }
    }
    return entry >= 0 ? entry : -1;
  }
};

std::int32_t FieldNamed(const RecordPattern& p, const String& name, std::int32_t type) {
  for (std::int32_t i = 0; i < p.Count(); ++i) {
    if (p[i].name == name && (type < 0 || p[i].type == type)) return i;
  }
  return -1;
}

}  // namespace

std::int32_t RepairBase(Base* source, Base* destination, Subset* subset, std::int32_t flags) {
  if (source == nullptr || destination == nullptr) Raise(7);
  const RecordPattern& srcPattern = source->GetRecordPattern();
  RecordPattern pattern = destination->GetRecordPattern();
  bool bothNative = source->Type() == kNativeBase && destination->Type() == kNativeBase;

  // Between two native bases library fields carry record numbers only (translated through the
  // maps below) and game scores their bytes, undecoded.
  std::vector<std::unique_ptr<LibraryCopy>> libraries;
  std::vector<LibraryCopy*> fieldLibrary(static_cast<std::size_t>(pattern.Count()), nullptr);
  if (bothNative) {
    for (std::int32_t d = 0; d < pattern.Count(); ++d) {
      if (pattern[d].type == kChessType &&
          FieldNamed(srcPattern, pattern[d].name, kChessType) >= 0) {
        pattern[d].flags |= kFlagRawGame;
      }
    }
  }
  Record record(pattern);
  if (bothNative) {
    for (std::int32_t d = 0; d < pattern.Count(); ++d) {
      if (pattern[d].type != kLibRefType) continue;
      if (FieldNamed(srcPattern, pattern[d].name, kLibRefType) < 0) continue;
      std::string srcName = Str(source->LibraryNameOf(record[d]));
      std::string dstName = Str(destination->LibraryNameOf(record[d]));
      if (srcName.empty() || dstName.empty()) continue;
      LibraryCopy* lib = nullptr;
      for (auto& l : libraries) {
        if (l->srcName == srcName && l->dstName == dstName) lib = l.get();
      }
      if (lib == nullptr) {
        auto l = std::make_unique<LibraryCopy>();
        l->srcName = srcName;
        l->dstName = dstName;
        l->src = OpenEmbeddedBase(source, String(srcName.c_str()));
        l->dst = OpenEmbeddedBase(destination, String(dstName.c_str()));
        const RecordPattern& sp = l->src->GetRecordPattern();
        const RecordPattern& dp = l->dst->GetRecordPattern();
        for (std::int32_t k = 0; k < dp.Count(); ++k) {
          l->pairs.push_back(FieldNamed(sp, dp[k].name, dp[k].type));
        }
        l->in = std::make_unique<Record>(sp);
        l->out = std::make_unique<Record>(dp);
        l->map.assign(static_cast<std::size_t>(l->src->RecordCount()), -1);
        if (l->src->GetFastAccess() == nullptr) {
          l->src->EnableFastAccess(nullptr);
          l->srcFast = l->src->GetFastAccess() != nullptr;
        }
        if (l->dst->GetFastAccess() == nullptr) {
          l->dst->EnableFastAccess(nullptr);
          l->dstFast = l->dst->GetFastAccess() != nullptr;
        }
        libraries.push_back(std::move(l));
        lib = libraries.back().get();
      }
      fieldLibrary[static_cast<std::size_t>(d)] = lib;
      pattern[d].flags |= kFlagIndexOnly;
    }
    record.Build(pattern);
  }

  // The moves field whose emptiness leaves a game out.
  std::int32_t moves = -1;
  if ((flags & kRepairSkipMask) == kRepairSkipEmpty) {
    for (std::int32_t d = 0; d < pattern.Count(); ++d) {
      if (pattern[d].type == kChessType && UnpackFieldMeaning(pattern[d].name) == kMovesMeaning) {
        moves = d;
        break;
      }
    }
  }
  // Raw game bytes that might encode an empty game are decoded to tell.
  std::unique_ptr<Field> decoder;
  if (moves >= 0 && (pattern[moves].flags & kFlagRawGame) != 0) {
    FieldSpec plain = pattern[moves];
    plain.flags &= ~kFlagRawGame;
    decoder.reset(CreateField(plain));
  }
  auto movesEmpty = [&]() {
    Field& f = record[moves];
    if (decoder == nullptr) return f.IsEmpty() != 0;
    auto& raw = static_cast<ChessField&>(f);
    std::int32_t n = raw.RawLength();
    if (n == 0) return true;
    if (n > kSurelyNotEmpty && raw.RawHasSetup() == 0) return false;
    decoder->Unpack(kNativeBase, raw.RawBytes(), n, String(static_cast<const char*>(nullptr)));
    return decoder->IsEmpty() != 0;
  };

  std::int32_t total = subset != nullptr ? subset->CurLength() : source->RecordCount();
  std::int32_t walked = 0;
  {
    ProgressScope progress(MessageTextPtr(2100), 1);
    std::int32_t r = subset != nullptr ? subset->SeqInitBase(0) : 0;
    for (std::int32_t i = 0; i < total; ++i) {
      if (subset != nullptr && i > 0) r = subset->SeqNext();
      if (r < 0) break;
      ++walked;
      bool read = true;
      try {
        source->Read(subset != nullptr ? r : i, record);
      } catch (const Failure&) {
        read = false;  // reported through Error; the record is left out
      }
      if (read) {
        for (std::size_t d = 0; d < fieldLibrary.size(); ++d) {
          LibraryCopy* lib = fieldLibrary[d];
          if (lib == nullptr) continue;
          Field& f = record[static_cast<std::int32_t>(d)];
          f.SetInt(lib->Translate(f.GetInt()));
        }
        if (moves < 0 || !movesEmpty()) destination->Write(kAppendRecord, record);
      }
      if (ProgressStep(i, total) != 0) break;
    }
    if (subset != nullptr) subset->SeqStop();
  }
  destination->Update();
  return walked;
}

std::int32_t RepairBaseByName(const String& name, std::int32_t type, Base* destination,
                              std::int32_t flags) {
  Base* source = nullptr;
  try {
    source = OpenBase(name, type);
    if (source == nullptr) throw Failure{909};
    std::int32_t n = RepairBase(source, destination, nullptr, flags);
    Base* s = source;
    source = nullptr;
    CloseBase(s);
    return n;
  } catch (...) {
    MessageDialog(MessageTextPtr(2101), 1, kDialogNotice);
    if (source != nullptr) {
      try {
        CloseBase(source);
      } catch (...) {
      }
    }
    return -1;
  }
}

}  // namespace ludrex
