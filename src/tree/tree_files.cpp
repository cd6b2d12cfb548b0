#include "tree/tree_files.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/base.h"
#include "base/tree_hooks.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "record/chess_codec.h"
#include "record/field_chess.h"
#include "record/field_types.h"
#include "record/pattern.h"
#include "record/record.h"
#include "search/sort.h"
#include "storage/array.h"
#include "storage/files.h"

namespace ludrex::tree {

const char kTreeFormatText[] = "\nKorvanex Tree format. Version 1.1";

namespace {

constexpr char kDatabaseText[] = "Tallowmerecraft 4.0 database.";
constexpr std::int32_t kFormatOffset = 64;
constexpr std::int32_t kFormatLength = 34;

struct Tables {
  std::uint8_t t[256];
  std::uint8_t inverse[256];
};

const Tables& ByteTables() {
  static const Tables tables = [] {
    Tables x{};
    for (int i = 0; i < 256; ++i) x.t[i] = static_cast<std::uint8_t>(i);
    // A fixed shuffle (the table never changes: tree files depend on it).
    std::uint32_t state = 0x4B6F7276u;
    for (int i = 255; i > 0; --i) {
      state = state * 1664525u + 1013904223u;
      int j = static_cast<int>((state >> 8) % static_cast<std::uint32_t>(i + 1));
      std::swap(x.t[i], x.t[j]);
    }
    for (int i = 0; i < 256; ++i) x.inverse[x.t[i]] = static_cast<std::uint8_t>(i);
    return x;
  }();
  return tables;
}

std::uint8_t Scramble(std::uint8_t b, std::int64_t offset) {
  return ByteTables().t[static_cast<std::uint8_t>(b + static_cast<std::uint8_t>(offset))];
}

std::string Text(const String& s) { return std::string(s.Text(), s.Length()); }

// The base's path without extension: an extension is cut only from the last path component.
std::string WithoutExtension(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  std::size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    return path.substr(0, dot);
  }
  return path;
}

bool HasFormatText(const std::string& dataName) {
  if (!FileExists(dataName.c_str())) return false;
  ArrayHandle data(NewFileArray(-1, dataName.c_str(), platform::kFlagNone, platform::kAccessRead,
                                platform::kShareRead));
  data->Init(1);
  if (data->Count() < static_cast<std::int32_t>(kTreeHeaderSize)) return false;
  char text[kFormatLength];
  data->Read(kFormatOffset, text, kFormatLength);
  return std::memcmp(text, kTreeFormatText, kFormatLength) == 0;
}

// The pair of names that exists (first, then the alternate), or empty names.
bool ExistingPair(Base& base, std::string& data, std::string& index) {
  for (bool alternate : {false, true}) {
    data = TreeFileName(base, 'd', alternate);
    index = TreeFileName(base, 'i', alternate);
    if (!data.empty() && FileExists(data.c_str()) && FileExists(index.c_str())) return true;
  }
  return false;
}

// A progress display open for the length of a pass.
class Pass {
 public:
  Pass(std::uint32_t title, std::int32_t granularity) {
    ProgressBegin(title == 0 ? "" : MessageTextPtr(title), granularity);
  }
  ~Pass() { ProgressEnd(); }
};

// The common prefix of two lines in whole move codes.
std::int32_t CommonPrefix(const std::vector<std::uint8_t>& a, const std::uint8_t* b,
                          std::int32_t nb) {
  std::int32_t n = std::min(static_cast<std::int32_t>(a.size()), nb);
  return n == 0 ? 0 : NativeCommonPrefix(a.data(), b, n);
}

// Numbers the nodes of the lines in depth-first order: node numbers of the current line by the
// byte offset where each code starts (-1 inside a code).
class NodeNumbers {
 public:
  // Makes line the current one, its codes from m on new nodes; returns the node number of the
  // previous line's code at m (or -1 when there is none).
  std::int64_t Advance(const std::uint8_t* line, std::int32_t n, std::int32_t m) {
    std::int64_t old = m < static_cast<std::int32_t>(nodes_.size()) ? nodes_[static_cast<std::size_t>(m)] : -1;
    nodes_.resize(static_cast<std::size_t>(n), -1);
    for (std::int32_t d = m; d < n;) {
      std::int32_t len = NativeCodeLength(line + d, n - d);
      if (len <= 0) len = 1;
      if (line[d] == 0xD1) len = 3;  // a promotion is one node of three bytes
      nodes_[static_cast<std::size_t>(d)] = next_++;
      for (std::int32_t k = 1; k < len && d + k < n; ++k) nodes_[static_cast<std::size_t>(d + k)] = -1;
      d += len;
    }
    return old;
  }
  std::int64_t NodeAt(std::int32_t d) const {
    return d < static_cast<std::int32_t>(nodes_.size()) ? nodes_[static_cast<std::size_t>(d)] : -1;
  }

 private:
  std::vector<std::int64_t> nodes_;
  std::int64_t next_ = 0;
};

// The (key, record) pairs in key order, kept in a work file between passes 2 and 3.
class PairFile {
 public:
  PairFile() : file_(NewBufArray(NewFileArray(0, nullptr), 65536, 65536)) { file_->Init(1); }
  void Put(const std::uint8_t* key, std::int32_t n, std::uint32_t value) {
    std::uint8_t head[8];
    std::memcpy(head, &n, 4);
    std::memcpy(head + 4, &value, 4);
    file_->Write(end_, head, 8);
    file_->Write(end_ + 8, key, n);
    end_ += 8 + n;
  }
  bool Next(std::vector<std::uint8_t>& key, std::uint32_t& value) {
    if (read_ >= end_) return false;
    std::uint8_t head[8];
    file_->Read(read_, head, 8);
    std::int32_t n;
    std::memcpy(&n, head, 4);
    std::memcpy(&value, head + 4, 4);
    key.resize(static_cast<std::size_t>(n));
    if (n > 0) file_->Read(read_ + 8, key.data(), n);
    read_ += 8 + n;
    return true;
  }

 private:
  ArrayHandle file_;
  std::int32_t end_ = 0, read_ = 0;
};

}  // namespace

const std::uint8_t* TreeByteTable() { return ByteTables().t; }
const std::uint8_t* TreeByteInverse() { return ByteTables().inverse; }
void BuildTreeByteTables() { (void)ByteTables(); }

std::string TreeFileName(Base& base, char kind, bool alternate) {
  BaseInfo info;
  base.GetInfo(info);
  std::string path = Text(alternate ? info.secondFullName : info.fullName);
  if (path.empty()) return std::string();
  std::string name = WithoutExtension(path);
  name += kind == 'd' ? ".td" : ".ti";
  name += static_cast<char>('0' + (base.Type() & 0xFF) % 10);
  return name;
}

std::vector<std::uint8_t> TreeKey(const std::uint8_t* nativeBytes, std::int32_t length,
                                  std::uint8_t result) {
  std::vector<std::uint8_t> key;
  if (length > 0 && nativeBytes[0] != 0xE6) {
    key.assign(nativeBytes, nativeBytes + length);
    std::int32_t n = NativeMainLine(key.data(), length);
    key.resize(static_cast<std::size_t>(n));
  }
  key.push_back(result);
  return key;
}

int CheckTree(Base& base) {
  std::string data, index;
  if (!ExistingPair(base, data, index)) return 0;
  return HasFormatText(data) ? 1 : -1;
}

void DeleteTree(Base& base) {
  std::string index = TreeFileName(base, 'i', false);
  std::string data = TreeFileName(base, 'd', false);
  if (!index.empty() && FileExists(index.c_str())) RemoveFile(index.c_str());
  if (!data.empty() && FileExists(data.c_str())) RemoveFile(data.c_str());
}

Array* OpenTreeData(Base& base) {
  std::string data, index;
  if (!ExistingPair(base, data, index) || !HasFormatText(data)) return nullptr;
  auto* a = NewBufArray(NewFileArray(-1, data.c_str(), platform::kFlagSequential,
                                     platform::kAccessRead, platform::kShareRead),
                        10000, 10000);
  if (a == nullptr) Raise(520);
  ArrayHandle h(a);
  h->Init(1);
  return h.Release();
}

Array* OpenTreeIndex(Base& base) {
  std::string data, index;
  if (!ExistingPair(base, data, index)) return nullptr;
  auto* a = NewBufArray(NewFileArray(-1, index.c_str(), platform::kFlagSequential,
                                     platform::kAccessRead, platform::kShareRead),
                        10000, 10000);
  if (a == nullptr) Raise(520);
  ArrayHandle h(a);
  h->Init(4);
  return h.Release();
}

void BuildTree(Base& base) {
  const std::int32_t n = base.RecordCount();
  if (n < 1) {
    Pass p(0, 1);
    return;
  }
  if (n > kMaxTreeGames) {
    { Pass p(0, 1); }
    Warn(924);
    return;
  }
  std::string dataName = TreeFileName(base, 'd', false);
  std::string indexName = TreeFileName(base, 'i', false);
  if (!AskSpaceForBase(static_cast<std::int64_t>(n) * 84, dataName.c_str()) ||
      !AskSpaceForTemp(static_cast<std::int64_t>(n) * 93)) {
    Pass p(0, 1);
    return;
  }

  // Pass 1: the key of every record into the sorter. Only the game score and the result are
  // read; a native base hands the game score over undecoded.
  const RecordPattern& full = base.GetRecordPattern();
  RecordPattern pattern;
  std::int32_t resultAt = -1;
  for (std::int32_t i = 0; i < full.Count(); ++i) {
    if (full[i].type == kChessType && pattern.Count() == 0) pattern.Append(full[i]);
  }
  if (pattern.Count() == 0) Raise(907);  // no game score: nothing to build a tree of
  for (std::int32_t i = 0; i < full.Count(); ++i) {
    if (full[i].type == kResultType) {
      resultAt = pattern.Count();
      pattern.Append(full[i]);
      break;
    }
  }
  if (base.Type() == 0) pattern[0].flags |= kFlagRawGame;
  Record record(pattern);
  record.LinkToBase(&base);
  base.EnableFastAccess(&pattern);
  struct FastOff {
    Base& base;
    ~FastOff() { base.DisableFastAccess(); }
  } fastOff{base};

  KeySorter sorter;
  sorter.BeginRuns(10000);
  std::int32_t longest = 0;
  ByteBlock packed;
  bool stopped = false;
  {
    Pass p(927, base.Type() == 0 ? 5000 : 500);
    for (std::int32_t i = 0; i < n; ++i) {
      if (ProgressStep(i, n) != 0) {
        stopped = true;
        break;
      }
      if (base.IsDeleted(i)) continue;
      base.Read(i, record);
      auto& game = static_cast<ChessField&>(record[0]);
      const std::uint8_t* bytes;
      std::int32_t length;
      if (game.RawMode()) {
        bytes = game.RawBytes();
        length = game.RawLength();
      } else {
        game.Pack(0, String(""), packed);
        bytes = packed.Data();
        length = packed.Count();
      }
      std::uint8_t result =
          resultAt >= 0 ? static_cast<std::uint8_t>(record[resultAt].GetInt()) : 0;
      std::vector<std::uint8_t> key = TreeKey(bytes, length, result);
      longest = std::max(longest, static_cast<std::int32_t>(key.size()));
      sorter.Add(key.data(), static_cast<std::int32_t>(key.size()), static_cast<std::uint32_t>(i));
    }
    sorter.EndRuns();
  }
  if (stopped) return;

  // Pass 2: number the trie's nodes depth-first and mark those with a later sibling; the pairs
  // go on to a work file in key order for pass 3.
  std::vector<std::uint8_t> laterSibling;
  PairFile pairs;
  std::int32_t total = 0;
  {
    Pass p(928, 5000);
    sorter.BeginMerge();
    NodeNumbers nodes;
    std::vector<std::uint8_t> prev;
    std::int32_t k = 0;
    while (sorter.HasNext()) {
      if (ProgressStep(k, n) != 0) {
        stopped = true;
        break;
      }
      const std::uint8_t* key = sorter.CurrentKey();
      std::int32_t len = sorter.CurrentLength();
      pairs.Put(key, len, sorter.CurrentValue());
      std::int32_t line = len - 1;
      std::int32_t m = CommonPrefix(prev, key, line);
      std::int64_t node = nodes.Advance(key, line, m);
      if (m < static_cast<std::int32_t>(prev.size()) && node >= 0) {
        std::size_t byte = static_cast<std::size_t>(node / 8);
        if (laterSibling.size() <= byte) laterSibling.resize(byte + 1, 0);
        laterSibling[byte] |= static_cast<std::uint8_t>(1u << (node % 8));
      }
      prev.assign(key, key + line);
      sorter.Next();
      ++k;
    }
    sorter.EndMerge();
    total = k;
  }
  if (stopped) return;
  auto hasLaterSibling = [&laterSibling](std::int64_t node) {
    if (node < 0) return false;
    std::size_t byte = static_cast<std::size_t>(node / 8);
    return byte < laterSibling.size() && (laterSibling[byte] >> (node % 8) & 1) != 0;
  };

  // Pass 3: the files.
  {
    Pass p(929, 5000);
    ArrayHandle index(NewBufArray(NewFileArray(0, indexName.c_str()), 500, 500));
    index->Init(4);
    ArrayHandle data(NewBufArray(NewFileArray(0, dataName.c_str()), 50000, 50000));
    data->Init(1);
    std::uint8_t header[kTreeHeaderSize] = {};
    std::memcpy(header, kDatabaseText, sizeof kDatabaseText - 1);
    std::memcpy(header + kFormatOffset, kTreeFormatText, kFormatLength);
    std::uint32_t longestKey = static_cast<std::uint32_t>(longest);
    std::memcpy(header + 128, &longestKey, 4);
    data->Write(0, header, kTreeHeaderSize);
    std::int64_t end = kTreeHeaderSize;
    auto put = [&](std::uint8_t b) {
      data->PutByte(static_cast<std::int32_t>(end), Scramble(b, end));
      ++end;
    };
    auto putPlain32 = [&](std::uint32_t v) {
      data->Write(static_cast<std::int32_t>(end), &v, 4);
      end += 4;
    };

    NodeNumbers nodes;
    std::vector<std::uint8_t> prev, key;
    std::vector<std::int64_t> offsetAt;      // stack: where the byte at each position went
    std::vector<std::int32_t> startCount;    // stack: k when the line reached each position
    std::int32_t mPrev = 0;
    std::uint32_t value = 0;
    for (std::int32_t k = 0;; ++k) {
      bool more = pairs.Next(key, value);
      std::int32_t line = more ? static_cast<std::int32_t>(key.size()) - 1 : 0;
      std::int32_t m = more ? CommonPrefix(prev, key.data(), line) : -1;
      // 2. The rest of the previous line, with branch headers before nodes that have a later
      // sibling (only up to where the lines part).
      for (std::int32_t d = mPrev; d < static_cast<std::int32_t>(prev.size()); ++d) {
        offsetAt[static_cast<std::size_t>(d)] = end;
        if (d <= m && hasLaterSibling(nodes.NodeAt(d))) {
          put(kBranchMark);
          putPlain32(0xFFFFFFFFu);
          putPlain32(0xFFFFFFFFu);
        }
        put(prev[static_cast<std::size_t>(d)]);
      }
      // 3.
      if (k > 0) put(kGameEndMark);
      // 4.
      if (!more) break;
      if (ProgressStep(k, total) != 0) {
        stopped = true;
        break;
      }
      // 5.
      std::uint32_t entry = static_cast<std::uint32_t>(key.back()) << 24 | (value & 0xFFFFFF);
      index->PutLong(k, entry);
      // 6. The lines part before the end of the previous one: close the subtree of its node at m.
      if (m < static_cast<std::int32_t>(prev.size())) {
        put(kNextSiblingMark);
        std::int64_t at = offsetAt[static_cast<std::size_t>(m)];
        std::uint32_t next = static_cast<std::uint32_t>(end);
        std::uint32_t games = static_cast<std::uint32_t>(k - startCount[static_cast<std::size_t>(m)]);
        data->Write(static_cast<std::int32_t>(at + 1), &next, 4);
        data->Write(static_cast<std::int32_t>(at + 5), &games, 4);
      }
      // 7.
      nodes.Advance(key.data(), line, m);
      prev.assign(key.begin(), key.begin() + line);
      offsetAt.resize(prev.size(), 0);
      startCount.resize(prev.size(), 0);
      for (std::int32_t d = m; d < line; ++d) startCount[static_cast<std::size_t>(d)] = k;
      mPrev = m;
    }
    data->Flush();
    index->Flush();
  }
  if (stopped) DeleteTree(base);
}

void InstallTreeOperations() {
  static const TreeOperations operations{CheckTree, BuildTree, DeleteTree, OpenTreeData,
                                         OpenTreeIndex};
  BuildTreeByteTables();
  SetTreeOperations(&operations);
}

}  // namespace ludrex::tree
