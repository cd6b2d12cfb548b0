#include "search/search.h"

#include <memory>
#include <vector>

#include "base/base.h"
#include "frame/callbacks.h"
#include "record/field.h"
#include "record/pattern.h"
#include "record/record.h"
#include "search/native_tests.h"
#include "search/search_plan.h"
#include "search/subset.h"

namespace ludrex {
namespace {

PositionShortcut g_shortcut = nullptr;

// The first criterion of record named name whose code is type with the criterion bit.
Field* CriterionFor(Record* record, const FieldSpec& spec) {
  if (record == nullptr) return nullptr;
  for (std::int32_t i = 0; i < record->Count(); ++i) {
    Field& c = (*record)[i];
    if (c.TypeCode() == (spec.type | kCriterionBit) && c.Name() == spec.name) return &c;
  }
  return nullptr;
}

}  // namespace

void SetPositionShortcut(PositionShortcut shortcut) { g_shortcut = shortcut; }

std::int32_t SearchBase(Base& base, Subset& subset, Record* a, Record* b, bool nativeTests) {
  // 1. A position the tree answers.
  if (a != nullptr && g_shortcut != nullptr) {
    for (std::int32_t i = 0; i < a->Count(); ++i) {
      if ((*a)[i].TypeCode() != (kChessType | kCriterionBit)) continue;
      if (g_shortcut(base, (*a)[i], subset)) a->RemoveField(i);
      break;
    }
  }
  // 2. Nothing left to test.
  if ((a == nullptr || a->Count() == 0) && (b == nullptr || b->Count() == 0)) {
    ProgressEnd();
    return subset.CurLength();
  }
  // 3. A sorted base's positions become record numbers.
  bool sorted = base.IsSorted() != 0;
  std::unique_ptr<Subset> mapped;
  if (sorted) {
    mapped.reset(Subset::CreateTmp(subset.MaxLength()));
    for (std::int32_t p = subset.SeqInitBase(0); p >= 0; p = subset.SeqNext()) {
      std::int32_t r = base.UnsortedFromSorted(p);
      if (r >= 0 && r < mapped->MaxLength()) mapped->IncludeRange(r, 1);
    }
    subset.SeqStop();
  }
  Subset& working = sorted ? *mapped : subset;

  // 4. The search record: the base's fields that carry a criterion, library fields index-only,
  // each decoding through UnpackAndTest.
  const RecordPattern& pattern = base.GetRecordPattern();
  RecordPattern searchPattern;
  std::vector<Field*> critA, critB;
  for (std::int32_t k = 0; k < pattern.Count(); ++k) {
    Field* ca = CriterionFor(a, pattern[k]);
    Field* cb = CriterionFor(b, pattern[k]);
    if (ca == nullptr && cb == nullptr) continue;
    FieldSpec spec = pattern[k];
    spec.flags |= kFlagIndexOnly;
    searchPattern.Append(spec);
    critA.push_back(ca);
    critB.push_back(cb);
  }
  Record record(searchPattern);
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    Field& f = record[i];
    f.SetDecodeHook(&Field::DecodeAndTest);
    f.SetCriterionA(critA[static_cast<std::size_t>(i)]);
    f.SetCriterionB(critB[static_cast<std::size_t>(i)]);
  }
  CriteriaList list(record);
  if (nativeTests) AttachNativeTests(list);

  // 5, 6. The base's own loop.
  std::int32_t hits = base.Search(&working, &list, 0);

  // 7. Back to positions in key order.
  if (sorted) {
    subset.ExcludeRange(0, subset.MaxLength());
    std::int32_t count = base.RecordCount();
    for (std::int32_t p = 0; p < count && p < subset.MaxLength(); ++p) {
      std::int32_t r = base.UnsortedFromSorted(p);
      if (r >= 0 && r < working.MaxLength() && working.Item(r) != 0) subset.IncludeRange(p, 1);
    }
  }
  return hits;
}

}  // namespace ludrex
