#include "search/chess_crit.h"

#include <cstring>

#include "frame/error.h"
#include "record/field_chess.h"
#include "record/field_types.h"

namespace ludrex {
namespace {

void PutU32(ByteBlock& out, std::uint32_t v) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  out.Append(b, 4);
}
void PutI32(ByteBlock& out, std::int32_t v) { PutU32(out, static_cast<std::uint32_t>(v)); }

// Reads the packed form; every read checks the room left, so a short or damaged block leaves the
// remaining settings at their defaults.
class Reader {
 public:
  Reader(const std::uint8_t* bytes, std::int32_t length) : p_(bytes), n_(bytes ? length : 0) {}
  bool U32(std::uint32_t* v) {
    if (n_ - at_ < 4) return Fail();
    const std::uint8_t* q = p_ + at_;
    *v = static_cast<std::uint32_t>(q[0]) | static_cast<std::uint32_t>(q[1]) << 8 |
         static_cast<std::uint32_t>(q[2]) << 16 | static_cast<std::uint32_t>(q[3]) << 24;
    at_ += 4;
    return true;
  }
  bool I32(std::int32_t* v) {
    std::uint32_t u = 0;
    if (!U32(&u)) return false;
    *v = static_cast<std::int32_t>(u);
    return true;
  }
  bool Byte(std::uint8_t* v) {
    if (n_ - at_ < 1) return Fail();
    *v = p_[at_++];
    return true;
  }
  // A count of items of at least itemSize bytes each that the rest can hold.
  bool Count(std::uint32_t* v, std::int32_t itemSize) {
    if (!U32(v)) return false;
    if (*v > static_cast<std::uint32_t>((n_ - at_) / itemSize)) return Fail();
    return true;
  }
  bool Text(std::string* s) {
    std::uint32_t len = 0;
    if (!Count(&len, 1)) return false;
    s->assign(reinterpret_cast<const char*>(p_ + at_), len);
    at_ += static_cast<std::int32_t>(len);
    return true;
  }
  bool Bytes(std::vector<std::uint8_t>* out, std::uint32_t len) {
    if (len > static_cast<std::uint32_t>(n_ - at_)) return Fail();
    out->assign(p_ + at_, p_ + at_ + len);
    at_ += static_cast<std::int32_t>(len);
    return true;
  }
  bool ok() const { return ok_; }

 private:
  bool Fail() {
    ok_ = false;
    at_ = n_;
    return false;
  }
  const std::uint8_t* p_;
  std::int32_t n_;
  std::int32_t at_ = 0;
  bool ok_ = true;
};

int TestChess(const Field& field, const Field& criterion) {
  if (criterion.TypeCode() != (kChessType | kCriterionBit)) Raise(803);
  return MatchChessField(field, static_cast<const ChessFieldCrit&>(criterion));
}

Field* MakeChessCrit(const FieldSpec& spec) { return new ChessFieldCrit(spec); }

}  // namespace

ChessFieldCrit::ChessFieldCrit(const FieldSpec& spec) : FieldCrit(spec) {}

void ChessFieldCrit::Assign(const Field& other) {
  FieldCrit::Assign(other);
  s_ = static_cast<const ChessFieldCrit&>(other).s_;
  Prepare();
}

void ChessFieldCrit::SetEmpty() {
  s_ = PositionSettings();
  prepared_.reset();
}

std::int32_t ChessFieldCrit::ConditionsOn(const PositionSettings& s) {
  return !s.lengths.empty() || s.minVariations != 0 || s.commentFlag != 0 || s.anyComment != 0
             ? 1
             : 0;
}

void ChessFieldCrit::Prepare() {
  s_.gameConditionsOn = ConditionsOn(s_);
  prepared_ = std::make_unique<PreparedPosition>(s_);
}

const PreparedPosition& ChessFieldCrit::Prepared() const {
  if (prepared_ == nullptr) const_cast<ChessFieldCrit*>(this)->Prepare();
  return *prepared_;
}

void ChessFieldCrit::PackNative(ByteBlock& out) {
  const PositionSettings& s = s_;
  std::int32_t conditions = ConditionsOn(s);
  const std::int32_t header[15] = {s.sideMask,     s.includeVariations, s.positionOn,
                                   s.regionsOn,    s.regionFlag,        conditions,
                                   s.minVariations, s.setupStart,       s.commentFlag,
                                   s.anyComment,   s.eventListOn,       s.matDiffOn,
                                   s.mirrorOn,     s.bishopsOn,         s.textCommentsOn};
  for (std::int32_t v : header) PutI32(out, v);
  if (s.positionOn != 0) {
    for (std::uint32_t m : s.squareMasks) PutU32(out, m);
  }
  if (s.regionsOn != 0) {
    for (std::uint32_t m : s.regionMasks) PutU32(out, m);
    for (const auto& region : s.material) {
      for (const auto& pair : region) {
        PutI32(out, pair[0]);
        PutI32(out, pair[1]);
      }
    }
  }
  if (conditions != 0) {
    PutU32(out, static_cast<std::uint32_t>(s.lengths.size()));
    for (const auto& p : s.lengths) {
      PutI32(out, p.first);
      PutI32(out, p.second);
    }
  }
  if (s.eventListOn != 0) {
    PutI32(out, s.eventFlag);
    out.Append(s.eventList.data(), static_cast<std::int32_t>(s.eventList.size()));
  }
  if (s.matDiffOn != 0) {
    for (std::int32_t v : s.matMin) PutI32(out, v);
    for (std::int32_t v : s.matMax) PutI32(out, v);
    PutI32(out, s.persistence);
    PutU32(out, s.countRange);
  }
  if (s.mirrorOn != 0) PutI32(out, s.mirrorValue);
  if (s.bishopsOn != 0) PutI32(out, s.bishopsKind);
  if (s.textCommentsOn != 0) {
    PutU32(out, static_cast<std::uint32_t>(s.textComments.size()));
    for (const TextCommentEntry& e : s.textComments) {
      // An entry without a text packs it as length 0xFFFFFFFF, so "no text" and "empty text"
      // survive the round trip.
      PutU32(out, e.hasPrefix ? static_cast<std::uint32_t>(e.prefix.size()) : 0xFFFFFFFFu);
      out.Append(reinterpret_cast<const std::uint8_t*>(e.prefix.data()),
                 static_cast<std::int32_t>(e.prefix.size()));
      PutU32(out, e.hasInfo ? static_cast<std::uint32_t>(e.info.size()) : 0xFFFFFFFFu);
      out.Append(reinterpret_cast<const std::uint8_t*>(e.info.data()),
                 static_cast<std::int32_t>(e.info.size()));
      out.Append(&e.searchType, 1);
      PutI32(out, e.caseSensitive);
    }
  }
}

void ChessFieldCrit::UnpackNative(const std::uint8_t* bytes, std::int32_t length) {
  PositionSettings s;
  Reader r(bytes, length);
  std::int32_t conditions = 0;
  std::int32_t* header[15] = {&s.sideMask,      &s.includeVariations, &s.positionOn,
                              &s.regionsOn,     &s.regionFlag,        &conditions,
                              &s.minVariations, &s.setupStart,        &s.commentFlag,
                              &s.anyComment,    &s.eventListOn,       &s.matDiffOn,
                              &s.mirrorOn,      &s.bishopsOn,         &s.textCommentsOn};
  for (std::int32_t* v : header) r.I32(v);
  if (s.positionOn != 0) {
    for (std::uint32_t& m : s.squareMasks) r.U32(&m);
  }
  if (s.regionsOn != 0) {
    for (std::uint32_t& m : s.regionMasks) r.U32(&m);
    for (auto& region : s.material) {
      for (auto& pair : region) {
        r.I32(&pair[0]);
        r.I32(&pair[1]);
      }
    }
  }
  if (conditions != 0) {
    std::uint32_t n = 0;
    if (r.Count(&n, 8)) {
      for (std::uint32_t i = 0; i < n; ++i) {
        std::int32_t lo = 0, hi = 0;
        r.I32(&lo);
        r.I32(&hi);
        s.lengths.push_back({lo, hi});
      }
    }
  }
  if (s.eventListOn != 0) {
    r.I32(&s.eventFlag);
    Reader peek = r;
    std::uint32_t size = 0;
    if (peek.U32(&size) && size >= 4 && r.Bytes(&s.eventList, size)) {
      // the block keeps its own length as its first value
    } else {
      s.eventListOn = 0;
      s.eventList.clear();
    }
  }
  if (s.matDiffOn != 0) {
    for (std::int32_t& v : s.matMin) r.I32(&v);
    for (std::int32_t& v : s.matMax) r.I32(&v);
    r.I32(&s.persistence);
    r.U32(&s.countRange);
  }
  if (s.mirrorOn != 0) r.I32(&s.mirrorValue);
  if (s.bishopsOn != 0) r.I32(&s.bishopsKind);
  if (s.textCommentsOn != 0) {
    std::uint32_t n = 0;
    if (r.Count(&n, 13)) {
      for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
        TextCommentEntry e;
        for (int part = 0; part < 2; ++part) {
          std::string& text = part == 0 ? e.prefix : e.info;
          bool& has = part == 0 ? e.hasPrefix : e.hasInfo;
          Reader peek = r;
          std::uint32_t len = 0;
          if (!peek.U32(&len)) break;
          if (len == 0xFFFFFFFFu) {
            r.U32(&len);
            has = false;
          } else {
            has = r.Text(&text);
          }
        }
        r.Byte(&e.searchType);
        r.I32(&e.caseSensitive);
        if (r.ok()) s.textComments.push_back(std::move(e));
      }
    }
  }
  s_ = std::move(s);
  Prepare();
}

int MatchChessField(const Field& field, const ChessFieldCrit& criterion) {
  const auto& chess = static_cast<const ChessField&>(field);
  auto& mutableField = const_cast<ChessField&>(chess);
  std::int32_t position = -1;
  bool matched;
  if (chess.RawMode()) {
    matched = MatchNativeBytes(criterion.Prepared(), chess.RawBytes(), chess.RawLength(),
                               &position);
  } else {
    matched = MatchGame(criterion.Prepared(), chess.GetGame(), &position);
  }
  mutableField.matchPly_ = matched ? position : -1;
  return matched ? 1 : 0;
}

// The game-score field tests native bytes code by code while they are decoded, without building
// its game (the field's value is left as it was: a search record only keeps the results); other
// base types decode and then match.
int ChessField::UnpackAndTest(std::int32_t baseType, const std::uint8_t* bytes,
                              std::int32_t length, const String& param) {
  auto isChessCrit = [](const Field* c) {
    return c == nullptr || c->TypeCode() == (kChessType | kCriterionBit);
  };
  if (baseType != kNativeBase || RawMode() || !isChessCrit(critA_) || !isChessCrit(critB_)) {
    return Field::UnpackAndTest(baseType, bytes, length, param);
  }
  if (bytes == nullptr || length < 0) length = 0;
  auto test = [&](const Field* c) {
    if (c == nullptr) return 1;
    std::int32_t position = -1;
    bool matched = MatchNativeBytes(static_cast<const ChessFieldCrit*>(c)->Prepared(), bytes,
                                    length, &position);
    matchPly_ = matched ? position : -1;
    return matched ? 1 : 0;
  };
  resultA_ = test(critA_);
  resultB_ = test(critB_);
  return resultB_;
}

void InstallChessCriterion() {
  SetChessCriterionFactory(&MakeChessCrit);
  SetCriterionTest(kChessType, &TestChess);
}

}  // namespace ludrex
