// What a base's record-by-record search works on (the bases implement the loop, so this sits
// below them): a search record whose fields each carry their A and B criteria and decode through
// UnpackAndTest, the rule that combines the fields' results into a verdict for the game, and
// the progress and stop handling every search loop shares.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "record/record.h"

namespace ludrex {

class Subset;

// A field's test compiled for the native format: sets both results of one field from its
// stored bytes exactly as the field's UnpackAndTest would, without setting the field's value (1
// where the field has no such criterion). The search attaches one to each field whose class and
// criteria it knows; a base's own loop may call them in place of decoding through the field.
class NativeFieldTest {
 public:
  virtual ~NativeFieldTest() = default;
  virtual void Test(const std::uint8_t* bytes, std::int32_t length, bool& a, bool& b) const = 0;
};

class CriteriaList {
 public:
  // record: the search record (owned by the caller), its criteria already bound.
  explicit CriteriaList(Record& record);

  Record& SearchRecord() { return record_; }
  // Every field's results back to 1, before a game is decoded.
  void Reset();
  // The verdict from the fields' results: (some A criterion and every result A) or (some B
  // alternative and every result B). In the B alternative a field with an A criterion but no B
  // criterion takes its result A as its result B unless B holds a criterion of the same field
  // type (A = {White, dates}, B = {Black}: the dates hold for both colours, White does not hold
  // for the games found by Black).
  bool Matches() const;
  // Whether any field carries a criterion.
  bool Any() const { return hasA_ || hasB_; }

  // The same verdict from results kept by the caller (raw result B of each field).
  bool MatchesResults(const bool* a, const bool* b) const {
    unsigned allA = 1, allB = 1;
    for (std::size_t i = 0; i < aOnly_.size(); ++i) {
      unsigned inherit = aOnly_[i];
      allA &= static_cast<unsigned>(a[i]);
      allB &= (inherit & static_cast<unsigned>(a[i])) | ((inherit ^ 1u) & static_cast<unsigned>(b[i]));
    }
    return ((static_cast<unsigned>(hasA_) & allA) | (static_cast<unsigned>(hasB_) & allB)) != 0;
  }
  // Native tests: attached per field; NativeTest is null for a field without one.
  void SetNativeTest(std::int32_t i, std::unique_ptr<NativeFieldTest> test);
  const NativeFieldTest* NativeTest(std::int32_t i) const {
    return native_[static_cast<std::size_t>(i)].get();
  }
  // Whether every field has a native test.
  bool AllNative() const;

 private:
  Record& record_;
  std::vector<std::unique_ptr<NativeFieldTest>> native_;
  std::vector<std::uint8_t> aOnly_;  // per field: an A criterion and no B criterion
  bool hasA_ = false;
  bool hasB_ = false;
};

// Progress and stop of a search over n games: title message 930, granularity max(n / 100, 200),
// each game stepped with (games done, n, hits).
class SearchProgress {
 public:
  explicit SearchProgress(std::int32_t n);
  ~SearchProgress();
  SearchProgress(const SearchProgress&) = delete;
  SearchProgress& operator=(const SearchProgress&) = delete;
  // True when the host asks to stop.
  bool Step(std::int32_t done, std::int32_t hits);
  // The granularity: a loop may call Step only when done has advanced this far since the last
  // report (Step reports nothing in between anyway).
  std::int32_t Granularity() const { return granularity_; }

 private:
  std::int32_t n_;
  std::int32_t granularity_;
};

// The shared loop: reads every member of set into the search record through read and keeps the
// members that match; on a stop request the current member and all after it are removed.
// Returns the number of games found.
std::int32_t SearchRecordByRecord(Subset& set, CriteriaList& criteria,
                                  const std::function<void(std::int32_t, Record&)>& read);

}  // namespace ludrex
