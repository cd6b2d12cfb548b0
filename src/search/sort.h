// Sorting: the stable binary insertion over any sorted sequence, the external key sorter (sorted
// runs in work files, then a merge), and the sort of a subset by chosen fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/array.h"

namespace ludrex {

class Base;
class RecordPattern;
class Subset;

// A sequence of elements by position with one current element held aside.
class SortedSequence {
 public:
  virtual ~SortedSequence() = default;
  // Makes element i the current element.
  virtual void Load(std::int32_t i) = 0;
  // Called once when an insertion pass ends; InsertSorted returns its result.
  virtual std::int32_t Done() = 0;
  // -1 when the current element sorts before element i, 0 when equal, 1 when after.
  virtual int CompareCurrent(std::int32_t i) = 0;
  // Moves the count elements at from so that they start at to, shifting those in between.
  virtual void Move(std::int32_t from, std::int32_t count, std::int32_t to) = 0;
  // Nonzero ends the pass early.
  virtual int Stop(std::int32_t i, std::int32_t to) = 0;
};

// Stable binary insertion of elements [max(from, 1), to] into the sorted elements before them;
// runs of elements that go to the same place move as one block. Returns Done().
std::int32_t InsertSorted(SortedSequence& sequence, std::int32_t from, std::int32_t to);

// External sort of (key bytes, 32-bit value) pairs: keys compare as unsigned bytes, a prefix
// first; equal keys come out in the order they were added, also across runs.
class KeySorter {
 public:
  // Work files are temporary, or, with a name, the index and data files are name + ".#si" and
  // name + ".#sd" and stay after the sort.
  KeySorter();
  explicit KeySorter(const std::string& workName);
  ~KeySorter();
  KeySorter(const KeySorter&) = delete;
  KeySorter& operator=(const KeySorter&) = delete;

  // Runs of up to capacity entries and capacity * 100 key bytes (at most 1000000).
  void BeginRuns(std::int32_t capacity);
  // 923 when a key cannot be placed even in an empty run.
  void Add(const std::uint8_t* key, std::int32_t length, std::uint32_t value);
  void EndRuns();

  void BeginMerge();
  bool HasNext() const { return !heap_.empty(); }
  // The first pair in key order.
  const std::uint8_t* CurrentKey() const;
  std::int32_t CurrentLength() const;
  std::uint32_t CurrentValue() const;
  void Next();
  void EndMerge();

  std::int32_t RunCount() const { return runCount_; }
  std::int64_t IndexRecords() const;

 private:
  struct Pending {
    std::uint32_t offset;  // in the key buffer
    std::uint32_t length;
    std::uint32_t value;
  };
  struct RunReader {
    std::uint32_t next;  // next index record
    std::uint32_t left;  // index records left
    std::uint32_t slot;  // offset of its key in the merge key buffer
    std::uint32_t length;
    std::uint32_t value;
  };
  // Each run's own windows on the index and data files: the merge reads every run
  // sequentially through two file handles, whatever the number of runs.
  struct RunBuffers {
    std::vector<std::uint8_t> index;
    std::uint32_t indexFirst = 0;  // first index record in the buffer
    std::uint32_t indexCount = 0;
    std::vector<std::uint8_t> data;
    std::uint32_t dataFirst = 0;  // file offset of data[0]
    std::uint32_t dataCount = 0;
  };
  void OpenFiles(const std::string& workName);
  void WriteRun();
  void LoadNext(std::int32_t run);
  bool HeapLess(std::int32_t a, std::int32_t b) const;
  void HeapPush(std::int32_t run);
  void HeapPop();

  ArrayHandle runFile_, indexFile_, dataFile_;
  std::string indexName_, dataName_;
  std::int32_t capacity_ = 0;
  std::int32_t keyCapacity_ = 0;
  std::vector<Pending> pending_;
  std::vector<std::uint8_t> keys_;
  std::int32_t runCount_ = 0;
  std::int64_t keyRoom_ = 0;
  std::int32_t longestKey_ = 0;
  std::vector<std::int32_t> runLongest_;
  // Merge state.
  std::vector<RunReader> runs_;
  std::vector<RunBuffers> buffers_;
  std::vector<std::uint8_t> mergeKeys_;
  std::vector<std::int32_t> heap_;
};

// Puts the members of subset into the order of the key made of pattern's fields and writes the
// record numbers to out (room for the subset's member count). 1 on success, 0 when stopped or
// refused for lack of space.
std::int32_t SortSubset(Base* base, std::int32_t* out, Subset* subset, const RecordPattern& pattern);

}  // namespace ludrex
