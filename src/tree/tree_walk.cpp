#include "tree/tree_walk.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/base.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "frame/exceptions.h"
#include "movegen/game.h"
#include "record/chess_codec.h"
#include "record/native_replay.h"
#include "search/position_match.h"
#include "search/subset.h"
#include "storage/array.h"
#include "tree/tree_files.h"

namespace ludrex::tree {
namespace {

// The trie stream read forward through a window, descrambled by offset.
class StreamReader {
 public:
  explicit StreamReader(Array& data) : data_(data), end_(data.Count()) {}
  std::int64_t End() const { return end_; }
  // The descrambled byte at p (p < End()).
  std::uint8_t Byte(std::int64_t p) {
    Load(p, 1);
    return static_cast<std::uint8_t>(TreeByteInverse()[buffer_[static_cast<std::size_t>(p - start_)]] -
                                     static_cast<std::uint8_t>(p));
  }
  // The plain 32-bit field at p.
  std::uint32_t Plain32(std::int64_t p) {
    if (p + 4 > end_) throw TBException(1);
    Load(p, 4);
    std::uint32_t v;
    std::memcpy(&v, &buffer_[static_cast<std::size_t>(p - start_)], 4);
    return v;
  }

 private:
  void Load(std::int64_t p, std::int64_t n) {
    if (p >= start_ && p + n <= start_ + static_cast<std::int64_t>(count_)) return;
    start_ = p;
    count_ = static_cast<std::size_t>(std::min<std::int64_t>(kWindow, end_ - p));
    buffer_.resize(kWindow);
    data_.Read(static_cast<std::int32_t>(p), buffer_.data(), static_cast<std::int32_t>(count_));
  }
  static constexpr std::int64_t kWindow = 65536;
  Array& data_;
  std::int64_t end_;
  std::vector<std::uint8_t> buffer_;
  std::int64_t start_ = 0;
  std::size_t count_ = 0;
};

struct OpenEntry {
  NativeReplay board;
  std::int64_t next;        // where the next sibling begins
  std::int32_t siblingIndex;  // the index position where its games begin
  std::size_t lineLength;
};

}  // namespace

std::vector<TriePlace> TrieSearch(Array& data, std::int32_t totalGames,
                                  const PreparedPosition& criterion, int options) {
  std::vector<TriePlace> places;
  StreamReader in(data);
  NativeReplay board;
  std::vector<OpenEntry> stack;
  std::vector<std::uint8_t> line;
  std::int32_t index = 0;
  bool suspended = false;
  auto record = [&](bool last) {
    TriePlace place;
    place.indexPosition = index;
    place.games = (stack.empty() ? totalGames : stack.back().siblingIndex) - index;
    if ((options & kRecordLines) != 0) place.line = line;
    places.push_back(std::move(place));
    (void)last;
  };
  // Jumps to the innermost open entry's next sibling; false when none is open.
  auto jump = [&](std::int64_t& pos) {
    if (stack.empty()) return false;
    OpenEntry& e = stack.back();
    pos = e.next;
    board = e.board;
    index = e.siblingIndex;
    line.resize(e.lineLength);
    stack.pop_back();
    return true;
  };
  // The root: the start position itself holds every game.
  if (criterion.TestBoard(board.Board(), board.Side())) {
    TriePlace root;
    root.games = totalGames;
    root.hasMovesBelow = in.End() > static_cast<std::int64_t>(kTreeHeaderSize);
    places.push_back(std::move(root));
    return places;
  }
  std::int64_t pos = kTreeHeaderSize;
  while (pos < in.End()) {
    std::uint8_t b = in.Byte(pos);
    if (b == kBranchMark) {
      std::uint32_t next = in.Plain32(pos + 1);
      std::uint32_t games = in.Plain32(pos + 5);
      if (next <= static_cast<std::uint32_t>(pos) || next > in.End()) throw TBException(1);
      stack.push_back(OpenEntry{board, next, index + static_cast<std::int32_t>(games), line.size()});
      pos += 9;
      continue;
    }
    if (b == kNextSiblingMark) {
      if (stack.empty()) throw TBException(1);
      board = stack.back().board;
      line.resize(stack.back().lineLength);
      stack.pop_back();
      suspended = false;
      ++pos;
      continue;
    }
    if (b == kGameEndMark) {
      ++index;
      ++pos;
      continue;
    }
    if (b > 0xE5) throw TBException(1);
    // A move code: up to three bytes.
    std::uint8_t code[3];
    std::int32_t avail = static_cast<std::int32_t>(std::min<std::int64_t>(3, in.End() - pos));
    for (std::int32_t k = 0; k < avail; ++k) code[k] = in.Byte(pos + k);
    int used = board.Play(code, avail);
    if (used <= 0) throw TBException(1);
    if ((options & kRecordLines) != 0) line.insert(line.end(), code, code + used);
    pos += used;
    if (suspended) continue;
    if (criterion.TestBoard(board.Board(), board.Side())) {
      record(false);
      places.back().hasMovesBelow = pos < in.End() && in.Byte(pos) != kGameEndMark;
      if ((options & kFirstPlaceOnly) != 0 || stack.empty()) break;
      if ((options & kSkipBelowMatch) != 0) {
        jump(pos);
      } else {
        suspended = true;
      }
    } else if (criterion.CannotArise(board.Board())) {
      if (!jump(pos)) break;
    }
  }
  return places;
}

bool TreePositionStats(Base& base, Subset* in, Subset* out, const std::int8_t* board,
                       std::int32_t value, std::vector<PositionStat>& stats) {
  std::unique_ptr<Array> data(base.OpenTreeData());
  std::unique_ptr<Array> index(base.OpenTreeIndex());
  if (data == nullptr || index == nullptr) return false;
  PositionSettings s;
  s.positionOn = 1;
  for (int sq = 0; sq < 128; ++sq) s.squareMasks[sq] = SquareCode(board[sq]);
  s.sideMask = value >= 1 && value <= 3 ? value : 3;
  PreparedPosition criterion(s);

  // A base that presents its games in a sorted order: the tree holds stored record numbers.
  std::unique_ptr<Subset> stored;
  Subset* input = in;
  if (in != nullptr && base.IsSorted()) {
    stored.reset(Subset::CreateTmp(base.RecordCount()));
    for (std::int32_t p = in->SeqInitBase(0); p >= 0; p = in->SeqNext()) {
      stored->IncludeRange(base.UnsortedFromSorted(p), 1);
    }
    in->SeqStop();
    input = stored.get();
  }
  std::unique_ptr<Subset> found;
  if (out != nullptr) {
    found.reset(Subset::CreateTmp(out->MaxLength()));
  }

  std::vector<TriePlace> places;
  std::int32_t total = index->Count();
  TreeProgressBegin(10000);
  try {
    places = TrieSearch(*data, total, criterion, kSkipBelowMatch | kRecordLines);
  } catch (const TBException&) {
    Raise(1020);
  }
  std::vector<std::vector<std::uint8_t>> lines;
  std::int64_t counted = 0;
  for (const TriePlace& place : places) {
    std::array<std::uint32_t, 4> c{};
    std::int32_t hits = 0;
    std::int32_t end = std::min(place.indexPosition + place.games, total);
    for (std::int32_t i = std::max(place.indexPosition, 0); i < end; ++i) {
      std::uint32_t entry = index->GetLong(i);
      std::int32_t rec = static_cast<std::int32_t>(entry & 0xFFFFFF);
      if (input != nullptr && (rec >= input->MaxLength() || !input->Item(rec))) continue;
      std::uint32_t result = entry >> 24;
      ++c[result <= 3 ? result : 0];
      ++hits;
      if (found != nullptr && rec < found->MaxLength()) found->IncludeRange(rec, 1);
      if (++counted % 10000 == 0) TreeProgressStep(static_cast<std::int32_t>(counted), total);
    }
    if (hits == 0) continue;
    std::vector<std::uint8_t> key = place.line;
    if (place.hasMovesBelow) key.push_back(0xFF);  // a line with moves below: its own item
    auto it = std::find(lines.begin(), lines.end(), key);
    if (it != lines.end()) {
      auto& existing = stats[static_cast<std::size_t>(it - lines.begin())].counters;
      for (int k = 0; k < 4; ++k) existing[static_cast<std::size_t>(k)] += c[static_cast<std::size_t>(k)];
      continue;
    }
    lines.push_back(key);
    PositionStat st;
    st.counters = c;
    st.line = GameCreate(0);
    DecodeNativeGame(place.line.data(), static_cast<std::int32_t>(place.line.size()), st.line);
    if (place.hasMovesBelow) {
      ChessElement e{};
      e.kind = kElementMove;
      e.piece = 0;
      e.from = 0xFF;
      e.to = 0xFF;
      GameAppend(st.line, &e);
    }
    GameFinish(st.line);
    stats.push_back(st);
  }
  TreeProgressNow(static_cast<std::int32_t>(counted), total);
  if (found != nullptr) {
    if (stored != nullptr) {
      // Back to the positions of the sorted order.
      out->ExcludeRange(0, out->MaxLength());
      for (std::int32_t p = 0; p < base.RecordCount(); ++p) {
        std::int32_t r = base.UnsortedFromSorted(p);
        if (r >= 0 && r < found->MaxLength() && found->Item(r)) out->IncludeRange(p, 1);
      }
    } else {
      out->CopyFrom(*found);
    }
  }
  return true;
}

}  // namespace ludrex::tree
