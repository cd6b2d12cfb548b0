#include "search/sort.h"

#include <algorithm>
#include <cstring>

#include "base/base.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/files.h"
#include "storage/memory.h"

namespace ludrex {

std::int32_t InsertSorted(SortedSequence& seq, std::int32_t from, std::int32_t to) {
  std::int32_t i = std::max(from, 1);
  while (i <= to) {
    if (seq.Stop(i, to) != 0) break;
    seq.Load(i);
    if (seq.CompareCurrent(i - 1) != -1) {
      ++i;
      continue;
    }
    std::int32_t lo = -1, hi = i - 1;
    while (hi - lo > 1) {
      std::int32_t mid = (lo + hi) / 2;
      if (seq.CompareCurrent(mid) == -1) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
    std::int32_t p = hi;
    std::int32_t count = 1;
    for (std::int32_t j = i + 1; j <= to; ++j) {
      seq.Load(j);
      // Element j joins the block only when it still sorts strictly before the element at p:
      // one equal to it must stay after it, or the sort would not be stable.
      if (seq.CompareCurrent(p) != -1 || seq.CompareCurrent(j - 1) == -1) break;
      ++count;
    }
    seq.Move(i, count, p);
    i += count;
  }
  return seq.Done();
}

namespace {

constexpr std::int32_t kIndexRecord = 12;
constexpr std::int32_t kIndexWindow = 100;   // index records per run reader
constexpr std::int32_t kDataWindow = 10000;  // key bytes per run reader
constexpr std::int32_t kMaxRunKeyBytes = 1000000;

}  // namespace

KeySorter::KeySorter() { OpenFiles(std::string()); }

KeySorter::KeySorter(const std::string& workName) { OpenFiles(workName); }

KeySorter::~KeySorter() = default;

void KeySorter::OpenFiles(const std::string& workName) {
  runFile_ = ArrayHandle(NewFileArray(0, nullptr));
  runFile_->Init(8);
  if (workName.empty()) {
    indexFile_ = ArrayHandle(NewBufArray(NewFileArray(0, nullptr), 1000, 1000));
    dataFile_ = ArrayHandle(NewBufArray(NewFileArray(0, nullptr), 30000, 30000));
  } else {
    indexName_ = workName + ".#si";
    dataName_ = workName + ".#sd";
    indexFile_ = ArrayHandle(NewBufArray(
        NewFileArray(0, indexName_.c_str(), platform::kFlagNone, platform::kAccessReadWrite,
                     platform::kShareRead),
        1000, 1000));
    dataFile_ = ArrayHandle(NewBufArray(
        NewFileArray(0, dataName_.c_str(), platform::kFlagNone, platform::kAccessReadWrite,
                     platform::kShareRead),
        30000, 30000));
  }
  indexFile_->Init(kIndexRecord);
  dataFile_->Init(1);
}

void KeySorter::BeginRuns(std::int32_t capacity) {
  capacity_ = capacity < 1 ? 1 : capacity;
  keyCapacity_ = static_cast<std::int32_t>(std::min<std::int64_t>(
      static_cast<std::int64_t>(capacity_) * 100, kMaxRunKeyBytes));
  pending_.clear();
  pending_.reserve(static_cast<std::size_t>(capacity_));
  keys_.clear();
  keys_.reserve(static_cast<std::size_t>(keyCapacity_));
}

void KeySorter::Add(const std::uint8_t* key, std::int32_t length, std::uint32_t value) {
  if (length < 0) length = 0;
  if (static_cast<std::int32_t>(pending_.size()) >= capacity_ ||
      static_cast<std::int64_t>(keys_.size()) + length > keyCapacity_) {
    WriteRun();
    if (length > keyCapacity_) Raise(923);
  }
  pending_.push_back(Pending{static_cast<std::uint32_t>(keys_.size()),
                             static_cast<std::uint32_t>(length), value});
  keys_.insert(keys_.end(), key, key + length);
}

void KeySorter::WriteRun() {
  // A stable sort gives the order binary insertion would: equal keys in the order added.
  std::stable_sort(pending_.begin(), pending_.end(), [this](const Pending& a, const Pending& b) {
    return CompareBytes(keys_.data() + a.offset, a.length, keys_.data() + b.offset, b.length) < 0;
  });
  std::uint32_t first = static_cast<std::uint32_t>(indexFile_->Count());
  std::int32_t longest = 0;
  std::vector<std::uint8_t> rec(static_cast<std::size_t>(pending_.size()) * kIndexRecord);
  std::int64_t dataAt = dataFile_->Count();
  std::size_t k = 0;
  for (const Pending& p : pending_) {
    if (dataAt > 0x7FFFFFFFLL - p.length) Raise(513);  // the work file's offsets are 32-bit
    std::uint32_t fields[3] = {static_cast<std::uint32_t>(dataAt), p.length, p.value};
    std::memcpy(rec.data() + k * kIndexRecord, fields, kIndexRecord);
    if (p.length > 0) {
      dataFile_->Write(static_cast<std::int32_t>(dataAt), keys_.data() + p.offset,
                       static_cast<std::int32_t>(p.length));
    }
    dataAt += p.length;
    longest = std::max<std::int32_t>(longest, static_cast<std::int32_t>(p.length));
    ++k;
  }
  if (!pending_.empty()) {
    indexFile_->Write(static_cast<std::int32_t>(first), rec.data(),
                      static_cast<std::int32_t>(pending_.size()));
  }
  std::uint32_t run[2] = {first, static_cast<std::uint32_t>(pending_.size())};
  runFile_->Write(runCount_, run, 1);
  ++runCount_;
  keyRoom_ += longest;
  longestKey_ = std::max(longestKey_, longest);
  runLongest_.push_back(longest);
  pending_.clear();
  keys_.clear();
}

void KeySorter::EndRuns() {
  WriteRun();
  std::vector<Pending>().swap(pending_);
  std::vector<std::uint8_t>().swap(keys_);
}

std::int64_t KeySorter::IndexRecords() const { return indexFile_->Count(); }

void KeySorter::BeginMerge() {
  indexFile_->Flush();
  dataFile_->Flush();
  runs_.assign(static_cast<std::size_t>(runCount_), RunReader{});
  buffers_.assign(static_cast<std::size_t>(runCount_), RunBuffers{});
  if (keyRoom_ > 0x7FFFFFFFLL) Raise(923);
  mergeKeys_.assign(static_cast<std::size_t>(keyRoom_), 0);
  heap_.clear();
  std::uint32_t slot = 0;
  for (std::int32_t r = 0; r < runCount_; ++r) {
    std::uint32_t run[2];
    runFile_->Read(r, run, 1);
    RunReader& rr = runs_[static_cast<std::size_t>(r)];
    rr.next = run[0];
    rr.left = run[1];
    rr.slot = slot;
    slot += static_cast<std::uint32_t>(runLongest_[static_cast<std::size_t>(r)]);
  }
  for (std::int32_t r = 0; r < runCount_; ++r) {
    if (runs_[static_cast<std::size_t>(r)].left > 0) LoadNext(r);
  }
}

void KeySorter::LoadNext(std::int32_t r) {
  RunReader& rr = runs_[static_cast<std::size_t>(r)];
  RunBuffers& b = buffers_[static_cast<std::size_t>(r)];
  Array* index = indexFile_->Storage();
  Array* data = dataFile_->Storage();
  if (rr.next < b.indexFirst || rr.next >= b.indexFirst + b.indexCount) {
    std::uint32_t n = std::min<std::uint32_t>(rr.left, kIndexWindow);
    b.index.resize(static_cast<std::size_t>(n) * kIndexRecord);
    index->Read(static_cast<std::int32_t>(rr.next), b.index.data(), static_cast<std::int32_t>(n));
    b.indexFirst = rr.next;
    b.indexCount = n;
  }
  std::uint32_t fields[3];
  std::memcpy(fields, b.index.data() + static_cast<std::size_t>(rr.next - b.indexFirst) * kIndexRecord,
              kIndexRecord);
  std::uint32_t offset = fields[0], length = fields[1];
  if (length > static_cast<std::uint32_t>(runLongest_[static_cast<std::size_t>(r)])) Raise(923);
  std::uint8_t* dst = mergeKeys_.data() + rr.slot;
  if (length > 0) {
    if (offset < b.dataFirst || offset + length > b.dataFirst + b.dataCount) {
      std::int64_t avail = static_cast<std::int64_t>(data->Count()) - offset;
      std::uint32_t n = static_cast<std::uint32_t>(
          std::min<std::int64_t>(std::max<std::int64_t>(kDataWindow, length), avail));
      if (n < length) Raise(512);
      b.data.resize(n);
      data->Read(static_cast<std::int32_t>(offset), b.data.data(), static_cast<std::int32_t>(n));
      b.dataFirst = offset;
      b.dataCount = n;
    }
    std::memcpy(dst, b.data.data() + (offset - b.dataFirst), length);
  }
  rr.length = length;
  rr.value = fields[2];
  rr.next += 1;
  rr.left -= 1;
  HeapPush(r);
}

bool KeySorter::HeapLess(std::int32_t a, std::int32_t b) const {
  const RunReader& x = runs_[static_cast<std::size_t>(a)];
  const RunReader& y = runs_[static_cast<std::size_t>(b)];
  int c = CompareBytes(mergeKeys_.data() + x.slot, x.length, mergeKeys_.data() + y.slot, y.length);
  if (c != 0) return c < 0;
  // Equal keys leave in run order, and each run holds its equal keys in the order they were
  // added: the merge is as stable as the runs.
  return a < b;
}

void KeySorter::HeapPush(std::int32_t run) {
  heap_.push_back(run);
  std::push_heap(heap_.begin(), heap_.end(),
                 [this](std::int32_t a, std::int32_t b) { return HeapLess(b, a); });
}

void KeySorter::HeapPop() {
  std::pop_heap(heap_.begin(), heap_.end(),
                [this](std::int32_t a, std::int32_t b) { return HeapLess(b, a); });
  heap_.pop_back();
}

const std::uint8_t* KeySorter::CurrentKey() const {
  return mergeKeys_.data() + runs_[static_cast<std::size_t>(heap_.front())].slot;
}
std::int32_t KeySorter::CurrentLength() const {
  return static_cast<std::int32_t>(runs_[static_cast<std::size_t>(heap_.front())].length);
}
std::uint32_t KeySorter::CurrentValue() const {
  return runs_[static_cast<std::size_t>(heap_.front())].value;
}

void KeySorter::Next() {
  if (heap_.empty()) return;
  std::int32_t r = heap_.front();
  HeapPop();
  if (runs_[static_cast<std::size_t>(r)].left > 0) LoadNext(r);
}

void KeySorter::EndMerge() {
  heap_.clear();
  runs_.clear();
  buffers_.clear();
  std::vector<std::uint8_t>().swap(mergeKeys_);
}

}  // namespace ludrex

namespace ludrex {
namespace {

// Ends a progress report on every way out.
struct ProgressGuard {
  bool on = false;
  void Begin(std::uint32_t code, std::int32_t granularity) {
    End();
    ProgressBegin(MessageTextPtr(code), granularity);
    on = true;
  }
  void End() {
    if (on) ProgressEnd();
    on = false;
  }
  ~ProgressGuard() { End(); }
};

}  // namespace

std::int32_t SortSubset(Base* base, std::int32_t* out, Subset* subset, const RecordPattern& pattern) {
  if (pattern.Count() == 0) return 1;
  std::int64_t records = base->RecordCount();
  auto refuse = [] {
    ProgressBegin("", 1);
    ProgressEnd();
    return 0;
  };
  if (!AskSpaceForTemp(12 * records)) return refuse();
  std::string workName;  // empty: temporary work files
  const std::int64_t need = 93 * records;
  if (FreeSpaceTemp() < static_cast<std::uint64_t>(need)) {
    BaseInfo info;
    base->GetInfo(info);
    std::string full(info.fullName.Text(), info.fullName.Length());
    if (!full.empty() && FreeSpaceFor(full.c_str()) >= static_cast<std::uint64_t>(need)) {
      workName = full;
    } else if (!SpaceQuestion(need, 926, FreeSpaceTemp())) {
      return refuse();
    }
  }

  Record record(pattern);
  ProgressGuard progress;
  progress.Begin(939, 1000);
  std::int32_t total = subset->CurLength();
  if (total == 0) return 1;

  record.LinkToBase(base);
  base->Read(0, record);
  // In a native base a library field sorts by the position of its library record in the
  // library's key order, read from the record number alone; a game score stays undecoded.
  std::vector<std::vector<std::int32_t>> tables;
  if (base->Type() == 0) {
    std::vector<std::pair<Base*, std::size_t>> libraries;
    for (std::int32_t i = 0; i < record.Count(); ++i) {
      Field& f = record[i];
      if (f.TypeCode() == 4) f.SetFlags(f.Flags() | kFlagRawGame);
      if (f.TypeCode() != 0) continue;
      f.SetFlags(f.Flags() | kFlagIndexOnly);
      auto& lib = static_cast<LibRefField&>(f);
      Base* library = lib.OpenLibrary();
      if (library == nullptr || !library->IsSorted()) continue;
      std::size_t t = tables.size();
      for (auto& [b, index] : libraries) {
        if (b == library) t = index;
      }
      if (t == tables.size()) {
        std::int32_t n = library->RecordCount();
        tables.emplace_back(static_cast<std::size_t>(n), 0);
        for (std::int32_t k = 0; k < n; ++k) {
          std::int32_t r = library->UnsortedFromSorted(k);
          if (r >= 0 && r < n) tables.back()[static_cast<std::size_t>(r)] = k;
        }
        libraries.emplace_back(library, t);
      }
      lib.SetKeyTable(tables[t].data(), static_cast<std::int32_t>(tables[t].size()));
    }
  }

  RecordPattern fast = record.Pattern();
  base->EnableFastAccess(&fast);
  struct FastOff {
    Base* base;
    ~FastOff() { base->DisableFastAccess(); }
  } fastOff{base};
  std::unique_ptr<KeySorter> sorter(workName.empty() ? new KeySorter() : new KeySorter(workName));
  sorter->BeginRuns(10000);
  bool stopped = false;
  std::uint8_t key[500];
  std::int32_t done = 0;
  for (std::int32_t r = subset->SeqInitBase(0); r >= 0; r = subset->SeqNext()) {
    if (ProgressStep(done, total) != 0) {
      stopped = true;
      break;
    }
    base->Read(r, record);
    std::int32_t length = record.PutKey(key, sizeof key);
    if (length < 0) Raise(0);  // a key longer than the sort allows
    sorter->Add(key, length, static_cast<std::uint32_t>(r));
    ++done;
  }
  sorter->EndRuns();
  subset->SeqStop();
  if (stopped) return 0;

  progress.Begin(940, 5000);
  sorter->BeginMerge();
  for (std::int32_t i = 0; sorter->HasNext(); ++i) {
    if (ProgressStep(i, total) != 0) {
      stopped = true;
      break;
    }
    out[i] = static_cast<std::int32_t>(sorter->CurrentValue());
    sorter->Next();
  }
  sorter->EndMerge();
  return stopped ? 0 : 1;
}

}  // namespace ludrex
