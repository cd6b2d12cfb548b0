#include "search/search_plan.h"

#include <algorithm>

#include "frame/callbacks.h"
#include "frame/error.h"
#include "search/subset.h"

namespace ludrex {

CriteriaList::CriteriaList(Record& record) : record_(record) {
  // The field types that B gives a criterion for: A's criteria of those types are replaced in
  // the B alternative, A's criteria of the other types hold in it too.
  bool typeInB[kFieldTypeCount] = {};
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    const Field& f = record[i];
    std::int32_t t = LowTypeCode(f.TypeCode());
    if (f.CriterionB() != nullptr && t >= 0 && t < kFieldTypeCount) typeInB[t] = true;
  }
  aOnly_.assign(static_cast<std::size_t>(record.Count()), 0);
  native_.resize(static_cast<std::size_t>(record.Count()));
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    const Field& f = record[i];
    std::int32_t t = LowTypeCode(f.TypeCode());
    bool a = f.CriterionA() != nullptr, b = f.CriterionB() != nullptr;
    bool inherited = a && !b && !(t >= 0 && t < kFieldTypeCount && typeInB[t]);
    if (a) hasA_ = true;
    if (b || inherited) hasB_ = true;
    aOnly_[static_cast<std::size_t>(i)] = inherited ? 1 : 0;
  }
}

void CriteriaList::SetNativeTest(std::int32_t i, std::unique_ptr<NativeFieldTest> test) {
  native_.at(static_cast<std::size_t>(i)) = std::move(test);
}

bool CriteriaList::AllNative() const {
  for (const auto& t : native_)
    if (t == nullptr) return false;
  return true;
}

void CriteriaList::Reset() {
  for (std::int32_t i = 0; i < record_.Count(); ++i) record_[i].ResetResults();
}

bool CriteriaList::Matches() const {
  bool allA = true, allB = true;
  for (std::int32_t i = 0; i < record_.Count(); ++i) {
    const Field& f = record_[i];
    if (f.ResultA() == 0) allA = false;
    std::int32_t b = aOnly_[static_cast<std::size_t>(i)] != 0 ? f.ResultA() : f.ResultB();
    if (b == 0) allB = false;
  }
  return (hasA_ && allA) || (hasB_ && allB);
}

SearchProgress::SearchProgress(std::int32_t n)
    : n_(n), granularity_(std::max<std::int32_t>(n / 100, 200)) {
  String title = MessageText(930);
  ProgressBegin(title.Text(), granularity_);
}

SearchProgress::~SearchProgress() { ProgressEnd(); }

bool SearchProgress::Step(std::int32_t done, std::int32_t hits) {
  return ProgressStepEx(done, n_, hits) != 0;
}

std::int32_t SearchRecordByRecord(Subset& set, CriteriaList& criteria,
                                  const std::function<void(std::int32_t, Record&)>& read) {
  std::int32_t n = set.CurLength();
  SearchProgress progress(n);
  std::int32_t done = 0, hits = 0;
  std::int32_t r = set.SeqInitBase(0);
  struct StopScan {
    Subset& s;
    ~StopScan() { s.SeqStop(); }
  } stopScan{set};
  while (r >= 0) {
    if (progress.Step(done, hits)) {
      set.SeqStop();
      set.ExcludeRange(r, set.MaxLength() - r);
      return hits;
    }
    criteria.Reset();
    read(r, criteria.SearchRecord());
    ++done;
    if (criteria.Matches()) {
      ++hits;
      r = set.SeqNext();
    } else {
      r = set.SeqNextExclude();
    }
  }
  return hits;
}

}  // namespace ludrex
