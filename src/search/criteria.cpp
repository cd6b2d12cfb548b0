#include "search/criteria.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "base/base.h"
#include "frame/error.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/chess_crit.h"
#include "search/subset.h"

namespace ludrex {
namespace {

ChessCriterionFactory g_chessFactory = nullptr;

void PutU32(ByteBlock& out, std::uint32_t v) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  out.Append(b, 4);
}

// Reads a little-endian 32-bit value at *at when four bytes remain; advances *at.
bool GetU32(const std::uint8_t* bytes, std::int32_t length, std::int32_t* at, std::uint32_t* v) {
  if (bytes == nullptr || *at < 0 || length - *at < 4) return false;
  const std::uint8_t* p = bytes + *at;
  *v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
       static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  *at += 4;
  return true;
}

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The criterion of a test must be the criterion class of the field's type.
template <class C>
const C& CritOf(const Field& field, const Field& criterion) {
  if (criterion.TypeCode() != (LowTypeCode(field.TypeCode()) | kCriterionBit)) Raise(803);
  return static_cast<const C&>(criterion);
}

int TestString(const Field& field, const Field& criterion) {
  const auto& f = static_cast<const StringField&>(field);
  return CritOf<StringFieldCrit>(field, criterion).Test(f.Text().Text(), f.Text().Length()) ? 1
                                                                                              : 0;
}
int TestInt(const Field& field, const Field& criterion) {
  return CritOf<IntFieldCrit>(field, criterion).Test(static_cast<const IntField&>(field).value_)
             ? 1
             : 0;
}
int TestDate(const Field& field, const Field& criterion) {
  return CritOf<DateFieldCrit>(field, criterion)
                 .InRanges(static_cast<const DateField&>(field).Packed())
             ? 1
             : 0;
}
int TestRound(const Field& field, const Field& criterion) {
  return CritOf<RoundFieldCrit>(field, criterion)
                 .InRanges(static_cast<const RoundField&>(field).value_)
             ? 1
             : 0;
}
int TestCode(const Field& field, const Field& criterion) {
  return CritOf<MaskFieldCrit>(field, criterion).Test(static_cast<const CodeField&>(field).code_)
             ? 1
             : 0;
}
int TestEco(const Field& field, const Field& criterion) {
  return CritOf<ECOFieldCrit>(field, criterion).Test(static_cast<const ECOField&>(field).value_)
             ? 1
             : 0;
}

}  // namespace

// ---- FieldCrit ---------------------------------------------------------------------------------

void FieldCrit::Assign(const Field& other) {
  if (other.TypeCode() != TypeCode()) Refuse();
}

String FieldCrit::ToText() const { Refuse(); }

void FieldCrit::Pack(std::int32_t baseType, const String&, ByteBlock& out) {
  CheckBaseType(baseType);
  out.Clear();
  if (baseType == kDosBase) Raise(805);
  if (baseType == kNativeBase) PackNative(out);
}

void FieldCrit::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                       const String&) {
  CheckBaseType(baseType);
  if (baseType == kDosBase) Raise(805);
  if (baseType != kNativeBase) return;
  if (bytes == nullptr || length < 0) length = 0;
  UnpackNative(bytes, length);
}

// ---- StringFieldCrit ---------------------------------------------------------------------------

StringFieldCrit::StringFieldCrit(const FieldSpec& spec)
    : FieldCrit(spec), text_(String::Copy("", 0)) {}

void StringFieldCrit::SetEmpty() {
  type_ = 0;
  text_.Assign(String::Copy("", 0));
}

bool StringFieldCrit::Test(const char* text, std::int32_t n) const {
  const char* c = text_.Text();
  std::int32_t m = text_.Length();
  auto equalAt = [&](std::int32_t at) {
    for (std::int32_t i = 0; i < m; ++i) {
      if (Fold(text[at + i]) != c[i]) return false;
    }
    return true;
  };
  switch (type_) {
    case 0:
      return n == m && equalAt(0);
    case 1:
      for (std::int32_t at = 0; at + m <= n; ++at) {
        if (equalAt(at)) return true;
      }
      return false;
    case 2:
      return n >= m && equalAt(0);
    default:
      return true;
  }
}

void StringFieldCrit::PackNative(ByteBlock& out) {
  PutU32(out, static_cast<std::uint32_t>(type_));
  PutU32(out, text_.Length());
  if (text_.Length() > 0) out.Append(reinterpret_cast<const std::uint8_t*>(text_.Text()), text_.Length());
}

void StringFieldCrit::UnpackNative(const std::uint8_t* bytes, std::int32_t length) {
  std::int32_t at = 0;
  std::uint32_t type = 0, n = 0;
  if (!GetU32(bytes, length, &at, &type)) return;
  type_ = static_cast<std::int32_t>(type);
  if (!GetU32(bytes, length, &at, &n)) n = 0;
  std::uint32_t room = static_cast<std::uint32_t>(length - at);
  if (n > room) n = room;
  if (n > 65520) n = 65520;
  text_.Assign(String::Copy(reinterpret_cast<const char*>(bytes) + at, n));
}

// ---- Ranges -------------------------------------------------------------------------------------

void RangeFieldCrit::SetLength(std::int32_t n) {
  if (n < 0) Raise(14);
  pairs_.resize(static_cast<std::size_t>(n), {0, 0});
}

void RangeFieldCrit::GetPair(std::int32_t i, std::int32_t* upper, std::int32_t* lower) const {
  if (i < 0 || i >= Length()) Raise(12);
  if (upper != nullptr) *upper = pairs_[static_cast<std::size_t>(i)].second;
  if (lower != nullptr) *lower = pairs_[static_cast<std::size_t>(i)].first;
}

void RangeFieldCrit::SetPair(std::int32_t i, std::int32_t upper, std::int32_t lower) {
  if (i < 0 || i >= Length()) Raise(12);
  pairs_[static_cast<std::size_t>(i)] = {lower, upper};
}

void RangeFieldCrit::PackNative(ByteBlock& out) {
  PutU32(out, static_cast<std::uint32_t>(pairs_.size()));
  for (const auto& p : pairs_) {
    PutU32(out, static_cast<std::uint32_t>(p.first));
    PutU32(out, static_cast<std::uint32_t>(p.second));
  }
}

std::int32_t RangeFieldCrit::ReadPairs(const std::uint8_t* bytes, std::int32_t length) {
  std::int32_t at = 0;
  std::uint32_t n = 0;
  if (!GetU32(bytes, length, &at, &n)) return 0;
  // Never more pairs than the bytes can hold.
  std::uint32_t room = static_cast<std::uint32_t>((length - at) / 8);
  if (n > room) n = room;
  pairs_.clear();
  pairs_.reserve(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t lo = 0, hi = 0;
    GetU32(bytes, length, &at, &lo);
    GetU32(bytes, length, &at, &hi);
    pairs_.push_back({static_cast<std::int32_t>(lo), static_cast<std::int32_t>(hi)});
  }
  return at;
}

void RangeFieldCrit::UnpackNative(const std::uint8_t* bytes, std::int32_t length) {
  ReadPairs(bytes, length);
}

bool IntFieldCrit::Test(std::int32_t v) const {
  switch (mode_) {
    case 0:
      return InRanges(v);
    case 1:
      return (static_cast<std::uint32_t>(v) & mask_) == mask_;
    case 2:
      return (static_cast<std::uint32_t>(v) & mask_) != 0;
    default:
      return false;
  }
}

void IntFieldCrit::PackNative(ByteBlock& out) {
  RangeFieldCrit::PackNative(out);
  PutU32(out, static_cast<std::uint32_t>(mode_));
  PutU32(out, mask_);
}

void IntFieldCrit::UnpackNative(const std::uint8_t* bytes, std::int32_t length) {
  std::int32_t at = ReadPairs(bytes, length);
  if (at == 0) return;
  std::uint32_t mode = 0, mask = 0;
  if (GetU32(bytes, length, &at, &mode)) mode_ = static_cast<std::int32_t>(mode);
  if (GetU32(bytes, length, &at, &mask)) mask_ = mask;
}

// ---- Masks --------------------------------------------------------------------------------------

void MaskFieldCrit::PackNative(ByteBlock& out) { PutU32(out, mask_); }

void MaskFieldCrit::UnpackNative(const std::uint8_t* bytes, std::int32_t length) {
  std::int32_t at = 0;
  std::uint32_t v = 0;
  if (GetU32(bytes, length, &at, &v)) mask_ = v;
}

// ---- ECO ----------------------------------------------------------------------------------------

ECOFieldCrit::ECOFieldCrit(const FieldSpec& spec)
    : FieldCrit(spec), set_(Subset::CreateTmp(kCodes)) {}

ECOFieldCrit::~ECOFieldCrit() { delete set_; }

void ECOFieldCrit::SetEmpty() { set_->ExcludeRange(0, set_->MaxLength()); }

void ECOFieldCrit::SetItem(std::int32_t code, bool on) {
  if (code < 0 || code >= set_->MaxLength()) Raise(701);
  if (on) {
    set_->IncludeRange(code, 1);
  } else {
    set_->ExcludeRange(code, 1);
  }
}

bool ECOFieldCrit::GetItem(std::int32_t code) const { return Test(code); }

void ECOFieldCrit::CopyFrom(Subset& subset) {
  SetEmpty();
  for (std::int32_t r = subset.SeqInitBase(0); r >= 0 && r < kCodes; r = subset.SeqNext()) {
    if (r < set_->MaxLength()) set_->IncludeRange(r, 1);
  }
  subset.SeqStop();
}

bool ECOFieldCrit::Test(std::int32_t code) const {
  return code >= 0 && code < set_->MaxLength() && set_->Item(code) != 0;
}

// Code k sets bit (k mod 8) of byte 8 k: the layout stored criteria already have.
void ECOFieldCrit::PackNative(ByteBlock& out) {
  out.SetCount(kPackedSize);
  std::memset(out.Data(), 0, kPackedSize);
  for (std::int32_t k = 0; k < kCodes; ++k) {
    if (Test(k)) out.Data()[8 * k] |= static_cast<std::uint8_t>(1u << (k % 8));
  }
}

void ECOFieldCrit::UnpackNative(const std::uint8_t* bytes, std::int32_t length) {
  SetEmpty();
  for (std::int32_t k = 0; k < kCodes && 8 * k < length; ++k) {
    if ((bytes[8 * k] & (1u << (k % 8))) != 0) set_->IncludeRange(k, 1);
  }
}

// ---- Library ------------------------------------------------------------------------------------

LibRefFieldCrit::LibRefFieldCrit(const FieldSpec& spec)
    : FieldCrit(spec), set_(Subset::CreateTmp(0)) {}

LibRefFieldCrit::~LibRefFieldCrit() { delete set_; }

void LibRefFieldCrit::SetEmpty() {
  if (set_->MaxLength() > 0) set_->ExcludeRange(0, set_->MaxLength());
}

bool LibRefFieldCrit::Contains(std::int32_t n) const {
  return n >= 0 && n < set_->MaxLength() && set_->Item(n) != 0;
}

bool LibRefFieldCrit::HoldsAll() const { return set_->CurLength() == set_->MaxLength(); }

void LibRefFieldCrit::Resize(std::int32_t maxLength) {
  if (maxLength > set_->MaxLength()) set_->Expand(maxLength - set_->MaxLength());
}

void LibRefFieldCrit::SetBase(Base* library) {
  library_ = library;
  if (library != nullptr) Resize(library->RecordCount());
}

void LibRefFieldCrit::SetSubsetBody(Subset& subset, Base* library) {
  if (library == nullptr) Raise(805);
  std::int32_t count = library->RecordCount();
  std::unique_ptr<Subset> next(Subset::CreateTmp(std::max(count, set_->MaxLength())));
  for (std::int32_t p = subset.SeqInitBase(0); p >= 0; p = subset.SeqNext()) {
    if (p >= count) break;
    std::int32_t r = library->UnsortedFromSorted(p);
    if (r >= 0 && r < next->MaxLength()) next->IncludeRange(r, 1);
  }
  subset.SeqStop();
  delete set_;
  set_ = next.release();
  library_ = library;
}

namespace {

// One library record packed for base type 0: its field count, then each field as a length and
// its bytes.
void PackLibraryRecord(Record& record, const RecordPattern& pattern, ByteBlock& out,
                       ByteBlock& scratch) {
  PutU32(out, static_cast<std::uint32_t>(record.Count()));
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    record[i].Pack(kNativeBase, pattern[i].param, scratch);
    PutU32(out, static_cast<std::uint32_t>(scratch.Count()));
    if (scratch.Count() > 0) out.Append(scratch.Data(), scratch.Count());
  }
}

std::string Key(const ByteBlock& b) {
  return std::string(reinterpret_cast<const char*>(b.Data()), static_cast<std::size_t>(b.Count()));
}

}  // namespace

void LibRefFieldCrit::PackNative(ByteBlock& out) {
  PutU32(out, static_cast<std::uint32_t>(set_->CurLength()));
  if (set_->CurLength() == 0) return;
  if (library_ == nullptr) Raise(805);
  const RecordPattern& pattern = library_->GetRecordPattern();
  Record record(pattern);
  ByteBlock scratch;
  std::int32_t count = library_->RecordCount();
  for (std::int32_t r = set_->SeqInitBase(0); r >= 0; r = set_->SeqNext()) {
    if (r < count) {
      library_->Read(r, record);
    } else {
      record.Clear();
    }
    PackLibraryRecord(record, pattern, out, scratch);
  }
  set_->SeqStop();
}

void LibRefFieldCrit::UnpackNative(const std::uint8_t* bytes, std::int32_t length) {
  std::int32_t at = 0;
  std::uint32_t members = 0;
  if (!GetU32(bytes, length, &at, &members)) return;
  if (members > 0 && library_ == nullptr) Raise(805);
  SetEmpty();
  if (members == 0) return;
  Resize(library_->RecordCount());
  const RecordPattern& pattern = library_->GetRecordPattern();
  Record wanted(pattern);
  ByteBlock packed, scratch;
  // A sorted library whose key is its first field is searched; any other is read once.
  bool byFind = library_->IsSorted() != 0 && wanted.KeyIndex() == 0;
  std::unordered_map<std::string, std::int32_t> byContent;
  if (!byFind) {
    Record r(pattern);
    for (std::int32_t i = 0; i < library_->RecordCount(); ++i) {
      library_->Read(i, r);
      packed.Clear();
      PackLibraryRecord(r, pattern, packed, scratch);
      byContent.emplace(Key(packed), i);
    }
  }
  for (std::uint32_t m = 0; m < members; ++m) {
    std::uint32_t fields = 0;
    if (!GetU32(bytes, length, &at, &fields)) break;
    wanted.Clear();
    bool whole = true;
    for (std::uint32_t i = 0; i < fields; ++i) {
      std::uint32_t n = 0;
      if (!GetU32(bytes, length, &at, &n) || n > static_cast<std::uint32_t>(length - at)) {
        whole = false;
        break;
      }
      if (static_cast<std::int32_t>(i) < wanted.Count()) {
        wanted[static_cast<std::int32_t>(i)].Unpack(kNativeBase, bytes + at,
                                                     static_cast<std::int32_t>(n),
                                                     pattern[static_cast<std::int32_t>(i)].param);
      }
      at += static_cast<std::int32_t>(n);
    }
    if (!whole) break;
    std::int32_t r = -1;
    if (byFind) {
      std::int32_t found = 0;
      std::int32_t pos = library_->Find(wanted, &found, nullptr);
      if (found != 0) r = library_->UnsortedFromSorted(pos);
    } else {
      packed.Clear();
      PackLibraryRecord(wanted, pattern, packed, scratch);
      auto it = byContent.find(Key(packed));
      if (it != byContent.end()) r = it->second;
    }
    if (r >= 0 && r < set_->MaxLength()) set_->IncludeRange(r, 1);
  }
}

// ---- Factory ------------------------------------------------------------------------------------

void SetChessCriterionFactory(ChessCriterionFactory factory) { g_chessFactory = factory; }

Field* CreateCriterion(const FieldSpec& spec) {
  switch (LowTypeCode(spec.type)) {
    case kLibRefType:
      return new LibRefFieldCrit(spec);
    case kStringType:
      return new StringFieldCrit(spec);
    case kIntType:
      return new IntFieldCrit(spec);
    case kDateType:
      return new DateFieldCrit(spec);
    case kChessType:
      if (g_chessFactory == nullptr) Raise(801);
      return g_chessFactory(spec);
    case kResultType:
      return new ResultFieldCrit(spec);
    case kRoundType:
      return new RoundFieldCrit(spec);
    case kEcoType:
      return new ECOFieldCrit(spec);
    case kSexType:
      return new SexFieldCrit(spec);
    default:
      Raise(801);
  }
}

void InstallCriteria() {
  SetCriterionFactory(&CreateCriterion);
  SetCriterionTest(kStringType, &TestString);
  SetCriterionTest(kIntType, &TestInt);
  SetCriterionTest(kDateType, &TestDate);
  SetCriterionTest(kRoundType, &TestRound);
  SetCriterionTest(kResultType, &TestCode);
  SetCriterionTest(kSexType, &TestCode);
  SetCriterionTest(kEcoType, &TestEco);
  InstallChessCriterion();
}

}  // namespace ludrex
