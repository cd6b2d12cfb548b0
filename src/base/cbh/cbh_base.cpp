#include "base/cbh/cbh_base.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/dispatch.h"
#include "frame/catalogue.h"
#include "frame/error.h"
#include "record/field.h"
#include "record/field_chess.h"
#include "record/field_types.h"
#include "record/record.h"
#include "storage/files.h"

namespace ludrex {
namespace {

constexpr std::int32_t kCbhType = 5;
constexpr std::int32_t kRecord = 46;
constexpr std::int32_t kChunk = 1 << 18;
constexpr std::int32_t kMaxAnnotationRecord = 1 << 26;

// Data sizes (after the 9 bytes of the tree node) and the places of the texts.
constexpr std::int32_t kPlayerData = 58, kTournamentData = 90, kAnnotatorData = 53,
                       kSourceData = 59;

// Field meanings of the pattern.
enum : int {
  kWhite = 1, kBlack = 2, kWhiteElo = 9, kBlackElo = 10, kSite = 11, kResult = 14, kDate = 15,
  kEvent = 16, kRound = 17, kEco = 18, kAnnotator = 20, kSource = 21, kMoves = 22,
};

std::uint32_t Be(const std::uint8_t* p, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

std::int32_t Le32(const std::uint8_t* p) {
  return std::int32_t(std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) |
                      (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24));
}

// The meaning carried in a field name "~m", else 0.
int MeaningOf(const String& name) {
  if (name.Length() < 2 || name.Text()[0] != '~') return 0;
  int m = 0;
  for (std::uint32_t i = 1; i < name.Length(); ++i) {
    char c = name.Text()[i];
    if (c < '0' || c > '9') return 0;
    m = m * 10 + (c - '0');
  }
  return m;
}

ArrayHandle OpenRead(const std::string& name) {
  if (!FileExists(name.c_str())) Raise(503, name.c_str());
  ArrayHandle a(NewFileArray(-1, name.c_str(), platform::kFlagNone, platform::kAccessRead,
                             platform::kShareRead));
  a->Init(1);
  return a;
}

}  // namespace

// ---- ChunkedFile ---------------------------------------------------------------------------

ChunkedFile::ChunkedFile(const std::string& name) : name_(name), file_(OpenRead(name)) {
  size_ = file_->Count();
}

const std::uint8_t* ChunkedFile::Get(std::int64_t offset, std::int32_t n) {
  if (offset < 0 || n < 0 || offset + n > size_) Raise(945, name_.c_str());
  const std::int64_t have = std::int64_t(window_.size());
  if (offset >= start_ && offset + n <= start_ + have) {
    return window_.data() + (offset - start_);
  }
  const std::int64_t len = std::min<std::int64_t>(std::max(n, kChunk), size_ - offset);
  window_.resize(std::size_t(len));
  start_ = offset;
  if (len > 0) file_->Read(std::int32_t(offset), window_.data(), std::int32_t(len));
  return window_.data();
}

// ---- CbhEntities ---------------------------------------------------------------------------

void CbhEntities::Load(const std::string& file, std::int32_t minData, bool required) {
  if (!FileExists(file.c_str())) {
    if (required) Raise(503, file.c_str());
    return;
  }
  ArrayHandle a = OpenRead(file);
  const std::int32_t size = a->Count();
  if (size < 28) Raise(945, file.c_str());
  bytes.resize(std::size_t(size));
  a->Read(0, bytes.data(), size);
  const std::int32_t n = Le32(&bytes[0]);
  const std::int32_t data = Le32(&bytes[12]);
  const std::int32_t extra = Le32(&bytes[24]);
  if (n < 0 || data < minData || data > (1 << 20) || extra < 0 || extra > 64) {
    Raise(945, file.c_str());
  }
  first = 28 + extra;
  recordSize = 9 + data;
  if (first > size || std::int64_t(n) * recordSize > std::int64_t(size) - first) {
    Raise(945, file.c_str());
  }
  count = n;
  present = true;
}

const char* CbhEntities::Text(std::int64_t id, std::int32_t offset, std::int32_t width,
                              std::int32_t* length) const {
  *length = 0;
  if (!present || id < 0 || id >= count) return "";
  const std::uint8_t* p = bytes.data() + first + id * recordSize + 9 + offset;
  std::int32_t len = 0;
  while (len < width && p[len] != 0) ++len;
  *length = len;
  return reinterpret_cast<const char*>(p);
}

// ---- CbhBase -------------------------------------------------------------------------------

RecordPattern CbhBase::Pattern() {
  struct Row {
    std::int32_t type;
    const char* name;
    const char* param;
  };
  static const Row kRows[] = {
      {kStringType, "~16", ""}, {kStringType, "~11", ""}, {kDateType, "~15", "F"},
      {kRoundType, "~17", ""},  {kStringType, "~1", ""},  {kStringType, "~2", ""},
      {kResultType, "~14", ""}, {kIntType, "~9", "2U"},   {kIntType, "~10", "2U"},
      {kEcoType, "~18", ""},    {kStringType, "~20", ""}, {kStringType, "~21", ""},
      {kChessType, "~22", ""}};
  RecordPattern p;
  for (const Row& r : kRows) p.Append(FieldSpec(r.type, String(r.name), 0, String(r.param)));
  return p;
}

std::int32_t CbhBase::CountFromHeader(const std::string& file) {
  if (!FileExists(file.c_str())) return -1;
  ArrayHandle a = OpenRead(file);
  if (a->Count() < kRecord) return -1;
  std::uint8_t head[kRecord];
  a->Read(0, head, kRecord);
  const std::int64_t records = (std::int64_t(a->Count()) - kRecord) / kRecord;
  const std::uint32_t next = Be(head + 6, 4);
  if (next == 0 || next - 1 > records) return -1;
  return std::int32_t(next - 1);
}

CbhBase::CbhBase(const String& name)
    : Base(kCbhType, name),
      stem_(name.Text(), name.Length()),
      header_(stem_ + ".cbh"),
      moves_(stem_ + ".cbg") {
  if (FileExists((stem_ + ".cba").c_str())) annotations_.emplace_back(stem_ + ".cba");
  const std::int64_t size = header_.Size();
  if (size < kRecord) Raise(945, header_.Name().c_str());
  const std::uint8_t* head = header_.Get(0, kRecord);
  if (Be(head + 3, 2) != std::uint32_t(kRecord)) Raise(945, header_.Name().c_str());
  const std::int64_t records = (size - kRecord) / kRecord;
  const std::uint32_t next = Be(head + 6, 4);
  // The header counts the games (plus one); a file cut short or an impossible count is damage.
  if (next == 0 || std::int64_t(next) - 1 > records || records > 0x7FFFFFFF) {
    Raise(945, header_.Name().c_str());
  }
  recordCount_ = std::int32_t(next - 1);
  if (moves_.Size() < 10) Raise(945, moves_.Name().c_str());
  players_.Load(stem_ + ".cbp", kPlayerData, true);
  tournaments_.Load(stem_ + ".cbt", kTournamentData, true);
  annotators_.Load(stem_ + ".cbc", kAnnotatorData, false);
  sources_.Load(stem_ + ".cbs", kSourceData, false);
  pattern_ = Pattern();
  open_ = 1;
}

CbhBase::~CbhBase() = default;

void CbhBase::GetInfo(BaseInfo& info) {
  const std::string file = stem_ + ".cbh";
  info.description = String("");
  info.fullName = String::Copy(file.data(), std::uint32_t(file.size()));
  info.secondFullName = String::Copy(file.data(), std::uint32_t(file.size()));
  info.type = kCbhType;
  info.flag = 0;
}

void CbhBase::Damaged(std::int32_t n, const char* what) {
  std::string extra = stem_ + ".cbh, game " + std::to_string(n + 1) + ": " + what;
  Raise(945, extra.c_str());
}

const std::uint8_t* CbhBase::RecordBytes(std::int32_t n) {
  if (n < 0 || n >= recordCount_) Raise(903);
  return header_.Get(std::int64_t(kRecord) * (n + 1), kRecord);
}

int CbhBase::IsDeleted(std::int32_t n) { return (RecordBytes(n)[0] & 0x80) != 0 ? 1 : 0; }

void CbhBase::ReadBody(std::int32_t n, const std::uint8_t* record) {
  const std::uint32_t at = Be(record + 1, 4);
  const std::uint32_t notes = Be(record + 5, 4);
  if (at < 10 || std::int64_t(at) + 4 > moves_.Size()) Damaged(n, "move offset");
  const std::uint32_t size = Be(moves_.Get(at, 4) + 1, 3);
  if (size < 4 || std::int64_t(at) + size > moves_.Size()) Damaged(n, "move record size");
  const std::uint8_t* p = moves_.Get(at, std::int32_t(size));
  body_.assign(p, p + size);
  if (notes == 0 || annotations_.empty()) return;
  ChunkedFile& a = annotations_.front();
  if (notes < 10 || std::int64_t(notes) + 14 > a.Size()) Damaged(n, "annotation offset");
  const std::uint32_t length = Be(a.Get(notes, 14) + 10, 4);
  if (length < 14 || length > std::uint32_t(kMaxAnnotationRecord) ||
      std::int64_t(notes) + length > a.Size()) {
    Damaged(n, "annotation record size");
  }
  const std::uint8_t* q = a.Get(notes, std::int32_t(length));
  body_.insert(body_.end(), q, q + length);
}

void CbhBase::Read(std::int32_t n, Record& record) {
  std::uint8_t r[kRecord];
  std::memcpy(r, RecordBytes(n), kRecord);
  const bool text = (r[0] & 2) != 0;
  // Ids and values of a game record; a guiding text holds its ids elsewhere.
  const std::uint32_t tournament = text ? Be(r + 7, 3) : Be(r + 15, 3);
  const std::uint32_t annotator = text ? Be(r + 13, 3) : Be(r + 18, 3);
  const std::uint32_t source = text ? Be(r + 10, 3) : Be(r + 21, 3);
  const std::uint8_t round = text ? r[16] : r[29];
  const std::uint8_t subround = text ? r[17] : r[30];
  auto checkId = [&](const CbhEntities& e, std::uint32_t id, const char* what) {
    if (e.present && id >= std::uint32_t(e.count) && !(id == 0 && e.count == 0)) Damaged(n, what);
  };
  checkId(tournaments_, tournament, "tournament id");
  if (!text) {
    checkId(players_, Be(r + 9, 3), "player id");
    checkId(players_, Be(r + 12, 3), "player id");
  }
  bool bodyRead = false;
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    Field& f = record[i];
    const String& param = f.Spec().param;
    const int meaning = MeaningOf(f.Name());
    auto unpackText = [&](const char* s, std::int32_t len) {
      if (f.TypeCode() != kStringType) return f.SetEmpty();
      f.Unpack(kCbhType, reinterpret_cast<const std::uint8_t*>(s), len, param);
    };
    auto unpackEntity = [&](const CbhEntities& e, std::uint32_t id, std::int32_t offset,
                            std::int32_t width) {
      std::int32_t len;
      const char* s = e.Text(id, offset, width, &len);
      unpackText(s, len);
    };
    auto unpackBytes = [&](std::int32_t type, const std::uint8_t* b, std::int32_t len) {
      if (f.TypeCode() != type) return f.SetEmpty();
      f.Unpack(kCbhType, b, len, param);
    };
    switch (meaning) {
      case kWhite:
      case kBlack: {
        if (text) {
          f.SetEmpty();
          break;
        }
        // "last, first", or the last name alone.
        const std::uint32_t id = Be(r + (meaning == kWhite ? 9 : 12), 3);
        std::int32_t lastLen, firstLen;
        const char* last = players_.Text(id, 0, 30, &lastLen);
        const char* first = players_.Text(id, 30, 20, &firstLen);
        std::memcpy(name_, last, std::size_t(lastLen));
        std::int32_t len = lastLen;
        if (firstLen > 0) {
          name_[len++] = ',';
          name_[len++] = ' ';
          std::memcpy(name_ + len, first, std::size_t(firstLen));
          len += firstLen;
        }
        unpackText(name_, len);
        break;
      }
      case kEvent:
        unpackEntity(tournaments_, tournament, 0, 40);
        break;
      case kSite:
        unpackEntity(tournaments_, tournament, 40, 30);
        break;
      case kAnnotator:
        unpackEntity(annotators_, annotator, 0, 45);
        break;
      case kSource:
        unpackEntity(sources_, source, 0, 25);
        break;
      case kDate: {
        if (text) {
          f.SetEmpty();
          break;
        }
        const std::uint32_t v = Be(r + 24, 3);
        const std::uint8_t b[3] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)};
        unpackBytes(kDateType, b, 3);
        break;
      }
      case kRound: {
        const std::uint8_t b[2] = {round, subround};
        unpackBytes(kRoundType, b, 2);
        break;
      }
      case kResult: {
        if (text) {
          f.SetEmpty();
          break;
        }
        // 0 0-1, 1 draw, 2 1-0, 3 a line, 4 -:+, 5 =:=, 6 +:-, 7 0-0 (no result).
        std::uint8_t b = r[27] == 7 ? 3 : r[27];
        unpackBytes(kResultType, &b, 1);
        break;
      }
      case kWhiteElo:
      case kBlackElo: {
        const std::uint32_t v = text ? 0 : Be(r + (meaning == kWhiteElo ? 31 : 33), 2);
        const std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
        unpackBytes(kIntType, b, v == 0 ? 0 : 2);
        break;
      }
      case kEco: {
        std::uint32_t v = text ? 0 : Be(r + 35, 2);
        if ((v >> 7) > 500) v = 0;  // a Chess960 start position, not a code
        const std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
        unpackBytes(kEcoType, b, 2);
        break;
      }
      case kMoves: {
        if (f.TypeCode() != kChessType) {
          f.SetEmpty();
          break;
        }
        if (text) {
          f.Unpack(kCbhType, nullptr, 0, param);
          break;
        }
        if (!bodyRead) ReadBody(n, r);
        bodyRead = true;
        f.Unpack(kCbhType, body_.data(), std::int32_t(body_.size()), param);
        if (!static_cast<ChessField&>(f).ReadToEnd()) Damaged(n, "moves");
        break;
      }
      default:
        f.SetEmpty();
        break;
    }
  }
}

// ---- Registration --------------------------------------------------------------------------

void RegisterCbhBase() {
  BaseFormat f{};
  f.open = [](const String& name) -> Base* { return new CbhBase(name); };
  f.create = nullptr;
  f.shortInfo = [](const String& name, ShortInfo& out) -> bool {
    std::string stem(name.Text(), name.Length());
    out.text = String("");
    out.count = CbhBase::CountFromHeader(stem + ".cbh");
    return true;
  };
  SetBaseFormat(kCbhType, f);
}

}  // namespace ludrex
