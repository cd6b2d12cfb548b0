// The tree index's position keys and keyed store: exact keys, the store's file bytes, values in
// the order references were added whatever the runs, and damaged files read without a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "qv/qv_key.h"
#include "qv/qv_stat.h"
#include "qv/qv_store.h"

namespace ludrex::qv {
namespace {

QvPosition StartPosition() {
  QvPosition p;
  const std::int8_t back[8] = {4, 2, 3, 5, 6, 3, 2, 4};
  for (int f = 0; f < 8; ++f) {
    p.board[0x00 + f] = back[f];
    p.board[0x10 + f] = 1;
    p.board[0x60 + f] = -1;
    p.board[0x70 + f] = static_cast<std::int8_t>(-back[f]);
  }
  p.castling = 15;
  return p;
}

std::string KeyOf(const QvPosition& p) {
  std::uint8_t key[kMaxKeyLength];
  std::size_t n = QvMakeKey(p, key);
  return std::string(reinterpret_cast<char*>(key), n);
}

TEST(QvKey, StartPositionAndEachDifference) {
  QvPosition start = StartPosition();
  std::string k = KeyOf(start);
  EXPECT_EQ(k.size(), kMaxKeyLength);
  // Occupancy of ranks 1, 2, 7, 8; first piece nibbles: White rook (4) then knight (2).
  EXPECT_EQ(static_cast<unsigned char>(k[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(k[2]), 0x00);
  EXPECT_EQ(static_cast<unsigned char>(k[8]), 0x24);
  EXPECT_EQ(static_cast<unsigned char>(k[24]), 15 << 1);

  QvPosition p = start;
  p.side = 1;
  EXPECT_NE(KeyOf(p), k);
  p = start;
  p.castling = 7;
  EXPECT_NE(KeyOf(p), k);
  p = start;
  std::swap(p.board[0x01], p.board[0x02]);  // knight and bishop change places
  EXPECT_NE(KeyOf(p), k);
  p = start;
  p.board[0x10] = -1;  // a pawn changes colour
  EXPECT_NE(KeyOf(p), k);
}

TEST(QvKey, EnPassantCountsOnlyWhenACaptureIsPossible) {
  // After 1.e4: the passed square e3 is in the record, but no Black pawn can take.
  QvPosition p = StartPosition();
  p.board[0x14] = 0;
  p.board[0x34] = 1;
  p.side = 1;
  QvPosition same = p;
  p.epSquare = 0x24;
  EXPECT_EQ(KeyOf(p), KeyOf(same));
  // A Black pawn on d4 could take on e3: now the en-passant square is part of the position.
  p.board[0x63] = 0;
  p.board[0x33] = -1;
  same.board[0x63] = 0;
  same.board[0x33] = -1;
  EXPECT_NE(KeyOf(p), KeyOf(same));
  // A square on the wrong rank, or off the board, is ignored.
  p.epSquare = 0x54;
  EXPECT_EQ(KeyOf(p), KeyOf(same));
  p.epSquare = 0x88;
  EXPECT_EQ(KeyOf(p), KeyOf(same));
}

// Random positions: two keys are equal exactly when the positions are equal by the rules (the
// board, side, castling rights and the capturable en-passant pawn).
TEST(QvKey, KeysAreExactOnRandomPositions) {
  std::mt19937 rng(7);
  std::map<std::string, std::string> canonical;
  for (int n = 0; n < 200000; ++n) {
    QvPosition p;
    int pieces = static_cast<int>(rng() % 33);
    for (int i = 0; i < pieces; ++i) {
      unsigned sq = (rng() % 8) << 4 | (rng() % 8);
      p.board[sq] = static_cast<std::int8_t>(static_cast<int>(rng() % 13) - 6);
    }
    // Few pieces and few squares, so that equal positions do occur.
    if (n % 2 == 0) {
      for (int i = 0; i < 128; ++i) {
        if ((i & 0x0F) > 2 || (i >> 4) > 2) p.board[i] = 0;
      }
    }
    p.side = static_cast<std::int8_t>(rng() % 2);
    p.castling = static_cast<std::int8_t>(rng() % 16);
    if (rng() % 4 == 0) p.epSquare = static_cast<std::uint16_t>((rng() % 8) << 4 | (rng() % 8));
    // The canonical form: every square, side, castling, and the en-passant square only when a
    // pawn of the side to move stands beside the double-stepped pawn.
    std::string c(reinterpret_cast<char*>(p.board), 128);
    for (int i = 0; i < 128; ++i) {
      if ((i & 0x88) != 0) c[i] = 0;
    }
    c += static_cast<char>(p.side);
    c += static_cast<char>(p.castling);
    int ep = -1;
    unsigned e = p.epSquare;
    if (e <= 0x77 && (e & 0x88) == 0) {
      unsigned rank = e >> 4, file = e & 7;
      int mover = p.side == 0 ? 1 : -1;
      unsigned pawnRank = p.side == 0 ? 4 : 3;
      unsigned pawn = pawnRank << 4 | file;
      if (rank == (p.side == 0 ? 5u : 2u) && p.board[pawn] == -mover && p.board[e] == 0 &&
          ((file > 0 && p.board[pawn - 1] == mover) || (file < 7 && p.board[pawn + 1] == mover))) {
        ep = static_cast<int>(pawn);
      }
    }
    c += static_cast<char>(ep);
    // Beyond 32 pieces the key is cut: leave those out of the comparison.
    int count = 0;
    for (int i = 0; i < 128; ++i) count += ((i & 0x88) == 0 && p.board[i] != 0);
    if (count > 32) continue;
    auto [it, fresh] = canonical.emplace(KeyOf(p), c);
    if (!fresh) {
      ASSERT_EQ(it->second, c) << "two positions share a key";
    }
  }
  EXPECT_GT(canonical.size(), 1000u);
}

TEST(QvKey, TableAndHashAreFixed) {
  const std::uint32_t* t = QvKeyTable();
  EXPECT_EQ(t, QvKeyTable());
  std::set<std::uint32_t> distinct(t, t + 2 * 65536);
  EXPECT_GT(distinct.size(), 2 * 65536 - 16u);
  std::string k = KeyOf(StartPosition());
  auto bytes = reinterpret_cast<const std::uint8_t*>(k.data());
  EXPECT_EQ(QvHashKey(bytes, k.size()), QvHashKey(bytes, k.size()));
  EXPECT_NE(QvHashKey(bytes, k.size()), QvHashKey(bytes, k.size() - 1));
}

class QvStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[platform::kMaxPath];
    ASSERT_GT(platform::TempPath(dir, sizeof dir), 0u);
    name_ = std::string(dir) + "qvtest" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    for (const char* ext : {".ue0", ".uh0", ".fe0", ".fh0", ".ue3", ".uh3"}) {
      std::remove((name_ + ext).c_str());
    }
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::string name_;
};

using Model = std::map<std::string, std::vector<std::uint32_t>>;

// Adds count references to keys drawn from a small set of random keys (some keys get many).
Model Fill(QvStore* store, int count, int keys, std::uint32_t seed, bool partAlgorithm) {
  std::mt19937 rng(seed);
  std::vector<std::string> pool;
  for (int i = 0; i < keys; ++i) {
    std::string k(1 + rng() % kMaxKeyLength, '\0');
    for (auto& c : k) c = static_cast<char>(rng());
    pool.push_back(k);
  }
  Model model;
  for (int i = 0; i < count; ++i) {
    // Skewed choice: low numbers far more often, like the early positions of a tree.
    std::size_t which = static_cast<std::size_t>(rng() % keys) % (1 + rng() % keys);
    const std::string& k = pool[which];
    auto key = reinterpret_cast<const std::uint8_t*>(k.data());
    std::uint32_t ref = static_cast<std::uint32_t>(i) & 0x7FFFFFFF;
    if (partAlgorithm) {
      // Insert; on a new key set the single entry; else fetch, append and set.
      if (QvInsertKey(store, key, k.size()) == 1) {
        std::uint32_t v = ref | 0x80000000u;
        EXPECT_TRUE(QvSetValue(store, &v, 4));
      } else {
        std::uint32_t bytes = 0;
        const std::uint8_t* old = QvFetch(store, key, k.size(), &bytes);
        std::vector<std::uint32_t> v(bytes / 4 + 1);
        if (old != nullptr) std::memcpy(v.data(), old, bytes);
        if (bytes > 0) v[bytes / 4 - 1] &= 0x7FFFFFFF;
        v.back() = ref | 0x80000000u;
        EXPECT_TRUE(QvSetValue(store, v.data(), static_cast<std::uint32_t>(v.size() * 4)));
      }
    } else {
      EXPECT_TRUE(QvAddReference(store, key, k.size(), ref));
    }
    model[k].push_back(ref);
  }
  return model;
}

void ExpectStoreEquals(QvStore* store, const Model& model) {
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(QvCount(store), model.size());
  for (const auto& [k, refs] : model) {
    std::uint32_t bytes = 0;
    const std::uint8_t* v =
        QvFetch(store, reinterpret_cast<const std::uint8_t*>(k.data()), k.size(), &bytes);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(bytes, refs.size() * 4);
    for (std::size_t i = 0; i < refs.size(); ++i) {
      std::uint32_t e;
      std::memcpy(&e, v + 4 * i, 4);
      std::uint32_t want = refs[i] | (i + 1 == refs.size() ? 0x80000000u : 0);
      ASSERT_EQ(e, want) << "entry " << i;
    }
  }
  // The full scan gives every value once.
  std::multiset<std::vector<std::uint32_t>> seen, want;
  for (const auto& [k, refs] : model) {
    std::vector<std::uint32_t> v(refs);
    v.back() |= 0x80000000u;
    want.insert(v);
  }
  std::uint32_t bytes = 0;
  while (const std::uint8_t* v = QvNext(store, &bytes)) {
    std::vector<std::uint32_t> e(bytes / 4);
    std::memcpy(e.data(), v, bytes);
    seen.insert(e);
  }
  EXPECT_FALSE(QvDamaged(store));
  EXPECT_EQ(seen, want);
}

TEST_F(QvStoreTest, InMemoryBuildReadsBack) {
  QvStore* b = QvOpenBuildB(name_.c_str(), 64 << 20, 0);
  ASSERT_NE(b, nullptr);
  Model model = Fill(b, 20000, 3000, 1, false);
  ASSERT_TRUE(QvCloseB(b));
  QvStore* r = QvOpenB(name_.c_str(), 250000, 1, 0);
  ExpectStoreEquals(r, model);
  std::uint8_t absent[3] = {1, 2, 3};
  EXPECT_EQ(QvFetch(r, absent, 3, nullptr), nullptr);
  QvCloseB(r);
  EXPECT_EQ(QvOpenA(name_.c_str(), 250000, 1, 0), nullptr);  // the other form is not there
}

// A small budget spills many runs; values still keep the order of their references, and the
// hot keys' values grow across runs.
TEST_F(QvStoreTest, RunsMergeInAddOrder) {
  QvStore* b = QvOpenBuildA(name_.c_str(), 1, 3);  // raised to the 64 KiB minimum
  ASSERT_NE(b, nullptr);
  Model model = Fill(b, 200000, 20000, 2, false);
  ASSERT_TRUE(QvCloseA(b));
  QvStore* r = QvOpenA(name_.c_str(), 250000, 1, 3);
  ExpectStoreEquals(r, model);
  QvCloseA(r);
  // No work file is left behind.
  EXPECT_FALSE(std::ifstream(name_ + ".fe3.r0").good());
}

// The insert/fetch/set sequence and the one-call append write the same entries, in memory and
// with runs (the two spill at different moments, so the directory's bucket count, taken from the
// number of run records, may differ with runs).
TEST_F(QvStoreTest, BothWaysOfAddingWriteTheSameFiles) {
  for (std::uint32_t budget : {64u << 20, 1u}) {
    QvStore* b = QvOpenBuildB(name_.c_str(), budget, 0);
    Model m1 = Fill(b, 30000, 4000, 3, true);
    ASSERT_TRUE(QvCloseB(b));
    std::string e1 = Read(name_ + ".ue0"), d1 = Read(name_ + ".uh0");
    b = QvOpenBuildB(name_.c_str(), 64 << 20, 0);
    Model m2 = Fill(b, 30000, 4000, 3, false);
    ASSERT_TRUE(QvCloseB(b));
    EXPECT_EQ(m1, m2);
    EXPECT_TRUE(e1 == Read(name_ + ".ue0")) << "budget " << budget;
    if (budget > 1) {
      EXPECT_TRUE(d1 == Read(name_ + ".uh0"));
    }
  }
}

TEST_F(QvStoreTest, GoldenBytesOfAOneKeyStore) {
  QvStore* b = QvOpenBuildB(name_.c_str(), 0, 0);
  const std::uint8_t key[2] = {0xAB, 0xCD};
  QvAddReference(b, key, 2, 5);
  QvAddReference(b, key, 2, 0x80000007u);  // bit 31 of a reference is dropped
  ASSERT_TRUE(QvCloseB(b));
  const std::string entries("LXQVENT1\x01\0\0\0\0\0\0\0"
                            "\x02\xAB\xCD\x02\0\0\0"
                            "\x05\0\0\0\x07\0\0\x80",
                            31);
  EXPECT_EQ(Read(name_ + ".ue0"), entries);
  std::string dir("LXQVDIR1\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\x1F\0\0\0\0\0\0\0", 32);
  dir += std::string("\x10\0\0\0\0\0\0\0\x1F\0\0\0\0\0\0\0", 16);  // one bucket: [16, 31)
  EXPECT_EQ(Read(name_ + ".uh0"), dir);
  // An empty store is a valid store.
  b = QvOpenBuildB(name_.c_str(), 0, 0);
  ASSERT_TRUE(QvCloseB(b));
  QvStore* r = QvOpenB(name_.c_str(), 0, 1, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(QvCount(r), 0u);
  EXPECT_EQ(QvNext(r), nullptr);
  QvCloseB(r);
}

TEST_F(QvStoreTest, BuildHandleAnswersFromItsBuffer) {
  QvStore* b = QvOpenBuildB(name_.c_str(), 64 << 20, 0);
  const std::uint8_t k1[1] = {1}, k2[1] = {2};
  EXPECT_EQ(QvInsertKey(b, k1, 1), 1);
  std::uint32_t bytes = 99;
  const std::uint8_t* v = QvFetch(b, k1, 1, &bytes);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(QvInsertKey(b, k1, 1), 0);
  EXPECT_EQ(QvFetch(b, k2, 1, &bytes), nullptr);
  EXPECT_FALSE(QvSetValue(b, "abc", 3));  // not a whole entry
  EXPECT_EQ(QvCount(b), 1u);
  EXPECT_EQ(QvNext(b), nullptr);  // no scan while building
  EXPECT_EQ(QvInsertKey(b, k1, 0), 0);  // empty and over-long keys are refused
  std::uint8_t longKey[kMaxKeyLength + 1] = {};
  EXPECT_FALSE(QvAddReference(b, longKey, sizeof longKey, 1));
  ASSERT_TRUE(QvCloseB(b));
}

TEST_F(QvStoreTest, DamagedFilesNeverCrash) {
  QvStore* b = QvOpenBuildB(name_.c_str(), 64 << 20, 0);
  Model model = Fill(b, 5000, 800, 4, false);
  ASSERT_TRUE(QvCloseB(b));
  const std::string entries = Read(name_ + ".ue0"), dir = Read(name_ + ".uh0");
  // A cut directory or entries file, or a wrong mark, is not a store.
  Write(name_ + ".uh0", dir.substr(0, dir.size() - 8));
  EXPECT_EQ(QvOpenB(name_.c_str(), 0, 1, 0), nullptr);
  Write(name_ + ".uh0", dir);
  Write(name_ + ".ue0", entries.substr(0, entries.size() - 1));
  EXPECT_EQ(QvOpenB(name_.c_str(), 0, 1, 0), nullptr);
  std::string bad = dir;
  bad[0] = 'X';
  Write(name_ + ".ue0", entries);
  Write(name_ + ".uh0", bad);
  EXPECT_EQ(QvOpenB(name_.c_str(), 0, 1, 0), nullptr);
  // Random byte flips in either file: fetches and scans end, possibly with the damage flag.
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    std::string e = entries, d = dir;
    std::string& target = round % 2 == 0 ? e : d;
    for (int i = 0; i < 4; ++i) target[16 + rng() % (target.size() - 16)] ^= static_cast<char>(1 + rng() % 255);
    Write(name_ + ".ue0", e);
    Write(name_ + ".uh0", d);
    QvStore* r = QvOpenB(name_.c_str(), 0, 1, 0);
    if (r == nullptr) continue;
    for (const auto& kv : model) {
      std::uint32_t bytes = 0;
      const std::uint8_t* v =
          QvFetch(r, reinterpret_cast<const std::uint8_t*>(kv.first.data()), kv.first.size(), &bytes);
      if (v != nullptr) {
        volatile std::uint8_t last = bytes > 0 ? v[bytes - 1] : 0;  // must be readable
        (void)last;
      }
    }
    int scanned = 0;
    while (QvNext(r) != nullptr && scanned < 100000) ++scanned;
    QvCloseB(r);
  }
}

}  // namespace
}  // namespace ludrex::qv

namespace ludrex::qv {
namespace {

class QvStatTest : public QvStoreTest {
 protected:
  void TearDown() override {
    std::remove((name_ + ".dte").c_str());
    std::remove((name_ + ".dth").c_str());
  }
};

std::vector<std::uint8_t> MoveRecord(std::uint8_t from, std::uint8_t to, std::uint32_t white,
                                     std::uint32_t draws, std::uint32_t black, std::uint32_t other) {
  std::vector<std::uint8_t> r(kStatMoveRecord, 0);
  r[0] = 1;
  r[2] = from;
  r[3] = to;
  std::uint32_t c[4] = {white, draws, black, other};
  std::memcpy(r.data() + kStatMoveBytes, c, 16);
  return r;
}

std::uint32_t Counter(const std::uint8_t* record, int i) {
  std::uint32_t v;
  std::memcpy(&v, record + kStatMoveBytes + 4 * i, 4);
  return v;
}

// Positions visited several times (transpositions), also across runs of a tiny budget: the
// reader gives each move once with its counters summed, and every game text.
TEST_F(QvStatTest, MovesAndGamesOfEveryVisit) {
  QvStat* s = QvStatCreate(name_.c_str(), 1, 1);
  ASSERT_NE(s, nullptr);
  const std::uint8_t start[3] = {1, 2, 3}, other[2] = {9, 9};
  for (int visit = 0; visit < 3000; ++visit) {
    ASSERT_TRUE(QvStatPosition(s, start, 3, nullptr));
    ASSERT_TRUE(QvStatAdd(s, MoveRecord(0x14, 0x34, 1, 0, 0, 0).data()));
    ASSERT_TRUE(QvStatAdd(s, MoveRecord(0x13, 0x33, 0, 2, 1, 0).data()));
    ASSERT_TRUE(QvStatPosition(s, other, 2, nullptr));
    ASSERT_TRUE(QvStatAdd(s, MoveRecord(0x06, 0x25, visit % 2, 0, 0, 0).data()));
    if (visit % 1000 == 0) {
      ASSERT_TRUE(QvStatAddGame(s, "Alekhine - Capablanca", "1927"));
    }
  }
  ASSERT_TRUE(QvStatClose(s));
  std::unique_ptr<QvStatReader> r(QvStatReader::Open(name_.c_str(), 0));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->PositionCount(), 2u);
  ASSERT_EQ(r->Lookup(start, 3), 2);
  EXPECT_EQ(r->Move(0)[2], 0x14);
  EXPECT_EQ(Counter(r->Move(0), 0), 3000u);
  EXPECT_EQ(Counter(r->Move(1), 1), 6000u);
  EXPECT_EQ(Counter(r->Move(1), 2), 3000u);
  EXPECT_EQ(r->GameCount(), 0);
  ASSERT_EQ(r->Lookup(other, 2), 1);
  EXPECT_EQ(Counter(r->Move(0), 0), 1500u);
  ASSERT_EQ(r->GameCount(), 3);
  EXPECT_EQ(r->Game(2).first, "Alekhine - Capablanca");
  EXPECT_EQ(r->Game(2).second, "1927");
  const std::uint8_t absent[1] = {7};
  EXPECT_EQ(r->Lookup(absent, 1), 0);
  EXPECT_EQ(r->Move(0), nullptr);
  EXPECT_FALSE(r->Damaged());
}

TEST_F(QvStatTest, WithoutGameTextsAndRefusals) {
  QvStat* s = QvStatCreate(name_.c_str(), 1 << 20, 0);
  EXPECT_FALSE(QvStatAdd(s, MoveRecord(1, 2, 1, 0, 0, 0).data()));  // no current position
  const std::uint8_t k[1] = {5};
  ASSERT_TRUE(QvStatPosition(s, k, 1, nullptr));
  EXPECT_TRUE(QvStatAddGame(s, "a", "b"));  // accepted and dropped
  ASSERT_TRUE(QvStatClose(s));
  std::unique_ptr<QvStatReader> r(QvStatReader::Open(name_.c_str(), 0));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Lookup(k, 1), 0);
  EXPECT_EQ(r->GameCount(), 0);
  EXPECT_EQ(QvStatReader::Open((name_ + "x").c_str(), 0), nullptr);
}

}  // namespace
}  // namespace ludrex::qv
