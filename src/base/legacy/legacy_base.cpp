#include "base/legacy/legacy_base.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "base/dispatch.h"
#include "frame/callbacks.h"
#include "frame/catalogue.h"
#include "frame/error.h"
#include "movegen/game.h"
#include "platform/text.h"
#include "record/chess_codec.h"
#include "record/field.h"
#include "record/field_types.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/files.h"
#include "storage/memory.h"

namespace ludrex {

const char kLegacyMark[] = "+Tallowmerecraft Database File. Version 1.2 ";

namespace {

constexpr std::int32_t kMarkLength = 44;
static_assert(sizeof(kLegacyMark) == kMarkLength + 1, "the mark is 44 characters");

// The ten fields: type, meaning, second text (the library's name for library fields), and the
// offset of the field's two bytes in the game header (-1: the moves).
struct LegacyField {
  std::int32_t type;
  std::int32_t meaning;
  const char* param;
  std::int32_t offset;
};
constexpr LegacyField kFields[10] = {
    {kLibRefType, 1, "Players", 0}, {kLibRefType, 2, "Players", 2}, {kResultType, 14, "", 4},
    {kDateType, 15, "Y", 6},        {kLibRefType, 11, "Places", 8},  {kLibRefType, 16, "Events", 10},
    {kRoundType, 17, "", 12},       {kEcoType, 18, "", 16},          {kLibRefType, 19, "Remarks", 20},
    {kChessType, 22, "", -1}};
constexpr std::int32_t kMovesField = 9;
constexpr std::int32_t kGameHeaderSize = 24;

struct LegacyLibraryKind {
  const char* name;
  const char* code;
  std::int32_t meaning;  // of the library's name field
};
constexpr LegacyLibraryKind kLibraries[kLegacyLibraryCount] = {
    {"Players", "PNE", 3}, {"Places", "PLE", 12}, {"Events", "TCE", 16}, {"Remarks", "COE", 19}};

// Comment entry kinds (bits 1-2 of the flags) and the last-entry bit.
[[maybe_unused]] constexpr std::uint8_t kKindPlain = 0, kKindPacked = 1, kKindSymbol = 2, kKindMark = 3;
constexpr std::uint8_t kLastEntry = 0x80;
constexpr std::uint32_t kFirstEntry = 8;

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }
String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}
String FieldName(std::int32_t meaning) { return Own("~" + std::to_string(meaning)); }

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

std::string OemText(const std::uint8_t* p, std::size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  if (n > 0) platform::OemToCp1251(s.data(), s.data(), n);
  return s;
}

// A file of the base: the extension as the catalogue spells it (lower case), or as DOS wrote it
// (upper case) when only that exists.
std::string FileOf(const std::string& base, const char* ext) {
  std::string lower = base + ext;
  if (FileExists(lower.c_str())) return lower;
  std::string upper = lower;
  for (std::size_t i = base.size(); i < upper.size(); ++i) {
    if (upper[i] >= 'a' && upper[i] <= 'z') upper[i] = char(upper[i] - 'a' + 'A');
  }
  return FileExists(upper.c_str()) ? upper : lower;
}

// The header: false when the mark differs or the file is shorter than the record.
bool ReadHeader(Array* a, std::uint8_t (&head)[kLegacyHeaderSize]) {
  if (a->Count() < kLegacyHeaderSize) return false;
  a->Read(0, head, kLegacyHeaderSize);
  return std::memcmp(head, kLegacyMark, kMarkLength) == 0;
}

std::string Description(const std::uint8_t (&head)[kLegacyHeaderSize]) {
  const std::size_t d = std::min<std::size_t>(head[53], 254);
  return OemText(head + 54, d);
}

// The base whose game is being decoded: the DOS decoder hands its moves to the reader below.
LegacyBase* g_decoding = nullptr;

void CommentReader(std::uint32_t reference, const String&, Game* game, const ChessElement* move) {
  if (g_decoding != nullptr) {
    g_decoding->ReaderStep(reference, game, move);
  } else if (move != nullptr) {
    GameAppend(game, move);
  }
}

// Sets the decoding base for one Unpack and resets it afterwards, whatever happens.
struct DecodingScope {
  explicit DecodingScope(LegacyBase* base) { g_decoding = base; }
  ~DecodingScope() { g_decoding = nullptr; }
};

}  // namespace

// ---- LegacyBase --------------------------------------------------------------------------------

std::string LegacyBase::File(const char* ext) const { return FileOf(Str(name_), ext); }

Array* LegacyBase::OpenFile(const char* ext, std::uint16_t elementSize, std::int32_t bufLen,
                            std::int32_t ahead) {
  const std::string file = File(ext);
  Array* f = NewFileArray(-1, file.c_str(), platform::kFlagRandom);
  if (f == nullptr) Raise(520);
  Array* b = NewBufArray(f, bufLen, ahead);
  if (b == nullptr) {
    delete f;
    Raise(520);
  }
  ArrayHandle h(b);
  h->Init(elementSize);
  return h.Release();
}

LegacyBase::LegacyBase(const String& name) : Base(kTypeDos, name) {
  headers_ = ArrayHandle(OpenFile(".bgh", kGameHeaderSize, 2000, 2000));
  offsets_ = ArrayHandle(OpenFile(".bba", 4, 5000, 5000));
  bodies_ = ArrayHandle(OpenFile(".bgb", 1, 40000, 40000));
  commented_.assign(static_cast<std::size_t>(offsets_->Count()), -1);
  index_ = ArrayHandle(OpenFile(".ndx", 8, 1000, 1000));
  plainTexts_ = ArrayHandle(OpenFile(".dsc", 1, 5000, 4000));
  packedTexts_ = ArrayHandle(OpenFile(".bdy", 1, 10000, 8000));

  {
    const std::string file = File(".bfi");
    ArrayHandle h(NewFileArray(-1, file.c_str()));
    if (!h) Raise(520);
    h->Init(1);
    std::uint8_t head[kLegacyHeaderSize];
    if (!ReadHeader(h.Get(), head)) Raise(904, file.c_str());
    flag_ = head[44];
    std::int32_t count;
    std::memcpy(&count, head + 49, 4);
    // A count beyond the game headers or body offsets is a damaged header: the games that exist
    // are served, never reads past the files.
    count = std::max<std::int32_t>(0, std::min({count, headers_->Count(), offsets_->Count()}));
    recordCount_ = count;
    description_ = Description(head);
  }

  {
    const std::string file = File(".lib");
    Array* f = NewFileArray(-1, file.c_str(), platform::kFlagRandom);
    if (f == nullptr) Raise(520);
    ArrayHandle lib(f);
    lib->Init(1);
    const std::int64_t head =
        std::min<std::int64_t>(lib->Count(), static_cast<std::int64_t>(
                                                 std::min<std::uint64_t>(AvailMem(), 0x7FFFFFFF)));
    Array* cached = NewHeadCachedArray(lib.Release(), static_cast<std::int32_t>(head), false);
    if (cached == nullptr) Raise(520);
    container_ = ArrayHandle(cached);
    container_->Init(1);
  }
  deleted_.reset(Subset::OpenForOldBase(File(".bid").c_str()));
  BuildPattern();
  open_ = 1;
}

LegacyBase::~LegacyBase() = default;

void LegacyBase::BuildPattern() {
  for (const LegacyField& f : kFields) {
    if (f.type == kLibRefType) {
      std::int32_t meaning = 3;
      for (const LegacyLibraryKind& k : kLibraries) {
        if (std::strcmp(k.name, f.param) == 0) meaning = k.meaning;
      }
      RecordPattern library = LegacyLibrary::PatternFor(meaning);
      pattern_.Append(FieldSpec(f.type, FieldName(f.meaning), 0, String(f.param), &library));
    } else {
      pattern_.Append(FieldSpec(f.type, FieldName(f.meaning), 0, String(f.param)));
    }
  }
}

Base* LegacyBase::OpenEmbedded(const String& name) {
  for (const LegacyLibraryKind& k : kLibraries) {
    if (Str(name) == k.name) {
      return new LegacyLibrary(Own(Str(name_) + "," + k.name), container_.Get(), k.code,
                               k.meaning, (flag_ & 1) != 0);
    }
  }
  Raise(909, Str(name).c_str());
}

void LegacyBase::GetInfo(BaseInfo& info) {
  info.description = Own(description_);
  info.fullName = String::Copy(name_.Text(), name_.Length());
  info.secondFullName = String::Copy(name_.Text(), name_.Length());
  info.type = kTypeDos;
  info.flag = 0;
}

std::vector<std::uint8_t> LegacyBase::Body(std::int32_t n) {
  if (n < 0 || n >= recordCount_) Raise(903);
  const std::uint32_t start = static_cast<std::uint32_t>(offsets_->GetLong(n));
  const std::int64_t size = bodies_->Count();
  std::int64_t end = size;
  if (n + 1 < recordCount_ && n + 1 < offsets_->Count()) {
    end = static_cast<std::uint32_t>(offsets_->GetLong(n + 1));
  }
  // Offsets that leave the body file or run backwards are a damaged base.
  if (start > size || end > size || end < start) Raise(512, File(".bba").c_str());
  std::vector<std::uint8_t> body(static_cast<std::size_t>(end - start));
  if (!body.empty()) {
    bodies_->Read(static_cast<std::int32_t>(start), body.data(),
                  static_cast<std::int32_t>(body.size()));
  }
  return body;
}

void LegacyBase::Read(std::int32_t n, Record& record) {
  if (n < 0 || n >= recordCount_) Raise(903);
  std::uint8_t header[kGameHeaderSize];
  bool haveHeader = false;
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    Field& field = record[i];
    std::int32_t match = -1;
    for (std::int32_t j = 0; j < 10 && match < 0; ++j) {
      if (field.TypeCode() == kFields[j].type && field.Name() == pattern_[j].name) match = j;
    }
    if (match < 0) {
      field.SetEmpty();
      continue;
    }
    const LegacyField& f = kFields[match];
    if (match == kMovesField) {
      std::vector<std::uint8_t> body = Body(n);
      if (body.size() >= 4) commented_[static_cast<std::size_t>(n)] = U32(body.data()) != 0;
      DecodingScope scope(this);
      readerEntry_ = 0;
      readerDone_ = true;
      readerPly_ = 0;
      field.Decode(kTypeDos, body.data(), static_cast<std::int32_t>(body.size()),
                   pattern_[match].param);
      continue;
    }
    if (!haveHeader) {
      headers_->Read(n, header, 1);
      haveHeader = true;
    }
    if (f.type == kLibRefType) {
      field.Decode(kTypeDos, header + f.offset, 2, Own(Str(name_) + "," + f.param));
    } else {
      field.Decode(kTypeDos, header + f.offset, 2, pattern_[match].param);
    }
  }
}

int LegacyBase::IsDeleted(std::int32_t n) {
  if (n < 0 || n >= deleted_->MaxLength()) return 0;
  return deleted_->Item(n);
}

std::uint32_t LegacyBase::CommentReference(std::int32_t n) {
  std::int8_t& known = commented_[static_cast<std::size_t>(n)];
  if (known == 0) return 0;
  const std::uint32_t start = static_cast<std::uint32_t>(offsets_->GetLong(n));
  if (static_cast<std::int64_t>(start) + 4 > bodies_->Count()) {
    known = 0;
    return 0;
  }
  std::uint8_t ref[4];
  bodies_->Read(static_cast<std::int32_t>(start), ref, 4);
  const std::uint32_t r = U32(ref);
  known = r != 0 ? 1 : 0;
  return r;
}

void LegacyBase::GetCommented(Subset* subset) {
  if (subset == nullptr) return;
  const std::string title = Str(MessageText(930));
  ProgressScope progress(title.c_str(), 2000);
  const std::int32_t total = subset->CurLength();
  std::int32_t i = 0;
  std::int32_t r = subset->SeqInitBase(0);
  while (r >= 0) {
    if (ProgressStep(i++, total) != 0) break;
    const bool has = r < recordCount_ && (commented_[static_cast<std::size_t>(r)] == 1 ||
                                          CommentReference(r) != 0);
    r = has ? subset->SeqNext() : subset->SeqNextExclude();
  }
  subset->SeqStop();
}

bool LegacyBase::ReadEntry(std::uint32_t index, CommentEntry& out) {
  if (index < kFirstEntry || index >= static_cast<std::uint32_t>(index_->Count())) return false;
  std::uint8_t e[8];
  index_->Read(static_cast<std::int32_t>(index), e, 1);
  out.offset = U32(e);
  out.ply = static_cast<std::uint16_t>(e[4] | e[5] << 8);
  out.length = e[6];
  out.flags = e[7];
  return true;
}

void LegacyBase::AppendComments(std::uint32_t reference, std::int32_t ply, Game* game) {
  if (readerEntry_ == 0) {  // the first call of this game
    readerEntry_ = reference;
    readerDone_ = false;
  }
  while (!readerDone_) {
    CommentEntry e;
    if (!ReadEntry(readerEntry_, e)) {
      readerDone_ = true;  // a reference outside the index: no (more) comments
      break;
    }
    if (ply >= 0 && e.ply > ply) break;
    ++readerEntry_;
    if ((e.flags & kLastEntry) != 0) readerDone_ = true;
    const std::uint8_t kind = (e.flags >> 1) & 3;
    text_.clear();
    if (kind == kKindPlain || kind == kKindPacked) {
      Array* from = kind == kKindPlain ? plainTexts_.Get() : packedTexts_.Get();
      if (static_cast<std::int64_t>(e.offset) + e.length > from->Count()) continue;
      std::vector<std::uint8_t> raw(e.length);
      if (e.length > 0) from->Read(static_cast<std::int32_t>(e.offset), raw.data(), e.length);
      std::string text;
      if (kind == kKindPlain) {
        text = OemText(raw.data(), raw.size());
      } else {
        String t = DecodeDosPackedText(raw.data(), static_cast<std::int32_t>(raw.size()));
        text = Str(t);
      }
      text_.push_back(4);
      text_.insert(text_.end(), text.begin(), text.end());
    } else if (kind == kKindSymbol) {
      const std::string code = "$" + std::to_string(e.length);
      text_.push_back(e.length == 22 || e.length == 24 ? 3 : 2);
      text_.insert(text_.end(), code.begin(), code.end());
    } else {
      text_.push_back(9);
    }
    ChessElement a{};
    a.kind = 4;
    a.count = static_cast<std::uint32_t>(text_.size());
    a.bytes = text_.data();
    GameAppend(game, &a);
  }
  if (ply < 0) readerEntry_ = 0;
}

void LegacyBase::ReaderStep(std::uint32_t reference, Game* game, const ChessElement* move) {
  if (move == nullptr) {
    AppendComments(reference, -1, game);
    return;
  }
  AppendComments(reference, readerPly_, game);
  GameAppend(game, move);
  ++readerPly_;
}

String LegacyBase::LibraryNameOf(const Field& field) {
  for (std::int32_t j = 0; j < pattern_.Count(); ++j) {
    if (pattern_[j].type == kLibRefType && pattern_[j].name == field.Name()) {
      return String::Copy(pattern_[j].param.Text(), pattern_[j].param.Length());
    }
  }
  return String(static_cast<const char*>(nullptr));
}

String LegacyBase::EmbeddedBaseName(std::int32_t index) {
  if (index < 0 || index >= kLegacyLibraryCount) Raise(908);
  return String(kLibraries[index].name);
}

void LegacyBase::GetEmbeddedShortInfo(ShortInfo& out, const String& name) {
  out.text = String::Copy("", 0);
  out.count = -1;
  for (const LegacyLibraryKind& k : kLibraries) {
    if (Str(name) == k.name) out.count = LegacyLibrary::CountOf(container_.Get(), k.code);
  }
}

// ---- LegacyLibrary -----------------------------------------------------------------------------

RecordPattern LegacyLibrary::PatternFor(std::int32_t meaning) {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, FieldName(meaning), 0, String("")));
  return p;
}

std::int32_t LegacyLibrary::CountOf(Array* container, const char* code) {
  ArrayHandle head(NewLegacyVolumeArray(container, (std::string(code) + ".#00").c_str()));
  if (!head) Raise(520);
  head->Init(1);
  if (head->Count() < 20) return 0;
  std::uint8_t b[2];
  head->Read(18, b, 2);
  return b[0] | b[1] << 8;
}

LegacyLibrary::LegacyLibrary(const String& name, Array* container, const char* code,
                             std::int32_t meaning, bool packed)
    : Base(kTypeDos, name), pattern_(PatternFor(meaning)), packed_(packed) {
  const std::int32_t count = CountOf(container, code);
  offsets_ = ArrayHandle(NewLegacyVolumeArray(container, (std::string(code) + ".#01").c_str()));
  texts_ = ArrayHandle(NewLegacyVolumeArray(container, (std::string(code) + ".#02").c_str()));
  if (!offsets_ || !texts_) Raise(520);
  offsets_->Init(4);
  texts_->Init(1);
  // Records whose offsets are missing cannot be read: the count stops before them.
  recordCount_ = std::max<std::int32_t>(0, std::min(count, offsets_->Count() - 1));
  open_ = 1;
}

void LegacyLibrary::GetInfo(BaseInfo& info) {
  info.description = String::Copy("", 0);
  info.fullName = String::Copy(name_.Text(), name_.Length());
  info.secondFullName = String::Copy(name_.Text(), name_.Length());
  info.type = kTypeDos;
  info.flag = 0;
}

void LegacyLibrary::Read(std::int32_t n, Record& record) {
  if (n < 0 || n >= recordCount_) Raise(903);
  std::uint32_t at[2];
  offsets_->Read(n, at, 2);
  if (at[1] < at[0] || at[1] > static_cast<std::uint32_t>(texts_->Count()) ||
      at[1] - at[0] > kMaxStringLength) {
    Raise(512, Str(texts_->FileName()).c_str());
  }
  buffer_.resize(at[1] - at[0]);
  if (!buffer_.empty()) {
    texts_->Read(static_cast<std::int32_t>(at[0]), buffer_.data(),
                 static_cast<std::int32_t>(buffer_.size()));
  }
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    Field& field = record[i];
    if (field.TypeCode() != kStringType || !(field.Name() == pattern_[0].name)) {
      field.SetEmpty();
      continue;
    }
    if (packed_) {
      String t = DecodeDosPackedText(buffer_.data(), static_cast<std::int32_t>(buffer_.size()));
      field.SetText(t);
    } else {
      field.Decode(kTypeDos, buffer_.data(), static_cast<std::int32_t>(buffer_.size()),
                   pattern_[0].param);
    }
  }
}

// ---- Registration ------------------------------------------------------------------------------

namespace {

bool LegacyShortInfo(const String& name, ShortInfo& out) {
  const std::string file = FileOf(Str(name), ".bfi");
  if (!FileExists(file.c_str())) return false;
  ArrayHandle h(NewFileArray(-1, file.c_str(), platform::kFlagNone, platform::kAccessRead,
                             platform::kShareRead));
  if (!h) Raise(520);
  h->Init(1);
  std::uint8_t head[kLegacyHeaderSize];
  out.text = String::Copy("", 0);
  out.count = -1;
  if (!ReadHeader(h.Get(), head)) return true;
  out.text = Own(Description(head));
  std::memcpy(&out.count, head + 49, 4);
  return true;
}

}  // namespace

void RegisterLegacyBase() {
  BaseFormat f{};
  f.open = [](const String& name) -> Base* { return new LegacyBase(name); };
  f.create = nullptr;  // read only: the dispatch refuses with 907
  f.shortInfo = LegacyShortInfo;
  SetBaseFormat(kTypeDos, f);
  SetDosCommentReader(CommentReader);
}

}  // namespace ludrex
