#include "search/copyman.h"

#include <algorithm>
#include <cstring>

#include "base/base.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "record/field_chess.h"
#include "record/field_types.h"
#include "record/record.h"
#include "search/sort.h"
#include "search/subset.h"
#include "storage/files.h"
#include "storage/memory.h"

namespace ludrex {
namespace {

// Codes of the native game score as the walk sees them.
constexpr std::uint8_t kPromotion = 209;     // three-byte move
constexpr std::uint8_t kEnPassant = 210;     // two-byte move
constexpr std::uint8_t kNullMove = 211;      // one-byte move
constexpr std::uint8_t kLongFirst = 212;     // 212..229: two-byte moves
constexpr std::uint8_t kLongLast = 229;
constexpr std::uint8_t kSetup = 230;         // 77-byte item, counted as a move
constexpr std::uint8_t kVarStart = 231;
constexpr std::uint8_t kVarEnd = 232;
constexpr std::uint8_t kNote2 = 233;         // two-byte annotation item
constexpr std::uint8_t kNote3 = 234;         // three-byte annotation item
constexpr std::uint8_t kTextShort = 235;     // text with a one-byte length
constexpr std::uint8_t kTextLong = 236;      // text with a four-byte length
constexpr std::uint8_t kEnd = 237;

enum class Kind { kMove, kNote, kEnd, kUnknown };

// The kind and whole length of the code at bytes[pos]; length 0 when it runs past n.
inline Kind CodeAt(const std::uint8_t* b, std::int32_t n, std::int32_t pos, std::int64_t& len) {
  std::uint8_t c = b[pos];
  Kind kind;
  if (c < kPromotion || c == kNullMove) {
    len = 1;
    kind = Kind::kMove;
  } else if (c == kPromotion) {
    len = 3;
    kind = Kind::kMove;
  } else if (c == kEnPassant || (c >= kLongFirst && c <= kLongLast)) {
    len = 2;
    kind = Kind::kMove;
  } else if (c == kSetup) {
    len = 77;
    kind = Kind::kMove;
  } else if (c == kVarStart || c == kVarEnd) {
    len = 1;
    kind = Kind::kNote;
  } else if (c == kNote2) {
    len = 2;
    kind = Kind::kNote;
  } else if (c == kNote3) {
    len = 3;
    kind = Kind::kNote;
  } else if (c == kTextShort) {
    len = pos + 1 < n ? 2 + static_cast<std::int64_t>(b[pos + 1]) : 0;
    kind = Kind::kNote;
  } else if (c == kTextLong) {
    if (pos + 5 <= n) {
      std::uint32_t v;
      std::memcpy(&v, b + pos + 1, 4);
      len = 5 + static_cast<std::int64_t>(v);
    } else {
      len = 0;
    }
    kind = Kind::kNote;
  } else if (c == kEnd) {
    len = 1;
    return Kind::kEnd;
  } else {
    len = 1;
    return Kind::kUnknown;
  }
  if (len == 0 || pos + len > n) len = 0;
  return kind;
}

// The walk itself. Main-line moves of plies in (first, last] go to moves, annotation bytes (with
// the flag) to notes; each has room for n bytes. last < 0 counts the plies only. Without the
// annotations a walk may stop early: once the count has passed settle (>= 0) and no more moves
// can be copied, the rest of the game changes nothing the caller asks about.
std::int32_t Walk(const std::uint8_t* b, std::int32_t n, std::int32_t first, std::int64_t last,
                  std::int64_t settle, bool annotations, std::uint8_t* moves,
                  std::int32_t& movesLength, std::uint8_t* notes, std::int32_t& notesLength) {
  std::int32_t pos = 0, depth = 0, ply = 0, nm = 0, nn = 0;
  const bool early = settle >= 0 && !annotations;
  while (pos < n) {
    std::int64_t len;
    Kind kind = CodeAt(b, n, pos, len);
    if (kind == Kind::kEnd) break;
    if (kind == Kind::kUnknown) {
      // Codes 238-255: passed over with the annotations, an end without them.
      if (!annotations) break;
      ++pos;
      continue;
    }
    if (len == 0) break;  // cut short
    if (kind == Kind::kMove) {
      if (depth == 0) {
        ++ply;
        if (moves != nullptr && ply > first && ply <= last) {
          std::memcpy(moves + nm, b + pos, static_cast<std::size_t>(len));
          nm += static_cast<std::int32_t>(len);
        }
        if (early && ply > settle && ply >= last) break;
      }
    } else {
      if (b[pos] == kVarStart) {
        ++depth;
      } else if (b[pos] == kVarEnd && depth > 0) {
        --depth;
      }
      if (annotations && notes != nullptr) {
        std::memcpy(notes + nn, b + pos, static_cast<std::size_t>(len));
        nn += static_cast<std::int32_t>(len);
      }
    }
    pos += static_cast<std::int32_t>(len);
  }
  movesLength = nm;
  notesLength = nn;
  return ply;
}

// The last ply of the key for a game of n bytes.
std::int64_t LastPly(const std::uint8_t* b, std::int32_t n, const CopyManSettings& s) {
  if (s.fromEnd == 0) return s.lastPly;
  std::int32_t unused1, unused2;
  std::int32_t plies = Walk(b, n, 0, -1, -1, s.annotations, nullptr, unused1, nullptr, unused2);
  return std::max<std::int64_t>(0, static_cast<std::int64_t>(plies) - s.fromEnd);
}

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

// The moves field of a record (meaning 22, game-score type), or -1.
std::int32_t MovesFieldOf(const Record& r) {
  for (std::int32_t i = 0; i < r.Count(); ++i) {
    if (r[i].TypeCode() == kChessType && r[i].Meaning() == kMeaningMoves) return i;
  }
  return -1;
}

// The native bytes of a game-score field: its raw bytes in game-score mode, else the encoding
// of its game (without the key's closing 0x00).
const std::uint8_t* GameBytes(const ChessField& f, std::vector<std::uint8_t>& scratch,
                              std::int32_t& n) {
  if (f.RawMode()) {
    n = f.RawLength();
    return f.RawBytes();
  }
  if (scratch.size() < 256) scratch.resize(256);
  std::int32_t k = f.PutKey(scratch.data(), static_cast<std::int32_t>(scratch.size()));
  if (k < 0) {
    scratch.resize(static_cast<std::size_t>(-k));
    k = f.PutKey(scratch.data(), static_cast<std::int32_t>(scratch.size()));
  }
  n = k > 0 ? k - 1 : 0;
  return scratch.data();
}

// Appends field f's key to key[0, length); key only grows.
void AppendKey(const Field& f, std::vector<std::uint8_t>& key, std::size_t& length) {
  for (;;) {
    if (key.size() < length + 64) key.resize(length + 256);
    std::int32_t k =
        f.PutKey(key.data() + length, static_cast<std::int32_t>(key.size() - length));
    if (k >= 0) {
      length += static_cast<std::size_t>(k);
      return;
    }
    key.resize(length + static_cast<std::size_t>(-k));
  }
}

}  // namespace

std::int32_t WalkGameScore(const std::uint8_t* bytes, std::int32_t n, const CopyManSettings& s,
                           std::vector<std::uint8_t>& moves, std::vector<std::uint8_t>* notes) {
  if (bytes == nullptr || n <= 0) return 0;
  const std::int64_t last = LastPly(bytes, n, s);
  std::size_t m0 = moves.size(), n0 = notes != nullptr ? notes->size() : 0;
  moves.resize(m0 + static_cast<std::size_t>(n));
  if (notes != nullptr) notes->resize(n0 + static_cast<std::size_t>(n));
  std::int32_t nm, nn;
  std::int32_t plies = Walk(bytes, n, s.firstPly, last, -1, s.annotations, moves.data() + m0, nm,
                            notes != nullptr ? notes->data() + n0 : nullptr, nn);
  moves.resize(m0 + static_cast<std::size_t>(nm));
  if (notes != nullptr) notes->resize(n0 + static_cast<std::size_t>(nn));
  return plies;
}

GameScoreStats GameStats(const std::uint8_t* b, std::int32_t n) {
  GameScoreStats st;
  std::int32_t pos = 0, depth = 0;
  while (b != nullptr && pos < n) {
    std::int64_t len;
    Kind kind = CodeAt(b, n, pos, len);
    if (kind == Kind::kEnd) break;
    if (kind == Kind::kUnknown) {
      ++pos;
      continue;
    }
    if (len == 0) break;
    std::uint8_t c = b[pos];
    if (kind == Kind::kMove) {
      if (depth == 0) ++st.plies;
    } else if (c == kVarStart) {
      ++depth;
      st.annotation += 1u << 24;
    } else if (c == kVarEnd) {
      if (depth > 0) --depth;
    } else if (c == kNote2) {
      st.annotation += 1;
    } else if (c == kNote3) {
      st.annotation += 2;
    } else if (c == kTextShort) {
      st.annotation += static_cast<std::uint64_t>(len - 2) + 1;
    } else if (c == kTextLong) {
      st.annotation += static_cast<std::uint64_t>(len - 5) + 4;
    }
    pos += static_cast<std::int32_t>(len);
  }
  return st;
}

bool KeysJoin(const std::uint8_t* a, std::int32_t na, const std::uint8_t* b, std::int32_t nb,
              bool prefix) {
  if (prefix) return na <= nb && (na == 0 || std::memcmp(a, b, static_cast<std::size_t>(na)) == 0);
  return na == nb && (na == 0 || std::memcmp(a, b, static_cast<std::size_t>(na)) == 0);
}

CopyMan::~CopyMan() = default;

void CopyMan::PutMember(std::int32_t at, std::uint32_t number) {
  list_->Write(at, &number, 1);
}

std::unique_ptr<CopyMan> CopyMan::Find(Base* base1, Subset* subset1, Base* base2,
                                       Subset* subset2, const RecordPattern& pattern,
                                       const CopyManSettings& s) {
  const bool two = base2 != nullptr && subset2 != nullptr;
  std::unique_ptr<CopyMan> cm(new CopyMan());
  cm->bases_[0] = base1;
  cm->subsets_[0] = subset1;
  if (two) {
    cm->bases_[1] = base2;
    cm->subsets_[1] = subset2;
  }
  cm->settings_ = s;
  cm->length1_ = subset1->CurLength();
  const std::int64_t total64 =
      static_cast<std::int64_t>(cm->length1_) + (two ? subset2->CurLength() : 0);
  if (total64 > 0x7FFFFFFF) Raise(702);
  const std::int32_t total = static_cast<std::int32_t>(total64);
  cm->total_ = total;
  const std::int32_t nBases = two ? 2 : 1;

  auto refuse = [] {
    ProgressBegin("", 1);
    ProgressEnd();
    return std::unique_ptr<CopyMan>();
  };
  const std::uint64_t free = FreeSpaceTemp();
  if (free < static_cast<std::uint64_t>(105 * total64) && !SpaceQuestion(105 * total64, 926, free))
    return refuse();

  // One record per base: a game score is kept as its native bytes where the base is native,
  // and with one base library references compare by record number alone.
  std::unique_ptr<Record> records[2];
  std::int32_t movesField = -1;
  bool scoreMode[2] = {false, false};
  for (std::int32_t k = 0; k < nBases; ++k) {
    records[k].reset(new Record(pattern));
    Record& r = *records[k];
    movesField = MovesFieldOf(r);
    for (std::int32_t i = 0; i < r.Count(); ++i) {
      Field& f = r[i];
      if (!two && f.TypeCode() == kLibRefType) f.SetFlags(f.Flags() | kFlagIndexOnly);
    }
    if (movesField >= 0) {
      Field& f = r[movesField];
      std::uint32_t flags = f.Flags() & ~kFlagDescending;
      scoreMode[k] = cm->bases_[k]->Type() == 0;
      if (scoreMode[k]) flags |= kFlagRawGame;
      f.SetFlags(flags);
    }
    r.LinkToBase(cm->bases_[k]);
  }

  std::int32_t g1 = std::min<std::int32_t>(static_cast<std::int32_t>(total * 0.005), 1000);
  if (scoreMode[0]) g1 *= 3;
  const std::int32_t g2 = static_cast<std::int32_t>(total * 0.01);

  cm->list_ = ArrayHandle(NewBufArray(NewFileArray(0, nullptr), 4096, 4096));
  cm->list_->Init(4);
  std::unique_ptr<KeySorter> sorter(new KeySorter());

  // Pass 1: the keys.
  ProgressGuard progress;
  progress.Begin(941, g1);
  sorter->BeginRuns(10000);
  std::vector<std::uint8_t> key(1024), moves, scratch;
  bool stopped = false;
  {
    // The records are read in ascending order through the base's buffered windows; the base's
    // fast access would hold its whole data in memory, where the search needs no more than the
    // sorter's runs.
    std::int32_t number = 0;
    for (std::int32_t k = 0; k < nBases && !stopped; ++k) {
      Base* base = cm->bases_[k];
      Subset* subset = cm->subsets_[k];
      Record& r = *records[k];
      for (std::int32_t rec = subset->SeqInitBase(0); rec >= 0; rec = subset->SeqNext()) {
        if (ProgressStep(number, total) != 0) {
          stopped = true;
          break;
        }
        base->Read(rec, r);
        std::size_t length = 0;
        if (movesField < 0) {
          for (std::int32_t i = 0; i < r.Count(); ++i) AppendKey(r[i], key, length);
        } else {
          std::int32_t n;
          const std::uint8_t* bytes =
              GameBytes(static_cast<const ChessField&>(r[movesField]), scratch, n);
          for (std::int32_t i = 0; i < r.Count(); ++i) {
            if (i != movesField) AppendKey(r[i], key, length);
          }
          const std::int64_t last = LastPly(bytes, n, s);
          if (key.size() < length + static_cast<std::size_t>(n)) {
            key.resize(length + static_cast<std::size_t>(n) + 256);
          }
          std::int32_t nm = 0, nn = 0, plies;
          if (!s.annotations) {
            plies = Walk(bytes, n, s.firstPly, last, s.minPlies, false, key.data() + length, nm,
                         nullptr, nn);
          } else {
            if (moves.size() < static_cast<std::size_t>(n)) moves.resize(static_cast<std::size_t>(n));
            plies = Walk(bytes, n, s.firstPly, last, -1, true, moves.data(), nm,
                         key.data() + length, nn);
            std::memcpy(key.data() + length + nn, moves.data(), static_cast<std::size_t>(nm));
          }
          if (plies <= s.minPlies) {
            ++number;
            continue;
          }
          length += static_cast<std::size_t>(nn) + static_cast<std::size_t>(nm);
        }
        sorter->Add(key.data(), static_cast<std::int32_t>(length),
                    static_cast<std::uint32_t>(number));
        ++number;
      }
      subset->SeqStop();
    }
  }
  sorter->EndRuns();
  if (stopped) return nullptr;

  // Pass 2: runs of joining keys become groups.
  progress.Begin(942, g2);
  sorter->BeginMerge();
  std::vector<std::uint8_t> previous;
  std::int32_t groupStart = 0, groupSize = 0, at = 0;
  std::uint32_t firstNumber = 0;
  for (std::int32_t done = 0; sorter->HasNext(); ++done) {
    if (ProgressStep(done, total) != 0) {
      stopped = true;
      break;
    }
    const std::uint8_t* k = sorter->CurrentKey();
    std::int32_t n = sorter->CurrentLength();
    std::uint32_t number = sorter->CurrentValue();
    if (groupSize > 0 && KeysJoin(previous.data(), static_cast<std::int32_t>(previous.size()), k,
                                  n, s.prefix)) {
      if (groupSize == 1) {
        cm->positions_.emplace_back(firstNumber, static_cast<std::uint32_t>(groupStart));
      }
      cm->PutMember(at, number);
      cm->positions_.emplace_back(number, static_cast<std::uint32_t>(at));
      ++at;
      ++groupSize;
    } else {
      if (groupSize >= 2) {
        cm->starts_.push_back(groupStart);
      } else if (groupSize == 1) {
        at = groupStart;  // a single element: its slot is reused
      }
      groupStart = at;
      cm->PutMember(at, number);
      firstNumber = number;
      ++at;
      groupSize = 1;
    }
    previous.assign(k, k + n);
    sorter->Next();
  }
  sorter->EndMerge();
  if (stopped) return nullptr;
  if (groupSize >= 2) {
    cm->starts_.push_back(groupStart);
  } else if (groupSize == 1) {
    at = groupStart;
  }
  cm->members_ = at;
  std::sort(cm->positions_.begin(), cm->positions_.end());
  cm->list_->Flush();
  return cm;
}

std::int32_t CopyMan::ElementsInGroup(std::int32_t g) const {
  if (g < 0 || g >= Groups()) return -1;
  std::int32_t end = g + 1 < Groups() ? starts_[static_cast<std::size_t>(g) + 1] : members_;
  return end - starts_[static_cast<std::size_t>(g)];
}

std::int32_t CopyMan::GetElement(std::int32_t g, std::int32_t e) {
  std::int32_t size = ElementsInGroup(g);
  if (size < 0 || e < 0 || e >= size) return -1;
  std::uint32_t v;
  list_->Read(starts_[static_cast<std::size_t>(g)] + e, &v, 1);
  return static_cast<std::int32_t>(v);
}

std::int32_t CopyMan::SelectBest(std::int32_t* out, const std::int8_t* criteria) {
  if (Groups() == 0) return 0;
  // The bit offset of each criterion, or -1 when not used; a criterion named twice counts once.
  static constexpr std::int32_t kWidth[4] = {16, 32, 15, 1};
  std::int32_t shift[4] = {-1, -1, -1, -1};
  std::int32_t bit = 0;
  for (std::int32_t i = 0; i < 4 && criteria != nullptr; ++i) {
    std::int32_t c = criteria[i];
    if (c < 0 || c > 3 || shift[c] >= 0) continue;
    shift[c] = bit;
    bit += kWidth[c];
  }
  const bool needGame = shift[0] >= 0 || shift[1] >= 0;
  const bool needHeader = shift[2] >= 0;
  const std::int32_t nBases = bases_[1] != nullptr ? 2 : 1;

  // The records to read: the moves field alone, or the base's whole pattern for criterion 2.
  std::unique_ptr<Record> records[2];
  std::int32_t movesField[2] = {-1, -1};
  if (needGame || needHeader) {
    for (std::int32_t k = 0; k < nBases; ++k) {
      Base* base = bases_[k];
      const RecordPattern& own = base->GetRecordPattern();
      RecordPattern p;
      for (std::int32_t i = 0; i < own.Count(); ++i) {
        bool moves = own[i].type == kChessType && UnpackFieldMeaning(own[i].name) == kMeaningMoves;
        if (!needHeader && !moves) continue;
        FieldSpec spec = own[i];
        if (base->Type() == 0) {
          if (moves) spec.flags |= kFlagRawGame;
          if (spec.type == kLibRefType) spec.flags |= kFlagIndexOnly;
        }
        spec.flags &= ~kFlagDescending;
        p.Append(spec);
      }
      records[k].reset(new Record(p));
      records[k]->LinkToBase(base);
      movesField[k] = MovesFieldOf(*records[k]);
    }
  }

  ProgressGuard progress;
  progress.Begin(1060, 1000);
  std::vector<std::uint64_t> score(static_cast<std::size_t>(members_), 0);
  std::vector<std::uint8_t> scratch;
  std::int32_t done = 0;
  for (const auto& [number, position] : positions_) {
    if (ProgressStep(done, members_) != 0) return 0;
    ++done;
    std::int32_t k = static_cast<std::int32_t>(number) >= length1_ ? 1 : 0;
    std::uint64_t v = 0;
    if (shift[3] >= 0 && k == settings_.preferred) v |= std::uint64_t{1} << shift[3];
    if (records[k] != nullptr) {
      Record& r = *records[k];
      std::int32_t member = static_cast<std::int32_t>(number) - (k == 1 ? length1_ : 0);
      bases_[k]->Read(subsets_[k]->BaseNum(member), r);
      if (needHeader) {
        std::uint64_t h = 0;
        for (std::int32_t i = 0; i < r.Count(); ++i) {
          if (r[i].IsEmpty() != 0) continue;
          std::int32_t m = r[i].Meaning();
          if (m == kMeaningWhite || m == kMeaningBlack || m == kMeaningMoves) {
            h += 64;
          } else if (m == kMeaningPlace || m == 15 /* date */ || m == kMeaningTournament) {
            h += 8;
          } else {
            h += 1;
          }
        }
        v |= std::min<std::uint64_t>(h, 0x7FFF) << shift[2];
      }
      if (needGame && movesField[k] >= 0) {
        std::int32_t n;
        const std::uint8_t* bytes =
            GameBytes(static_cast<const ChessField&>(r[movesField[k]]), scratch, n);
        GameScoreStats st = GameStats(bytes, n);
        if (shift[0] >= 0) {
          v |= std::min<std::uint64_t>(static_cast<std::uint64_t>(st.plies), 0xFFFF) << shift[0];
        }
        if (shift[1] >= 0) v |= std::min<std::uint64_t>(st.annotation, 0xFFFFFFFFu) << shift[1];
      }
    }
    score[position] = v;
  }
  for (std::int32_t g = 0; g < Groups(); ++g) {
    if (ProgressStep(g, Groups()) != 0) return 0;
    std::int32_t start = starts_[static_cast<std::size_t>(g)];
    std::int32_t size = ElementsInGroup(g);
    std::int32_t best = 0;
    for (std::int32_t e = 1; e < size; ++e) {
      if (score[static_cast<std::size_t>(start + e)] > score[static_cast<std::size_t>(start + best)])
        best = e;
    }
    out[g] = best;
  }
  return 1;
}

}  // namespace ludrex
