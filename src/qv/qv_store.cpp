#include "qv/qv_store.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "platform/files.h"
#include "qv/qv_key.h"

namespace ludrex::qv {
namespace {

namespace pf = ludrex::platform;

constexpr char kEntriesMark[8] = {'L', 'X', 'Q', 'V', 'E', 'N', 'T', '1'};
constexpr char kDirectoryMark[8] = {'L', 'X', 'Q', 'V', 'D', 'I', 'R', '1'};
constexpr std::uint32_t kFormat = 1;
constexpr std::size_t kEntriesHeader = 16;
constexpr std::size_t kDirectoryHeader = 32;
constexpr std::uint32_t kLast = 0x80000000u;
constexpr unsigned kMaxBucketBits = 30;
// A bucket larger than this is taken for damage (a single key's value of 64 million entries).
constexpr std::uint64_t kMaxBucketBytes = std::uint64_t{1} << 28;

// Numbers in the files are little-endian, as both targets are.
static_assert(std::endian::native == std::endian::little);
void Put32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }
void Put64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, 8); }
std::uint32_t Get32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
std::uint64_t Get64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// name + ext + the digit of the base type code (no digit for a negative code).
std::string FileName(const char* name, const char* ext, int typeCode) {
  std::string s = name;
  s += ext;
  if (typeCode >= 0) s += static_cast<char>('0' + (typeCode & 0xFF) % 10);
  return s;
}

// Writes a file front to back through a large buffer.
class SeqWriter {
 public:
  bool Open(const std::string& name) {
    name_ = name;
    file_ = pf::OpenFileHandle(name.c_str(), pf::OpenMode::kCreateAlways, pf::kAccessReadWrite,
                               pf::kShareExclusive, pf::kFlagSequential);
    buffer_.reserve(1 << 20);
    return file_ != nullptr;
  }
  ~SeqWriter() { Close(); }
  void Write(const void* data, std::size_t n) {
    if (buffer_.size() + n > buffer_.capacity()) Flush();
    if (n >= buffer_.capacity()) {
      ok_ = ok_ && pf::WriteAt(file_, pos_, data, n);
      pos_ += static_cast<std::int64_t>(n);
      return;
    }
    auto p = static_cast<const std::uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + n);
  }
  void Write8(std::uint8_t v) { Write(&v, 1); }
  void Write32(std::uint32_t v) {
    std::uint8_t b[4];
    Put32(b, v);
    Write(b, 4);
  }
  void Write64(std::uint64_t v) {
    std::uint8_t b[8];
    Put64(b, v);
    Write(b, 8);
  }
  // Bytes written so far (buffered or not).
  std::uint64_t Position() const { return static_cast<std::uint64_t>(pos_) + buffer_.size(); }
  // Writes bytes at an earlier place (a header filled in at the end).
  void Patch(std::int64_t at, const void* data, std::size_t n) {
    Flush();
    ok_ = ok_ && pf::WriteAt(file_, at, data, n);
  }
  void Flush() {
    if (!buffer_.empty() && file_ != nullptr) {
      ok_ = ok_ && pf::WriteAt(file_, pos_, buffer_.data(), buffer_.size());
      pos_ += static_cast<std::int64_t>(buffer_.size());
    }
    buffer_.clear();
  }
  bool Close() {
    if (file_ == nullptr) return ok_;
    Flush();
    ok_ = pf::CloseFileHandle(file_) && ok_;
    file_ = nullptr;
    return ok_;
  }
  bool ok() const { return ok_ && file_ != nullptr; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  pf::FileHandle file_ = nullptr;
  std::vector<std::uint8_t> buffer_;
  std::int64_t pos_ = 0;
  bool ok_ = true;
};

// Reads a file front to back through a buffer; Need(n) makes n bytes available at Data().
class SeqReader {
 public:
  ~SeqReader() { Close(); }
  bool Open(const std::string& name, std::int64_t start, std::size_t chunk) {
    file_ = pf::OpenFileHandle(name.c_str(), pf::OpenMode::kOpenExisting, pf::kAccessRead,
                               pf::kShareRead, pf::kFlagSequential);
    if (file_ == nullptr || !pf::GetFileLength(file_, &length_)) return false;
    pos_ = start;
    chunk_ = chunk;
    return true;
  }
  void Close() {
    if (file_ != nullptr) pf::CloseFileHandle(file_);
    file_ = nullptr;
  }
  // False when fewer than n bytes remain in the file or reading fails.
  bool Need(std::size_t n) {
    if (end_ - begin_ >= n) return true;
    if (static_cast<std::uint64_t>(length_ - pos_) + (end_ - begin_) < n) return false;
    if (end_ > begin_) std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    std::size_t want = std::max(n, chunk_);
    if (buffer_.size() < want) buffer_.resize(want);
    std::size_t room = buffer_.size() - end_;
    std::size_t take = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(room), length_ - pos_));
    if (take > 0 && !pf::ReadAt(file_, pos_, buffer_.data() + end_, take)) return false;
    pos_ += static_cast<std::int64_t>(take);
    end_ += take;
    return end_ - begin_ >= n;
  }
  const std::uint8_t* Data() const { return buffer_.data() + begin_; }
  void Skip(std::size_t n) { begin_ += n; }
  bool AtEnd() const { return begin_ == end_ && pos_ >= length_; }

 private:
  pf::FileHandle file_ = nullptr;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0, end_ = 0, chunk_ = 1 << 16;
  std::int64_t pos_ = 0, length_ = 0;
};

// One key with its value, as runs and the merge carry them.
struct Item {
  std::uint64_t hash = 0;
  std::uint8_t keyLength = 0;
  std::uint8_t key[kMaxKeyLength] = {};
  std::vector<std::uint32_t> entries;
};

bool KeyLess(std::uint64_t ha, const std::uint8_t* ka, std::size_t la, std::uint64_t hb,
             const std::uint8_t* kb, std::size_t lb) {
  if (ha != hb) return ha < hb;
  int c = std::memcmp(ka, kb, std::min(la, lb));
  if (c != 0) return c < 0;
  return la < lb;
}

// Reads the records of one run: u64 hash, u8 key length, key, u32 count, entries.
class RunReader {
 public:
  bool Open(const std::string& name) { return in_.Open(name, 0, 1 << 16); }
  // Reads the next record into item; false at the end or on a damaged run.
  bool Next(Item& item) {
    if (!in_.Need(9)) return false;
    item.hash = Get64(in_.Data());
    item.keyLength = in_.Data()[8];
    if (item.keyLength > kMaxKeyLength) return false;
    in_.Skip(9);
    if (!in_.Need(item.keyLength + 4u)) return false;
    std::memcpy(item.key, in_.Data(), item.keyLength);
    std::uint32_t n = Get32(in_.Data() + item.keyLength);
    in_.Skip(item.keyLength + 4u);
    if (!in_.Need(std::size_t{n} * 4)) return false;
    item.entries.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) item.entries[i] = Get32(in_.Data() + 4 * i);
    in_.Skip(std::size_t{n} * 4);
    return true;
  }

 private:
  SeqReader in_;
};

unsigned BucketBits(std::uint64_t keys) {
  unsigned bits = 0;
  while (bits < kMaxBucketBits && (std::uint64_t{1} << bits) * 4 < keys) ++bits;
  return bits;
}

std::uint64_t BucketOf(std::uint64_t hash, unsigned bits) {
  return bits == 0 ? 0 : hash >> (64 - bits);
}

}  // namespace

class QvStore {
 public:
  virtual ~QvStore() = default;
  virtual bool building() const = 0;
  bool damaged = false;
};

namespace {

// The builder. Its buffer (arena) holds records laid out as
//   +0 u64 hash, +8 u32 entry count, +12 u32 capacity in entries, +16 u8 key length,
//   +17 u8 dead flag, +18 key, then (4-aligned) the entries;
// an open-addressing index maps a key to its live record. A record outgrowing its capacity moves
// to the end of the arena with twice the room and the old one is marked dead.
class Builder final : public QvStore {
 public:
  Builder(std::string name, std::uint32_t budget, int typeCode, const char* entriesExt,
          const char* directoryExt)
      : name_(std::move(name)),
        budget_(std::max<std::uint64_t>(budget, 1 << 16)),
        entriesName_(FileName(name_.c_str(), entriesExt, typeCode)),
        directoryName_(FileName(name_.c_str(), directoryExt, typeCode)) {
    index_.assign(1024, 0);
  }
  ~Builder() override {
    for (const auto& run : runs_) pf::RemoveFileEntry(run.c_str());
  }
  bool building() const override { return true; }

  int Insert(const std::uint8_t* key, std::size_t length) {
    if (length == 0 || length > kMaxKeyLength) return -1;
    std::uint64_t hash = QvHashKey(key, length);
    std::size_t slot = Find(hash, key, length);
    if (index_[slot] != 0) {
      current_ = Offset(index_[slot]);
      return 0;
    }
    if (!Room(Size(length, 1))) {
      if (!Spill()) return -1;
      slot = Find(hash, key, length);
    }
    current_ = NewRecord(hash, key, length, 1);
    index_[slot] = Slot(hash, current_);
    ++live_;
    GrowIndexIfFull();
    return 1;
  }

  const std::uint8_t* Fetch(const std::uint8_t* key, std::size_t length, std::uint32_t* bytes) {
    if (length == 0 || length > kMaxKeyLength) return nullptr;
    std::size_t slot = Find(QvHashKey(key, length), key, length);
    if (index_[slot] == 0) return nullptr;
    std::size_t r = Offset(index_[slot]);
    if (bytes != nullptr) *bytes = Count(r) * 4;
    return arena_.data() + Entries(r);
  }

  bool SetValue(const void* data, std::uint32_t bytes) {
    if (current_ == kNone || bytes % 4 != 0) return false;
    std::uint32_t n = bytes / 4;
    if (!Reserve(n)) return false;
    std::memcpy(arena_.data() + Entries(current_), data, bytes);
    Put32(&arena_[current_ + 8], n);
    return true;
  }

  // Raw values: runs of 32-bit words that the merge concatenates as they are (the statistics
  // store keeps its own items in them).
  void SetRaw() { raw_ = true; }

  // Appends n bytes (a multiple of 4) to the value of the current key.
  bool AppendRaw(const void* data, std::uint32_t bytes) {
    if (current_ == kNone || bytes % 4 != 0) return false;
    std::uint32_t n = Count(current_);
    if (!Reserve(n + bytes / 4)) return false;
    std::memcpy(arena_.data() + Entries(current_) + std::size_t{n} * 4, data, bytes);
    Put32(&arena_[current_ + 8], n + bytes / 4);
    return true;
  }

  bool Add(const std::uint8_t* key, std::size_t length, std::uint32_t reference) {
    if (Insert(key, length) < 0) return false;
    std::uint32_t n = Count(current_);
    if (!Reserve(n + 1)) return false;
    std::uint8_t* e = arena_.data() + Entries(current_);
    if (n > 0) Put32(e + 4 * (n - 1), Get32(e + 4 * (n - 1)) & ~kLast);
    Put32(e + 4 * n, (reference & ~kLast) | kLast);
    Put32(&arena_[current_ + 8], n + 1);
    return true;
  }

  std::uint32_t KeyCount() const { return static_cast<std::uint32_t>(written_ + live_); }

  // Writes the final pair; false (and nothing left behind) on failure.
  bool Finish() {
    bool ok = runs_.empty() ? WriteFinal() : (Spill() && MergeRuns());
    if (!ok) {
      pf::RemoveFileEntry(entriesName_.c_str());
      pf::RemoveFileEntry(directoryName_.c_str());
    }
    return ok;
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  static std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }
  static std::size_t Size(std::size_t keyLength, std::uint32_t capacity) {
    return Align4(18 + keyLength) + std::size_t{capacity} * 4;
  }
  std::uint64_t Hash(std::size_t r) const { return Get64(&arena_[r]); }
  std::uint32_t Count(std::size_t r) const { return Get32(&arena_[r + 8]); }
  std::uint32_t Capacity(std::size_t r) const { return Get32(&arena_[r + 12]); }
  std::size_t KeyLength(std::size_t r) const { return arena_[r + 16]; }
  const std::uint8_t* Key(std::size_t r) const { return &arena_[r + 18]; }
  std::size_t Entries(std::size_t r) const { return r + Align4(18 + KeyLength(r)); }

  bool Room(std::size_t more) const {
    return arena_.size() + more + index_.size() * 8 <= budget_ || arena_.empty();
  }

  std::size_t NewRecord(std::uint64_t hash, const std::uint8_t* key, std::size_t length,
                        std::uint32_t capacity) {
    std::size_t r = arena_.size();
    arena_.resize(r + Size(length, capacity));
    Put64(&arena_[r], hash);
    Put32(&arena_[r + 8], 0);
    Put32(&arena_[r + 12], capacity);
    arena_[r + 16] = static_cast<std::uint8_t>(length);
    arena_[r + 17] = 0;
    std::memcpy(&arena_[r + 18], key, length);
    return r;
  }

  // Makes room for n entries in the current record, moving it when it is too small (and spilling
  // the buffer first when the move does not fit; the key then starts afresh in the new buffer).
  bool Reserve(std::uint32_t n) {
    if (Capacity(current_) >= n) return true;
    std::uint32_t capacity = std::max<std::uint32_t>(n, Capacity(current_) * 2);
    std::size_t length = KeyLength(current_);
    if (!Room(Size(length, capacity))) {
      // Keep the current value across the spill: it belongs to the current key.
      std::vector<std::uint8_t> keep(Count(current_) * 4);
      std::memcpy(keep.data(), arena_.data() + Entries(current_), keep.size());
      std::uint8_t key[kMaxKeyLength];
      std::memcpy(key, Key(current_), length);
      std::uint64_t hash = Hash(current_);
      arena_[current_ + 17] = 1;  // its entries now travel with the new record
      --live_;
      if (!Spill()) return false;
      std::size_t slot = Find(hash, key, length);
      current_ = NewRecord(hash, key, length, capacity);
      std::memcpy(arena_.data() + Entries(current_), keep.data(), keep.size());
      Put32(&arena_[current_ + 8], static_cast<std::uint32_t>(keep.size() / 4));
      index_[slot] = Slot(hash, current_);
      ++live_;
      return true;
    }
    std::size_t slot = Find(Hash(current_), Key(current_), length);
    std::size_t old = current_;
    std::uint8_t key[kMaxKeyLength];  // the arena may move when the new record is made
    std::memcpy(key, Key(old), length);
    std::size_t r = NewRecord(Hash(old), key, length, capacity);
    std::memcpy(&arena_[Entries(r)], &arena_[Entries(old)], std::size_t{Count(old)} * 4);
    Put32(&arena_[r + 8], Count(old));
    arena_[old + 17] = 1;
    index_[slot] = Slot(Hash(r), r);
    current_ = r;
    return true;
  }

  // Index slots hold the top 32 bits of the key's hash and the record's offset + 1 (0: empty),
  // so that a probe rarely touches the arena.
  static std::uint64_t Slot(std::uint64_t hash, std::size_t record) {
    return (hash & 0xFFFFFFFF00000000ull) | static_cast<std::uint32_t>(record + 1);
  }
  static std::size_t Offset(std::uint64_t slot) { return (slot & 0xFFFFFFFFu) - 1; }

  std::size_t Find(std::uint64_t hash, const std::uint8_t* key, std::size_t length) const {
    std::size_t mask = index_.size() - 1;
    std::uint64_t tag = hash & 0xFFFFFFFF00000000ull;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      std::uint64_t v = index_[i];
      if (v == 0) return i;
      if ((v & 0xFFFFFFFF00000000ull) != tag) continue;
      std::size_t r = Offset(v);
      if (Hash(r) == hash && KeyLength(r) == length && std::memcmp(Key(r), key, length) == 0) {
        return i;
      }
    }
  }

  void GrowIndexIfFull() {
    if (live_ * 2 < index_.size()) return;
    std::vector<std::uint64_t> old(index_.size() * 2, 0);
    old.swap(index_);
    std::size_t mask = index_.size() - 1;
    for (std::uint64_t v : old) {
      if (v == 0) continue;
      std::size_t i = Hash(Offset(v)) & mask;
      while (index_[i] != 0) i = (i + 1) & mask;
      index_[i] = v;
    }
  }

  // The live records of the buffer in store order.
  std::vector<std::size_t> SortedRecords() const {
    std::vector<std::pair<std::uint64_t, std::size_t>> order;
    order.reserve(live_);
    for (std::size_t r = 0; r < arena_.size(); r += Size(KeyLength(r), Capacity(r))) {
      if (arena_[r + 17] == 0) order.emplace_back(Hash(r), r);
    }
    std::sort(order.begin(), order.end(), [this](const auto& a, const auto& b) {
      if (a.first != b.first) return a.first < b.first;
      return KeyLess(a.first, Key(a.second), KeyLength(a.second), b.first, Key(b.second),
                     KeyLength(b.second));
    });
    std::vector<std::size_t> records(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) records[i] = order[i].second;
    return records;
  }

  // Writes the buffer as a sorted run to a work file beside the store and empties it.
  bool Spill() {
    if (live_ == 0) return true;
    std::string runName = entriesName_ + ".r" + std::to_string(runs_.size());
    runs_.push_back(runName);
    SeqWriter out;
    if (!out.Open(runName)) return false;
    for (std::size_t r : SortedRecords()) {
      out.Write64(Hash(r));
      out.Write8(static_cast<std::uint8_t>(KeyLength(r)));
      out.Write(Key(r), KeyLength(r));
      out.Write32(Count(r));
      out.Write(&arena_[Entries(r)], std::size_t{Count(r)} * 4);
    }
    if (!out.Close()) return false;
    written_ += live_;
    arena_.clear();
    arena_.shrink_to_fit();
    std::fill(index_.begin(), index_.end(), 0);
    live_ = 0;
    current_ = kNone;
    return true;
  }

  // The final pair's writer: entries in store order, the directory's offsets as buckets pass.
  class PairWriter {
   public:
    PairWriter(const std::string& entries, const std::string& directory, std::uint64_t maxKeys)
        : bits_(BucketBits(maxKeys)) {
      ok_ = entries_.Open(entries) && directory_.Open(directory);
      std::uint8_t head[kDirectoryHeader] = {};
      entries_.Write(kEntriesMark, 8);
      entries_.Write64(0);
      directory_.Write(head, sizeof head);
    }
    void Put(std::uint64_t hash, const std::uint8_t* key, std::size_t length,
             const std::uint8_t* entries, std::uint32_t count) {
      Advance(BucketOf(hash, bits_));
      entries_.Write8(static_cast<std::uint8_t>(length));
      entries_.Write(key, length);
      entries_.Write32(count);
      entries_.Write(entries, std::size_t{count} * 4);
      ++keys_;
    }
    bool Finish() {
      Advance(std::uint64_t{1} << bits_);
      std::uint64_t length = entries_.Position();
      std::uint8_t count[8];
      Put64(count, keys_);
      entries_.Patch(8, count, 8);
      std::uint8_t head[kDirectoryHeader] = {};
      std::memcpy(head, kDirectoryMark, 8);
      Put32(head + 8, kFormat);
      Put32(head + 12, bits_);
      Put64(head + 16, keys_);
      Put64(head + 24, length);
      directory_.Patch(0, head, sizeof head);
      return entries_.Close() && directory_.Close() && ok_;
    }

   private:
    // Writes the start offsets of the buckets up to and including bucket.
    void Advance(std::uint64_t bucket) {
      while (next_ <= bucket) {
        directory_.Write64(entries_.Position());
        ++next_;
      }
    }
    unsigned bits_;
    SeqWriter entries_, directory_;
    std::uint64_t next_ = 0, keys_ = 0;
    bool ok_ = false;
  };

  bool WriteFinal() {
    PairWriter out(entriesName_, directoryName_, live_);
    for (std::size_t r : SortedRecords()) {
      out.Put(Hash(r), Key(r), KeyLength(r), &arena_[Entries(r)], Count(r));
    }
    return out.Finish();
  }

  bool MergeRuns() {
    std::vector<std::unique_ptr<RunReader>> readers;
    std::vector<Item> heads(runs_.size());
    for (const auto& run : runs_) {
      readers.push_back(std::make_unique<RunReader>());
      if (!readers.back()->Open(run)) return false;
    }
    // Heap of run numbers ordered by their head's key, then by run number, so that the values of
    // one key come out in the order the runs were written.
    auto later = [&heads](std::size_t a, std::size_t b) {
      const Item& x = heads[a];
      const Item& y = heads[b];
      if (x.hash == y.hash && x.keyLength == y.keyLength &&
          std::memcmp(x.key, y.key, x.keyLength) == 0) {
        return a > b;
      }
      return KeyLess(y.hash, y.key, y.keyLength, x.hash, x.key, x.keyLength);
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> heap(later);
    for (std::size_t i = 0; i < readers.size(); ++i) {
      if (readers[i]->Next(heads[i])) heap.push(i);
    }
    PairWriter out(entriesName_, directoryName_, written_);
    Item merged;
    std::vector<std::uint8_t> bytes;
    while (!heap.empty()) {
      std::size_t i = heap.top();
      heap.pop();
      merged.hash = heads[i].hash;
      merged.keyLength = heads[i].keyLength;
      std::memcpy(merged.key, heads[i].key, merged.keyLength);
      merged.entries.swap(heads[i].entries);
      if (readers[i]->Next(heads[i])) heap.push(i);
      while (!heap.empty()) {
        std::size_t j = heap.top();
        const Item& h = heads[j];
        if (h.hash != merged.hash || h.keyLength != merged.keyLength ||
            std::memcmp(h.key, merged.key, merged.keyLength) != 0) {
          break;
        }
        heap.pop();
        if (!merged.entries.empty() && !raw_) merged.entries.back() &= ~kLast;
        merged.entries.insert(merged.entries.end(), h.entries.begin(), h.entries.end());
        if (readers[j]->Next(heads[j])) heap.push(j);
      }
      bytes.resize(merged.entries.size() * 4);
      for (std::size_t k = 0; k < merged.entries.size(); ++k) Put32(&bytes[4 * k], merged.entries[k]);
      out.Put(merged.hash, merged.key, merged.keyLength, bytes.data(),
              static_cast<std::uint32_t>(merged.entries.size()));
    }
    return out.Finish();
  }

  std::string name_;
  std::uint64_t budget_;
  std::string entriesName_, directoryName_;
  std::vector<std::uint8_t> arena_;
  std::vector<std::uint64_t> index_;
  std::vector<std::string> runs_;
  std::size_t live_ = 0;
  std::uint64_t written_ = 0;
  std::size_t current_ = kNone;
  bool raw_ = false;
};

// A store opened for reading.
class Reader final : public QvStore {
 public:
  ~Reader() override {
    if (entries_ != nullptr) pf::CloseFileHandle(entries_);
    if (directory_ != nullptr) pf::CloseFileHandle(directory_);
  }
  bool building() const override { return false; }

  bool Open(const std::string& entries, const std::string& directory, std::uint32_t cache) {
    entriesName_ = entries;
    cache_ = std::max<std::size_t>(cache, 1 << 16);
    directory_ = pf::OpenFileHandle(directory.c_str(), pf::OpenMode::kOpenExisting,
                                    pf::kAccessRead, pf::kShareRead, pf::kFlagRandom);
    entries_ = pf::OpenFileHandle(entries.c_str(), pf::OpenMode::kOpenExisting, pf::kAccessRead,
                                  pf::kShareRead, pf::kFlagRandom);
    if (directory_ == nullptr || entries_ == nullptr) return false;
    std::uint8_t head[kDirectoryHeader];
    std::uint8_t ehead[kEntriesHeader];
    std::int64_t dirLength = 0, entLength = 0;
    if (!pf::GetFileLength(directory_, &dirLength) || !pf::GetFileLength(entries_, &entLength) ||
        !pf::ReadAt(directory_, 0, head, sizeof head) ||
        !pf::ReadAt(entries_, 0, ehead, sizeof ehead)) {
      return false;
    }
    if (std::memcmp(head, kDirectoryMark, 8) != 0 || Get32(head + 8) != kFormat ||
        std::memcmp(ehead, kEntriesMark, 8) != 0) {
      return false;
    }
    bits_ = Get32(head + 12);
    keys_ = Get64(head + 16);
    length_ = Get64(head + 24);
    if (bits_ > kMaxBucketBits || Get64(ehead + 8) != keys_ ||
        length_ != static_cast<std::uint64_t>(entLength) || keys_ > 0xFFFFFFFFull ||
        static_cast<std::uint64_t>(dirLength) !=
            kDirectoryHeader + ((std::uint64_t{1} << bits_) + 1) * 8) {
      return false;
    }
    return true;
  }

  const std::uint8_t* Fetch(const std::uint8_t* key, std::size_t length, std::uint32_t* bytes) {
    if (length == 0 || length > kMaxKeyLength) return nullptr;
    std::uint64_t bucket = BucketOf(QvHashKey(key, length), bits_);
    std::uint8_t range[16];
    if (!pf::ReadAt(directory_, static_cast<std::int64_t>(kDirectoryHeader + bucket * 8), range,
                    16)) {
      return Damage();
    }
    std::uint64_t start = Get64(range), end = Get64(range + 8);
    if (start < kEntriesHeader || start > end || end > length_ || end - start > kMaxBucketBytes) {
      return Damage();
    }
    buffer_.resize(static_cast<std::size_t>(end - start));
    if (!buffer_.empty() && !pf::ReadAt(entries_, static_cast<std::int64_t>(start),
                                        buffer_.data(), buffer_.size())) {
      return Damage();
    }
    std::size_t at = 0;
    while (at < buffer_.size()) {
      std::size_t kl = buffer_[at];
      if (kl > kMaxKeyLength || at + 1 + kl + 4 > buffer_.size()) return Damage();
      const std::uint8_t* k = &buffer_[at + 1];
      std::uint32_t n = Get32(k + kl);
      std::size_t values = at + 1 + kl + 4;
      if (n > (buffer_.size() - values) / 4) return Damage();
      if (kl == length && std::memcmp(k, key, length) == 0) {
        if (bytes != nullptr) *bytes = n * 4;
        return &buffer_[values];
      }
      at = values + std::size_t{n} * 4;
    }
    if (buffer_.size() > cache_) {
      buffer_.clear();
      buffer_.shrink_to_fit();
    }
    return nullptr;
  }

  const std::uint8_t* Next(std::uint32_t* bytes) {
    if (!scanning_) {
      if (!scan_.Open(entriesName_, kEntriesHeader, cache_)) return Damage();
      scanning_ = true;
    }
    if (scan_.AtEnd()) return nullptr;
    if (!scan_.Need(1)) return Damage();
    std::size_t kl = scan_.Data()[0];
    if (kl > kMaxKeyLength || !scan_.Need(1 + kl + 4)) return Damage();
    std::uint32_t n = Get32(scan_.Data() + 1 + kl);
    if (std::uint64_t{n} * 4 > kMaxBucketBytes) return Damage();
    scan_.Skip(1 + kl + 4);
    if (!scan_.Need(std::size_t{n} * 4)) return Damage();
    value_.assign(scan_.Data(), scan_.Data() + std::size_t{n} * 4);
    scan_.Skip(std::size_t{n} * 4);
    if (bytes != nullptr) *bytes = n * 4;
    return value_.data();
  }

  std::uint32_t KeyCount() const { return static_cast<std::uint32_t>(keys_); }

 private:
  const std::uint8_t* Damage() {
    damaged = true;
    return nullptr;
  }

  std::string entriesName_;
  pf::FileHandle directory_ = nullptr, entries_ = nullptr;
  unsigned bits_ = 0;
  std::uint64_t keys_ = 0, length_ = 0;
  std::size_t cache_ = 1 << 16;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> value_;
  SeqReader scan_;
  bool scanning_ = false;
};

QvStore* OpenReader(const char* name, std::uint32_t cache, std::uint32_t settings,
                    const char* entriesExt, const char* directoryExt) {
  if (name == nullptr) return nullptr;
  int type = static_cast<int>(settings & 0xFF);
  auto r = std::make_unique<Reader>();
  if (!r->Open(FileName(name, entriesExt, type), FileName(name, directoryExt, type), cache)) {
    return nullptr;
  }
  return r.release();
}

QvStore* OpenBuilder(const char* name, std::uint32_t budget, int type, const char* entriesExt,
                     const char* directoryExt) {
  if (name == nullptr) return nullptr;
  auto b = std::make_unique<Builder>(name, budget, type, entriesExt, directoryExt);
  // Make sure the pair can be created before anything is added.
  SeqWriter probe;
  if (!probe.Open(FileName(name, entriesExt, type))) return nullptr;
  probe.Close();
  return b.release();
}

bool Close(QvStore* store) {
  if (store == nullptr) return true;
  bool ok = true;
  if (store->building()) ok = static_cast<Builder*>(store)->Finish();
  delete store;
  return ok;
}

}  // namespace

QvStore* QvOpenA(const char* name, std::uint32_t cacheBytes, int, std::uint32_t settings) {
  return OpenReader(name, cacheBytes, settings, ".fe", ".fh");
}
QvStore* QvOpenB(const char* name, std::uint32_t cacheBytes, int, std::uint32_t settings) {
  return OpenReader(name, cacheBytes, settings, ".ue", ".uh");
}
QvStore* QvOpenBuildA(const char* name, std::uint32_t storeBudget, int typeCode) {
  return OpenBuilder(name, storeBudget, typeCode, ".fe", ".fh");
}
QvStore* QvOpenBuildB(const char* name, std::uint32_t storeBudget, int typeCode) {
  return OpenBuilder(name, storeBudget, typeCode, ".ue", ".uh");
}
bool QvCloseA(QvStore* store) { return Close(store); }
bool QvCloseB(QvStore* store) { return Close(store); }

int QvInsertKey(QvStore* store, const std::uint8_t* key, std::size_t length) {
  if (store == nullptr || !store->building()) return 0;
  int r = static_cast<Builder*>(store)->Insert(key, length);
  return r < 0 ? 0 : r;
}

const std::uint8_t* QvFetch(QvStore* store, const std::uint8_t* key, std::size_t length,
                            std::uint32_t* byteLength) {
  if (store == nullptr || key == nullptr) return nullptr;
  if (store->building()) return static_cast<Builder*>(store)->Fetch(key, length, byteLength);
  return static_cast<Reader*>(store)->Fetch(key, length, byteLength);
}

bool QvSetValue(QvStore* store, const void* data, std::uint32_t byteLength) {
  if (store == nullptr || !store->building() || (data == nullptr && byteLength != 0)) return false;
  return static_cast<Builder*>(store)->SetValue(data, byteLength);
}

bool QvAddReference(QvStore* store, const std::uint8_t* key, std::size_t length,
                    std::uint32_t reference) {
  if (store == nullptr || !store->building() || key == nullptr) return false;
  return static_cast<Builder*>(store)->Add(key, length, reference);
}

std::uint32_t QvCount(QvStore* store) {
  if (store == nullptr) return 0;
  if (store->building()) return static_cast<Builder*>(store)->KeyCount();
  return static_cast<Reader*>(store)->KeyCount();
}

const std::uint8_t* QvNext(QvStore* store, std::uint32_t* byteLength) {
  if (store == nullptr || store->building()) return nullptr;
  return static_cast<Reader*>(store)->Next(byteLength);
}

bool QvDamaged(QvStore* store) { return store != nullptr && store->damaged; }

namespace internal {

QvStore* OpenRawBuilder(const char* name, std::uint32_t budget, const char* entriesExt,
                        const char* directoryExt) {
  QvStore* store = OpenBuilder(name, budget, -1, entriesExt, directoryExt);
  if (store != nullptr) static_cast<Builder*>(store)->SetRaw();
  return store;
}

bool AppendRaw(QvStore* store, const void* data, std::uint32_t bytes) {
  if (store == nullptr || !store->building()) return false;
  return static_cast<Builder*>(store)->AppendRaw(data, bytes);
}

QvStore* OpenRawReader(const char* name, std::uint32_t cache, const char* entriesExt,
                       const char* directoryExt) {
  if (name == nullptr) return nullptr;
  auto r = std::make_unique<Reader>();
  if (!r->Open(FileName(name, entriesExt, -1), FileName(name, directoryExt, -1), cache)) {
    return nullptr;
  }
  return r.release();
}

}  // namespace internal

}  // namespace ludrex::qv
