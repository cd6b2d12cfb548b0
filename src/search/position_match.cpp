#include "search/position_match.h"

#include <algorithm>
#include <cstring>

#include "movegen/game.h"
#include "record/chess_codec.h"
#include "record/native_replay.h"

namespace ludrex {
namespace {

constexpr std::int32_t kUntested = static_cast<std::int32_t>(0x80000000u);
constexpr std::uint32_t kWhitePawnCode = 0x2000;
constexpr std::uint32_t kBlackPawnCode = 0x0020;

bool OnBoard(unsigned sq) { return sq < 128 && (sq & 0x88) == 0; }

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Lower case of a Windows-1251 byte.
unsigned char Lower(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDF) return static_cast<unsigned char>(c + 32);
  if (c == 0xA8) return 0xB8;  // Ё
  if (c == 0xAA) return 0xBA;  // Є
  if (c == 0xAF) return 0xBF;  // Ї
  if (c == 0xB2) return 0xB3;  // І
  if (c == 0xA1) return 0xA2;  // Ў
  if (c == 0xA5) return 0xB4;  // Ґ
  return c;
}

bool SameBytes(const char* a, const char* b, std::size_t n, bool caseSensitive) {
  if (caseSensitive) return std::memcmp(a, b, n) == 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (Lower(static_cast<unsigned char>(a[i])) != Lower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool TextMatches(const TextCommentEntry& e, const std::uint8_t* bytes, std::int32_t n) {
  const char* text = reinterpret_cast<const char*>(bytes);
  std::size_t len = static_cast<std::size_t>(n);
  std::size_t p = e.hasPrefix ? e.prefix.size() : 0;
  if (p > len || (p > 0 && std::memcmp(text, e.prefix.data(), p) != 0)) return false;
  const char* rest = text + p;
  std::size_t restLen = len - p;
  const std::string& info = e.info;
  bool cs = e.caseSensitive != 0;
  switch (e.searchType) {
    case 0:
      return restLen == info.size() && SameBytes(rest, info.data(), restLen, cs);
    case 2:
      if (info.size() > restLen) return false;
      for (std::size_t i = 0; i + info.size() <= restLen; ++i) {
        if (SameBytes(rest + i, info.data(), info.size(), cs)) return true;
      }
      return false;
    default:
      return !info.empty() && info.size() <= restLen && SameBytes(rest, info.data(), info.size(), cs);
  }
}

// The pawn profile of one side from a board: counts[file * 4 + level], the pawns with
// advance 0..3 and advance + |file - f| <= level.
void PawnProfile(const std::int8_t* board, int side, std::uint8_t* counts) {
  std::memset(counts, 0, 32);
  for (unsigned sq = 0; sq < 128; ++sq) {
    if (!OnBoard(sq) || board[sq] != (side == 0 ? 1 : -1)) continue;
    int rank = static_cast<int>(sq >> 4) + 1, file = static_cast<int>(sq & 7);
    int advance = side == 0 ? rank - 2 : 7 - rank;
    if (advance < 0 || advance > 3) continue;
    for (int f = 0; f < 8; ++f) {
      int d = advance + (file > f ? file - f : f - file);
      for (int k = d; k < 4; ++k) ++counts[f * 4 + k];
    }
  }
}

void StartBoard(std::int8_t* board) {
  std::memset(board, 0, 128);
  const std::int8_t back[8] = {4, 2, 3, 5, 6, 3, 2, 4};
  for (int f = 0; f < 8; ++f) {
    board[f] = back[f];
    board[0x10 + f] = 1;
    board[0x60 + f] = -1;
    board[0x70 + f] = static_cast<std::int8_t>(-back[f]);
  }
}

// Mirror transformations of the settings.
std::uint32_t SwapColourBits(std::uint32_t m) {
  return (m & ~0x3F3Fu) | (m & 0x3F) << 8 | (m >> 8 & 0x3F);
}

void MirrorLeftRight(PositionSettings& s) {
  for (unsigned r = 0; r < 8; ++r) {
    for (unsigned f = 0; f < 4; ++f) {
      std::swap(s.squareMasks[r << 4 | f], s.squareMasks[r << 4 | (7 - f)]);
      std::swap(s.regionMasks[r << 4 | f], s.regionMasks[r << 4 | (7 - f)]);
    }
  }
}

void MirrorColours(PositionSettings& s) {
  for (unsigned r = 0; r < 4; ++r) {
    for (unsigned f = 0; f < 8; ++f) {
      std::swap(s.squareMasks[r << 4 | f], s.squareMasks[(7 - r) << 4 | f]);
      std::swap(s.regionMasks[r << 4 | f], s.regionMasks[(7 - r) << 4 | f]);
    }
  }
  for (auto& m : s.squareMasks) m = SwapColourBits(m);
  for (auto& region : s.material) {
    for (int i = 0; i < 7; ++i) std::swap(region[i], region[i + 7]);
  }
}

}  // namespace

// ---- Preparing -----------------------------------------------------------------------------

PreparedPosition::PreparedPosition(const PositionSettings& settings) : s_(settings) {
  Prepare();
  if (s_.mirrorOn != 0 && s_.mirrorValue != 0) {
    PositionSettings base = s_;
    base.mirrorOn = 0;
    base.mirrorValue = 0;
    auto add = [this, &base](bool lr, bool colours) {
      PositionSettings m = base;
      if (lr) MirrorLeftRight(m);
      if (colours) MirrorColours(m);
      mirrors_.push_back(std::make_unique<PreparedPosition>(m));
    };
    int v = s_.mirrorValue & 3;
    if (v == 1) add(true, false);
    if (v == 2) add(false, true);
    if (v == 3) {
      add(true, false);
      add(false, true);
      add(true, true);
    }
  }
}

bool PreparedPosition::ConditionsOnly() const {
  // The bishops condition is a condition on positions too: with it alone the game is replayed
  // (else it would be ignored and every game would pass).
  return s_.positionOn == 0 && s_.regionsOn == 0 && s_.eventListOn == 0 && s_.matDiffOn == 0 &&
         s_.bishopsOn == 0;
}

void PreparedPosition::Prepare() {
  for (unsigned sq = 0; sq < 128; ++sq) {
    if (!OnBoard(sq)) {
      s_.squareMasks[sq] = 0;
      s_.regionMasks[sq] = 0;
    }
  }
  required_ = s_.positionOn != 0 ? 64 : 0;
  s_.gameConditionsOn = (!s_.lengths.empty() || s_.minVariations > 0 || s_.commentFlag != 0 ||
                         s_.anyComment != 0 || s_.setupStart != 0)
                            ? 1
                            : 0;
  // The criterion's pawn profile: from the squares that demand exactly a pawn of one colour.
  std::int8_t pawns[128] = {};
  if (s_.positionOn != 0) {
    for (unsigned sq = 0; sq < 128; ++sq) {
      if (s_.squareMasks[sq] == kWhitePawnCode) pawns[sq] = 1;
      if (s_.squareMasks[sq] == kBlackPawnCode) pawns[sq] = -1;
    }
  }
  PawnProfile(pawns, 0, profile_[0]);
  PawnProfile(pawns, 1, profile_[1]);
  profileOn_ = false;
  for (int side = 0; side < 2; ++side) {
    for (int i = 0; i < 32; ++i) profileOn_ = profileOn_ || profile_[side][i] != 0;
  }
  ParseEvents();
}

void PreparedPosition::ParseEvents() {
  chains_.clear();
  connectives_.clear();
  eventsValid_ = false;
  if (s_.eventListOn == 0) return;
  const std::vector<std::uint8_t>& b = s_.eventList;
  std::size_t values = b.size() / 4;
  std::size_t at = 0;
  auto next = [&](std::uint32_t& v) {
    if (at >= values) return false;
    v = Le32(b.data() + 4 * at++);
    return true;
  };
  std::uint32_t length, n;
  if (!next(length) || !next(n) || n > 100000) return;
  for (std::uint32_t c = 0; c < n; ++c) {
    std::uint32_t count;
    if (!next(count) || count > 100000) return;
    Chain chain;
    for (std::uint32_t e = 0; e < count; ++e) {
      std::uint32_t a, mask;
      if (!next(a) || !next(mask)) return;
      Event ev;
      ev.square = static_cast<std::uint8_t>(a >> 24);
      ev.departure = (a & (1u << 23)) != 0;
      ev.flagged = (a & (1u << 22)) != 0;
      ev.flagValue = (a & (1u << 20)) != 0;
      ev.limit = (a & 0x8000u) != 0 ? static_cast<std::int32_t>(a & 0x7FFF) : -1;
      ev.mask = mask;
      chain.events.push_back(ev);
    }
    chains_.push_back(std::move(chain));
  }
  std::uint32_t m;
  if (!next(m) || m > 100000) return;
  for (std::uint32_t i = 0; i < m; ++i) {
    std::uint32_t chain, conn;
    if (!next(chain) || !next(conn)) return;
    if (chain >= chains_.size()) return;
    connectives_.emplace_back(static_cast<std::int32_t>(chain), conn == 1 ? 1 : 0);
  }
  // The first operand is the chain whose index is the number of pairs.
  eventsValid_ = !chains_.empty() && m < chains_.size();
}

bool PreparedPosition::TestBoard(const std::int8_t* board, int side) const {
  if ((s_.sideMask & (side == 0 ? 1 : 2)) == 0) return false;
  std::int32_t hits = 0;
  std::int32_t regions[4][14] = {};
  std::int32_t bishops[2] = {}, light[2] = {};
  for (unsigned sq = 0; sq < 128; ++sq) {
    if (!OnBoard(sq)) continue;
    int v = board[sq];
    if ((SquareCode(v) & s_.squareMasks[sq]) != 0) ++hits;
    if (v == 0) continue;
    int kind = v < 0 ? -v : v, colour = v < 0 ? 1 : 0;
    if (kind == 3) {
      ++bishops[colour];
      if (((sq >> 4) + (sq & 7)) % 2 == 1) ++light[colour];
    }
    std::uint32_t g = s_.regionMasks[sq] & 0x0F;
    for (int r = 0; g != 0 && r < 4; ++r) {
      if ((g & (1u << r)) == 0) continue;
      ++regions[r][colour * 7 + kind - 1];
      ++regions[r][colour == 0 ? 6 : 13];
    }
  }
  if (hits < required_) return false;
  if (s_.regionsOn != 0) {
    auto ok = [&](int r) {
      for (int i = 0; i < 14; ++i) {
        if (regions[r][i] > s_.material[r][i][0] || regions[r][i] < s_.material[r][i][1]) return false;
      }
      return true;
    };
    if (!ok(0) || !ok(1) || !(ok(2) || (s_.regionFlag != 0 && ok(3)))) return false;
  }
  if (s_.bishopsOn != 0) {
    if (bishops[0] != 1 || bishops[1] != 1) return false;
    bool same = light[0] == light[1];
    if ((s_.bishopsKind != 0) != same) return false;
  }
  return true;
}

bool PreparedPosition::CannotArise(const std::int8_t* board) const {
  if (!profileOn_) return false;
  for (int side = 0; side < 2; ++side) {
    std::uint8_t counts[32];
    PawnProfile(board, side, counts);
    for (int i = 0; i < 32; ++i) {
      if (counts[i] < profile_[side][i]) return true;
    }
  }
  return false;
}

// ---- Matching ------------------------------------------------------------------------------

// The replay state of one criterion (or one mirrored copy) over one game.
struct GameMatch::Side {
  explicit Side(const PreparedPosition& c) : crit(c), s(c.settings()) {}

  struct ChainState {
    std::int32_t next = 0;  // index of the event waited for; events.size(): met
    bool failed = false;
    std::int32_t count = 0;  // half-moves since the last event (or the start of tracking)
    std::vector<std::int32_t> history;  // plies of the matches
  };
  struct State {
    std::int8_t board[128];
    int side = 0;
    std::int32_t hits = 0;
    std::int32_t regions[4][14] = {};
    std::int32_t pieces[2][7] = {};
    std::int32_t lightBishops[2] = {};
    std::int32_t persist = 0, persistReversed = 0;
    std::int32_t plies = 0;  // half-moves of the replay
    bool tracking = false;
    std::int32_t trackStart = 0;
    std::vector<ChainState> chains;
  };

  const PreparedPosition& crit;
  const PositionSettings& s;
  State cur, before;
  std::vector<std::pair<State, State>> stack;  // variations: (before, cur) to restore
  bool positionLatch = false, eventLatch = false;
  bool matched = false, stopped = false;
  std::int32_t matchPosition = -1;
  bool pawnsChanged = true;

  void SetSquare(unsigned sq, int value) {
    int old = cur.board[sq];
    if (old == value) return;
    std::uint32_t mask = s.squareMasks[sq];
    if ((SquareCode(old) & mask) != 0) --cur.hits;
    if ((SquareCode(value) & mask) != 0) ++cur.hits;
    std::uint32_t regions = s.regionMasks[sq] & 0x0F;
    for (int g = 0; regions != 0 && g < 4; ++g) {
      if ((regions & (1u << g)) == 0) continue;
      if (old != 0) {
        int idx = old > 0 ? old - 1 : 7 + (-old - 1);
        --cur.regions[g][idx];
        --cur.regions[g][old > 0 ? 6 : 13];
      }
      if (value != 0) {
        int idx = value > 0 ? value - 1 : 7 + (-value - 1);
        ++cur.regions[g][idx];
        ++cur.regions[g][value > 0 ? 6 : 13];
      }
    }
    bool light = ((sq >> 4) + (sq & 7)) % 2 == 1;
    if (old != 0) {
      int side = old < 0 ? 1 : 0, kind = old < 0 ? -old : old;
      --cur.pieces[side][kind];
      if (kind == 3 && light) --cur.lightBishops[side];
      if (kind == 1) pawnsChanged = true;
    }
    if (value != 0) {
      int side = value < 0 ? 1 : 0, kind = value < 0 ? -value : value;
      ++cur.pieces[side][kind];
      if (kind == 3 && light) ++cur.lightBishops[side];
      if (kind == 1) pawnsChanged = true;
    }
    cur.board[sq] = static_cast<std::int8_t>(value);
  }

  void Begin(const std::int8_t* setupBoard, std::uint32_t state) {
    cur = State{};
    std::memset(cur.board, 0, sizeof cur.board);
    // Empty squares whose mask holds the empty code count as hits from the start.
    for (unsigned sq = 0; sq < 128; ++sq) {
      if (OnBoard(sq) && (s.squareMasks[sq] & kEmptySquareCode) != 0) ++cur.hits;
    }
    std::int8_t start[128];
    if (setupBoard != nullptr) {
      std::memcpy(start, setupBoard, 128);
      cur.side = static_cast<int>(state & 1);
    } else {
      StartBoard(start);
    }
    for (unsigned sq = 0; sq < 128; ++sq) {
      if (OnBoard(sq) && start[sq] >= -6 && start[sq] <= 6 && start[sq] != 0) SetSquare(sq, start[sq]);
    }
    cur.chains.assign(crit.chains_.size(), ChainState{});
    stack.clear();
    before = cur;
    positionLatch = eventLatch = matched = stopped = false;
    matchPosition = -1;
    pawnsChanged = true;
    if (s.eventListOn == 0 || !crit.eventsValid_) eventLatch = s.eventListOn == 0;
    if (s.eventListOn != 0 && crit.eventsValid_ && s.eventFlag == 0) StartTracking();
  }

  void StartTracking() {
    if (cur.tracking) return;
    cur.tracking = true;
    cur.trackStart = cur.plies;
  }

  bool RegionOk(int g) const {
    for (int i = 0; i < 14; ++i) {
      std::int32_t v = cur.regions[g][i];
      if (v > s.material[g][i][0] || v < s.material[g][i][1]) return false;
    }
    return true;
  }

  bool MaterialOk() const {
    if (s.regionsOn == 0) return true;
    if (!RegionOk(0) || !RegionOk(1)) return false;
    return RegionOk(2) || (s.regionFlag != 0 && RegionOk(3));
  }

  bool BishopsOk() const {
    if (s.bishopsOn == 0) return true;
    if (cur.pieces[0][3] != 1 || cur.pieces[1][3] != 1) return false;
    bool same = cur.lightBishops[0] == cur.lightBishops[1];
    return s.bishopsKind != 0 ? same : !same;
  }

  bool PositionTest() const {
    if (cur.hits < crit.required_) return false;
    if ((s.sideMask & (cur.side == 0 ? 1 : 2)) == 0) return false;
    return MaterialOk() && BishopsOk();
  }

  // The direct material-difference condition (reversed: every measure within the negated range).
  bool MatDiffDirect(bool reversed) const {
    std::int32_t total = 0;
    for (int side = 0; side < 2; ++side) {
      for (int k = 1; k <= 6; ++k) total += cur.pieces[side][k];
    }
    std::int32_t low = static_cast<std::int32_t>(s.countRange & 0xFFFF);
    std::int32_t high = static_cast<std::int32_t>(s.countRange >> 16);
    if (high == 0 ? total != low : (total < low || total > high)) return false;
    static constexpr int kWeight[6] = {1, 3, 3, 5, 9, 0};
    for (int m = 0; m < 6; ++m) {
      if (s.matMin[m] == kUntested) continue;
      std::int64_t v;
      if (m < 5) {
        v = cur.pieces[0][m + 1] - cur.pieces[1][m + 1];
      } else {
        v = 0;
        for (int k = 1; k <= 5; ++k) v += kWeight[k - 1] * (cur.pieces[0][k] - cur.pieces[1][k]);
      }
      std::int64_t lo = s.matMin[m], hi = s.matMax[m];
      if (reversed) {
        std::int64_t a = -hi, b = -lo;
        lo = a;
        hi = b;
      }
      if (v < lo || v > hi) return false;
    }
    return true;
  }

  bool MatDiffSatisfied() const {
    if (s.matDiffOn == 0) return true;
    if (cur.plies == 0) return false;  // never at the first position of a game
    bool direct = MatDiffDirect(false) && cur.persist >= s.persistence;
    if (s.regionFlag == 0) return direct;
    bool reversed = MatDiffDirect(true) && cur.persistReversed >= s.persistence;
    bool r2 = s.regionsOn != 0 && RegionOk(2), r3 = s.regionsOn != 0 && RegionOk(3);
    if (r3 && !r2) return reversed;
    if (r2 && r3) return direct || reversed;
    return direct;
  }

  // 1 satisfied, 0 undecided, -1 impossible.
  int EventValue() const {
    if (s.eventListOn == 0) return 1;
    if (!crit.eventsValid_) return -1;
    auto state = [&](std::int32_t c, bool& waiting) {
      const ChainState& st = cur.chains[static_cast<std::size_t>(c)];
      if (st.failed) return false;
      if (static_cast<std::size_t>(st.next) < crit.chains_[static_cast<std::size_t>(c)].events.size()) {
        waiting = true;
      }
      return true;
    };
    bool waiting = false;
    bool value = state(static_cast<std::int32_t>(crit.connectives_.size()), waiting);
    for (const auto& [chain, conn] : crit.connectives_) {
      bool v = state(chain, waiting);
      value = conn == 1 ? (value && v) : (value || v);
    }
    // Chains not named anywhere still wait: they count as waiting too.
    for (std::size_t c = 0; c < cur.chains.size(); ++c) {
      bool w = false;
      state(static_cast<std::int32_t>(c), w);
      waiting = waiting || w;
    }
    if (!value) return -1;
    return waiting ? 0 : 1;
  }

  void Offer(unsigned square, bool departure, int value, bool flag) {
    if (!cur.tracking) return;
    std::uint32_t code = SquareCode(value);
    for (std::size_t c = 0; c < cur.chains.size(); ++c) {
      ChainState& st = cur.chains[c];
      const auto& events = crit.chains_[c].events;
      if (st.failed || static_cast<std::size_t>(st.next) >= events.size()) continue;
      const PreparedPosition::Event& e = events[static_cast<std::size_t>(st.next)];
      if (e.square != square || e.departure != departure || (code & e.mask) == 0) continue;
      if (e.flagged && e.flagValue != flag) continue;
      st.history.push_back(cur.plies);
      st.count = 0;
      ++st.next;
    }
  }

  // After every half-move: waiting chains count on and fall back when a limit is exceeded.
  void TickChains() {
    if (!cur.tracking) return;
    for (std::size_t c = 0; c < cur.chains.size(); ++c) {
      ChainState& st = cur.chains[c];
      const auto& events = crit.chains_[c].events;
      if (st.failed || static_cast<std::size_t>(st.next) >= events.size()) continue;
      ++st.count;
      while (!st.failed && events[static_cast<std::size_t>(st.next)].limit >= 0 &&
             st.count > events[static_cast<std::size_t>(st.next)].limit) {
        if (st.history.empty()) {
          st.failed = true;
          break;
        }
        st.history.pop_back();
        --st.next;
        std::int32_t since = st.history.empty() ? cur.trackStart : st.history.back();
        st.count = cur.plies - since - 1;
      }
    }
  }

  void TickMaterial() {
    if (s.matDiffOn == 0) return;
    cur.persist = MatDiffDirect(false) ? cur.persist + 1 : 0;
    if (s.regionFlag != 0) cur.persistReversed = MatDiffDirect(true) ? cur.persistReversed + 1 : 0;
  }

  // A change of material clears the persistence when the condition fails.
  void MaterialChanged() {
    if (s.matDiffOn == 0) return;
    if (!MatDiffDirect(false)) cur.persist = 0;
    if (s.regionFlag != 0 && !MatDiffDirect(true)) cur.persistReversed = 0;
  }

  // The position can no longer arise: some count of the game's pawn profile is below the
  // criterion's.
  bool CannotArise() {
    if (!crit.profileOn_ || s.includeVariations != 0 || !pawnsChanged) return false;
    pawnsChanged = false;
    for (int side = 0; side < 2; ++side) {
      std::uint8_t counts[32];
      PawnProfile(cur.board, side, counts);
      for (int i = 0; i < 32; ++i) {
        if (counts[i] < crit.profile_[side][i]) return true;
      }
    }
    return false;
  }

  // The test made at every test point; element is the match position number of this point.
  void Test(std::int32_t element, bool mainLine) {
    if (matched || stopped) return;
    if (!mainLine && s.includeVariations == 0) return;
    bool position = PositionTest();
    if (position && s.eventListOn != 0 && s.eventFlag != 0) StartTracking();
    if (s.matDiffOn == 0 && s.eventListOn == 0) {
      if (position) {
        matched = true;
        matchPosition = element;
      }
    } else {
      if (!positionLatch && position && MatDiffSatisfied()) positionLatch = true;
      if (!eventLatch && EventValue() == 1) eventLatch = true;
      if (positionLatch && eventLatch) {
        matched = true;
        matchPosition = element;
      }
    }
    if (!matched && mainLine && CannotArise()) {
      if (s.eventListOn == 0 || EventValue() == -1) stopped = true;
    }
  }

  void Move(std::uint8_t from, std::uint8_t to, std::uint8_t pieceAfter) {
    if (s.includeVariations != 0) before = cur;
    if (from == 0xFF || !OnBoard(from) || !OnBoard(to)) {
      cur.side ^= 1;
    } else {
      int v = cur.board[from];
      int kind = v < 0 ? -v : v;
      int sign = v < 0 ? -1 : 1;
      int fileStep = static_cast<int>(to & 7) - static_cast<int>(from & 7);
      bool material = false;
      if (kind == 6 && (fileStep == 2 || fileStep == -2)) {
        // Castling: the rook's move, then the king's.
        unsigned rookFrom = (from & 0x70) | (fileStep > 0 ? 7u : 0u);
        unsigned rookTo = (from & 0x70) | (fileStep > 0 ? 5u : 3u);
        int rook = cur.board[rookFrom];
        Offer(rookFrom, true, rook, false);
        SetSquare(rookFrom, 0);
        SetSquare(rookTo, rook);
        Offer(rookTo, false, rook, false);
        Offer(from, true, v, false);
        SetSquare(from, 0);
        SetSquare(to, v);
        Offer(to, false, v, false);
      } else {
        if (kind == 1 && fileStep != 0 && cur.board[to] == 0) {
          // En passant: the captured pawn is removed first.
          unsigned victim = (from & 0x70) | (to & 7);
          Offer(victim, true, cur.board[victim], true);
          SetSquare(victim, 0);
          material = true;
        }
        Offer(from, true, v, false);
        int captured = cur.board[to];
        if (captured != 0) {
          Offer(to, true, captured, true);
          material = true;
        }
        SetSquare(from, 0);
        int after = pieceAfter >= 1 && pieceAfter <= 6 ? sign * pieceAfter : v;
        if (kind == 1 && after != v) {
          // Promotion: the pawn arrives on the square and leaves it again.
          Offer(to, false, v, true);
          Offer(to, true, v, true);
          material = true;
        }
        SetSquare(to, after);
        Offer(to, false, after, false);
      }
      cur.side ^= 1;
      if (material) MaterialChanged();
    }
    ++cur.plies;
    TickChains();
    TickMaterial();
  }

  void VariationStart() {
    stack.emplace_back(before, cur);
    cur = before;
    pawnsChanged = true;
  }
  void VariationEnd() {
    if (stack.empty()) return;
    // The event chains keep what happened inside the variation unless game conditions are on.
    std::vector<ChainState> chains = cur.chains;
    bool tracking = cur.tracking;
    std::int32_t trackStart = cur.trackStart;
    before = stack.back().first;
    cur = stack.back().second;
    stack.pop_back();
    if (s.gameConditionsOn == 0) {
      cur.chains = std::move(chains);
      cur.tracking = tracking;
      cur.trackStart = trackStart;
    }
    pawnsChanged = true;
  }
};

GameMatch::GameMatch(const PreparedPosition& criterion) : criterion_(criterion) {
  sides_.push_back(std::make_unique<Side>(criterion));
  for (const auto& m : criterion.mirrors_) sides_.push_back(std::make_unique<Side>(*m));
}

GameMatch::~GameMatch() = default;

void GameMatch::Begin(const std::int8_t* setupBoard, std::uint32_t setupState) {
  elements_ = 0;
  mainPlies_ = mainVariations_ = annotations_ = depth_ = 0;
  setup_ = setupBoard != nullptr;
  textMatched_ = false;
  textPosition_ = -1;
  decided_ = false;
  if (setup_) elements_ = 1;  // the set-up position is the first element
  for (auto& side : sides_) {
    side->Begin(setupBoard, setupState);
    if (!criterion_.ConditionsOnly()) side->Test(1, true);
  }
}

bool GameMatch::Move(std::uint8_t from, std::uint8_t to, std::uint8_t pieceAfter) {
  ++elements_;
  if (depth_ == 0) ++mainPlies_;
  if (criterion_.ConditionsOnly()) return true;
  bool open = false;
  for (auto& side : sides_) {
    if (depth_ > 0 && side->s.includeVariations == 0) continue;
    if (side->matched || side->stopped) {
      // A decided copy needs no more replay, but it keeps its outcome.
      continue;
    }
    side->Move(from, to, pieceAfter);
    side->Test(elements_, depth_ == 0);
    open = open || (!side->matched && !side->stopped);
  }
  // Decided when every copy stopped, or when a copy matched after all copies before it in order
  // stopped, and no game condition or annotation text needs the rest of the game.
  const PositionSettings& s = criterion_.settings();
  bool needRest = s.gameConditionsOn != 0 || s.textCommentsOn != 0;
  bool allStopped = true;
  for (auto& side : sides_) {
    if (side->matched) {
      if (!needRest) decided_ = true;
      allStopped = false;
      break;
    }
    if (!side->stopped) {
      allStopped = false;
      break;
    }
  }
  if (allStopped) decided_ = true;
  (void)open;
  return !decided_;
}

bool GameMatch::VariationStart() {
  ++elements_;
  if (depth_ == 0) ++mainVariations_;
  ++depth_;
  for (auto& side : sides_) {
    if (side->s.includeVariations != 0 && !side->matched && !side->stopped) side->VariationStart();
  }
  return !decided_;
}

bool GameMatch::VariationEnd() {
  ++elements_;
  if (depth_ > 0) --depth_;
  for (auto& side : sides_) {
    if (side->s.includeVariations != 0 && !side->matched && !side->stopped) side->VariationEnd();
  }
  return !decided_;
}

bool GameMatch::Annotation(const std::uint8_t* bytes, std::int32_t n) {
  ++elements_;
  ++annotations_;
  const PositionSettings& s = criterion_.settings();
  if (s.textCommentsOn != 0 && (depth_ == 0 || s.includeVariations != 0) && !textMatched_) {
    for (const TextCommentEntry& e : s.textComments) {
      if (TextMatches(e, bytes, n)) {
        textMatched_ = true;
        textPosition_ = elements_;
        break;
      }
    }
  }
  return !decided_;
}

bool GameMatch::Finish(std::int32_t* matchPosition) {
  const PositionSettings& s = criterion_.settings();
  std::int32_t position = -1;
  bool ok;
  if (criterion_.ConditionsOnly()) {
    ok = true;
    position = elements_;
  } else {
    ok = false;
    for (auto& side : sides_) {
      if (side->matched) {
        ok = true;
        position = side->matchPosition;
        break;
      }
    }
  }
  if (ok && s.setupStart != 0 && !setup_) ok = false;
  if (ok && !s.lengths.empty()) {
    std::int32_t moves = (mainPlies_ + 1) / 2;
    bool in = false;
    for (const auto& [lower, upper] : s.lengths) in = in || (moves >= lower && moves <= upper);
    ok = in;
  }
  if (ok && mainVariations_ < s.minVariations) ok = false;
  if (ok && s.commentFlag != 0 && annotations_ == 0) ok = false;
  if (ok && s.anyComment != 0 && annotations_ == 0 && mainVariations_ == 0) ok = false;
  if (ok && s.textCommentsOn != 0) {
    ok = textMatched_;
    if (ok && (criterion_.ConditionsOnly() || textPosition_ > position)) position = textPosition_;
  }
  if (matchPosition != nullptr) *matchPosition = ok ? position : -1;
  return ok;
}

// ---- Drivers -------------------------------------------------------------------------------

bool MatchGame(const PreparedPosition& criterion, Game* game, std::int32_t* matchPosition) {
  GameMatch m(criterion);
  ChessElement e;
  bool setup = GameRewind(game) != 0;
  if (setup && GameNext(game, &e) && e.kind == kElementSetup && e.board != nullptr) {
    m.Begin(e.board, e.state);
  } else {
    m.Begin(nullptr, 0);
    GameRewind(game);
  }
  while (GameNext(game, &e)) {
    bool more = true;
    switch (e.kind) {
      case kElementMove: more = m.Move(e.from, e.to, e.piece); break;
      case kElementVariationStart: more = m.VariationStart(); break;
      case kElementVariationEnd: more = m.VariationEnd(); break;
      case kElementAnnotation:
        more = m.Annotation(e.bytes, static_cast<std::int32_t>(e.bytes != nullptr ? e.count : 0));
        break;
      default: break;
    }
    if (!more) break;
  }
  return m.Finish(matchPosition);
}

bool MatchNativeBytes(const PreparedPosition& criterion, const std::uint8_t* bytes,
                      std::int32_t length, std::int32_t* matchPosition) {
  GameMatch m(criterion);
  NativeReplay replay, before;
  std::vector<std::pair<NativeReplay, NativeReplay>> stack;
  std::int32_t at = 0;
  if (length > 0 && bytes[0] == 0xE6) {
    if (replay.Play(bytes, length) != 77) {
      m.Begin(nullptr, 0);
      return m.Finish(matchPosition);
    }
    std::uint32_t state = static_cast<std::uint32_t>(replay.Side());
    m.Begin(replay.Board(), state);
    at = 77;
  } else {
    m.Begin(nullptr, 0);
  }
  before = replay;
  while (at < length && bytes[at] < 0xED) {
    const std::uint8_t c = bytes[at];
    bool more = true;
    if (c == 0xE7) {
      stack.emplace_back(before, replay);
      replay = before;
      more = m.VariationStart();
      ++at;
    } else if (c == 0xE8) {
      if (!stack.empty()) {
        before = stack.back().first;
        replay = stack.back().second;
        stack.pop_back();
      }
      more = m.VariationEnd();
      ++at;
    } else if (c >= 0xE9 && c <= 0xEC) {
      std::int64_t head, n;
      std::int64_t left = length - at;
      if (c == 0xE9) {
        head = 1, n = 1;
      } else if (c == 0xEA) {
        head = 1, n = 2;
      } else if (c == 0xEB) {
        if (left < 2) break;
        head = 2, n = bytes[at + 1];
      } else {
        if (left < 5) break;
        head = 5, n = Le32(bytes + at + 1);
      }
      if (left - head < n) break;
      more = m.Annotation(bytes + at + head, static_cast<std::int32_t>(n));
      at += static_cast<std::int32_t>(head + n);
    } else if (c == 0xE6) {
      break;  // a set-up position inside a game: the game's bytes are damaged
    } else {
      NativeReplay last = replay;
      int used = replay.Play(bytes + at, length - at);
      if (used <= 0) break;
      before = last;
      more = m.Move(replay.LastFrom(), replay.LastTo(), replay.LastPiece());
      at += used;
    }
    if (!more) break;
  }
  return m.Finish(matchPosition);
}

}  // namespace ludrex
