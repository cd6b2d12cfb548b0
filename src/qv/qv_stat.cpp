#include "qv/qv_stat.h"

#include <cstring>
#include <memory>

#include "qv/qv_key.h"
#include "qv/qv_store.h"

namespace ludrex::qv {

namespace internal {
QvStore* OpenRawBuilder(const char* name, std::uint32_t budget, const char* entriesExt,
                        const char* directoryExt);
bool AppendRaw(QvStore* store, const void* data, std::uint32_t bytes);
QvStore* OpenRawReader(const char* name, std::uint32_t cache, const char* entriesExt,
                       const char* directoryExt);
}  // namespace internal

namespace {

constexpr char kEntries[] = ".dte";
constexpr char kDirectory[] = ".dth";
constexpr std::uint32_t kMoveItem = 1;
constexpr std::uint32_t kGameItem = 2;
constexpr std::size_t kMaxText = 0xFFFF;

std::uint32_t Get32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

class QvStat {
 public:
  QvStore* store = nullptr;
  bool withGames = false;
  bool hasPosition = false;
  std::vector<std::uint8_t> item;
};

QvStat* QvStatCreate(const char* name, std::uint32_t storeBudget, std::uint8_t withGames) {
  QvStore* store = internal::OpenRawBuilder(name, storeBudget, kEntries, kDirectory);
  if (store == nullptr) return nullptr;
  auto* stat = new QvStat;
  stat->store = store;
  stat->withGames = withGames != 0;
  return stat;
}

bool QvStatPosition(QvStat* stat, const std::uint8_t* key, std::size_t length, const std::int8_t*) {
  if (stat == nullptr || key == nullptr) return false;
  stat->hasPosition = QvInsertKey(stat->store, key, length) >= 0 && length > 0 &&
                      length <= kMaxKeyLength;
  return stat->hasPosition;
}

bool QvStatAdd(QvStat* stat, const std::uint8_t* record) {
  if (stat == nullptr || !stat->hasPosition || record == nullptr) return false;
  std::uint8_t item[4 + kStatMoveRecord];
  std::uint32_t head = kMoveItem << 24 | static_cast<std::uint32_t>(kStatMoveRecord);
  std::memcpy(item, &head, 4);
  std::memcpy(item + 4, record, kStatMoveRecord);
  return internal::AppendRaw(stat->store, item, sizeof item);
}

bool QvStatAddGame(QvStat* stat, const char* first, const char* second) {
  if (stat == nullptr || !stat->hasPosition) return false;
  if (!stat->withGames) return true;
  std::vector<std::uint8_t>& item = stat->item;
  item.assign(4, 0);
  for (const char* text : {first, second}) {
    std::size_t n = text != nullptr ? std::strlen(text) : 0;
    if (n > kMaxText) n = kMaxText;
    item.push_back(static_cast<std::uint8_t>(n));
    item.push_back(static_cast<std::uint8_t>(n >> 8));
    if (n > 0) item.insert(item.end(), text, text + n);
  }
  std::uint32_t head = kGameItem << 24 | static_cast<std::uint32_t>(item.size() - 4);
  std::memcpy(item.data(), &head, 4);
  while (item.size() % 4 != 0) item.push_back(0);
  return internal::AppendRaw(stat->store, item.data(), static_cast<std::uint32_t>(item.size()));
}

bool QvStatClose(QvStat* stat) {
  if (stat == nullptr) return true;
  bool ok = QvCloseB(stat->store);
  delete stat;
  return ok;
}

QvStatReader* QvStatReader::Open(const char* name, std::uint32_t cacheBytes) {
  QvStore* store = internal::OpenRawReader(name, cacheBytes, kEntries, kDirectory);
  if (store == nullptr) return nullptr;
  auto* r = new QvStatReader;
  r->store_ = store;
  return r;
}

QvStatReader::~QvStatReader() { QvCloseB(store_); }

std::uint32_t QvStatReader::PositionCount() const { return QvCount(store_); }

bool QvStatReader::Damaged() const { return damaged_ || QvDamaged(store_); }

const std::uint8_t* QvStatReader::Move(std::int32_t i) const {
  if (i < 0 || i >= MoveCount()) return nullptr;
  return moves_[static_cast<std::size_t>(i)].data();
}

std::int32_t QvStatReader::Lookup(const std::uint8_t* key, std::size_t length) {
  moves_.clear();
  games_.clear();
  std::uint32_t bytes = 0;
  const std::uint8_t* v = QvFetch(store_, key, length, &bytes);
  if (v == nullptr) return 0;
  std::size_t at = 0;
  while (at + 4 <= bytes) {
    std::uint32_t head = Get32(v + at);
    std::uint32_t kind = head >> 24, n = head & 0xFFFFFF;
    std::size_t padded = (static_cast<std::size_t>(n) + 3) & ~std::size_t{3};
    if (padded > bytes - at - 4) {
      damaged_ = true;
      break;
    }
    const std::uint8_t* p = v + at + 4;
    if (kind == kMoveItem && n == kStatMoveRecord) {
      // Equal moves from several visits of the position: one move with the counters summed.
      bool merged = false;
      for (auto& m : moves_) {
        if (std::memcmp(m.data(), p, kStatMoveBytes) != 0) continue;
        for (int c = 0; c < 4; ++c) {
          std::uint32_t a = Get32(m.data() + kStatMoveBytes + 4 * c);
          std::uint32_t b = Get32(p + kStatMoveBytes + 4 * c);
          a += b;
          std::memcpy(m.data() + kStatMoveBytes + 4 * c, &a, 4);
        }
        merged = true;
        break;
      }
      if (!merged) moves_.emplace_back(p, p + kStatMoveRecord);
    } else if (kind == kGameItem && n >= 4) {
      std::size_t l1 = p[0] | p[1] << 8;
      if (2 + l1 + 2 > n) {
        damaged_ = true;
        break;
      }
      std::size_t l2 = p[2 + l1] | p[3 + l1] << 8;
      if (4 + l1 + l2 > n) {
        damaged_ = true;
        break;
      }
      games_.emplace_back(std::string(reinterpret_cast<const char*>(p + 2), l1),
                          std::string(reinterpret_cast<const char*>(p + 4 + l1), l2));
    } else {
      damaged_ = true;
      break;
    }
    at += 4 + padded;
  }
  return MoveCount();
}

}  // namespace ludrex::qv
