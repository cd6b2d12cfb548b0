// A DOS base as a host meets it, its files written byte by byte here: one game of five moves a
// side with short castling and a comment, two players, a place and an event.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

namespace fs = std::filesystem;
using host_test::g_errors;
using Bytes = std::vector<std::uint8_t>;

std::string Code(const std::string& text) { return text.substr(0, text.find('\n')); }

void Write(const std::string& name, const Bytes& b) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                             static_cast<std::streamsize>(b.size()));
}
void Put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A library's three members: the count at byte 18 of ".#00", the offsets, the texts.
void AddLibrary(std::vector<std::pair<std::string, Bytes>>& members, const std::string& code,
                const std::vector<std::string>& names) {
  Bytes head(20, 0), offsets, texts;
  head[18] = static_cast<std::uint8_t>(names.size());
  for (const std::string& n : names) {
    Put32(offsets, static_cast<std::uint32_t>(texts.size()));
    texts.insert(texts.end(), n.begin(), n.end());
  }
  Put32(offsets, static_cast<std::uint32_t>(texts.size()));
  members.push_back({code + ".#00", head});
  members.push_back({code + ".#01", offsets});
  members.push_back({code + ".#02", texts});
}

// The older container: a 1024-byte directory block, then per member a block-table block and
// its data blocks.
Bytes Container(const std::vector<std::pair<std::string, Bytes>>& members) {
  Bytes file(1024, 0);
  file[254] = 'M';
  file[260] = static_cast<std::uint8_t>(members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Bytes& data = members[i].second;
    const std::size_t table = file.size() / 1024;
    const std::size_t blocks = (data.size() + 1023) / 1024;
    file.resize(file.size() + 1024 * (1 + blocks), 0);
    std::uint8_t* e = &file[262 + 23 * i];
    const std::uint32_t length = static_cast<std::uint32_t>(data.size());
    std::memcpy(e, &length, 4);
    e[4] = static_cast<std::uint8_t>(table);
    e[6] = static_cast<std::uint8_t>(members[i].first.size());
    std::memcpy(e + 7, members[i].first.data(), members[i].first.size());
    for (std::size_t b = 0; b < blocks; ++b) {
      file[table * 1024 + 2 * b] = static_cast<std::uint8_t>(table + 1 + b);
      std::memcpy(&file[(table + 1 + b) * 1024], data.data() + b * 1024,
                  std::min<std::size_t>(1024, data.size() - b * 1024));
    }
  }
  return file;
}

class HostLegacy : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    dir_ = ::testing::TempDir() + "ludrex_hostdos/";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    name_ = dir_ + "old";
    Bytes bfi = Text("+Tallowmerecraft Database File. Version 1.2 ");
    bfi.resize(309, 0);
    bfi[49] = 1;  // one game
    bfi[53] = 3;
    std::memcpy(&bfi[54], "Old", 3);
    Write(name_ + ".bfi", bfi);
    Bytes bgh;
    for (unsigned v : {1u, 2u, 2u, 1959u, 1u, 1u, 3u, 0u, (2u << 13) | (0u << 6), 0u, 0u, 0u})
      Put16(bgh, v);  // Tal - Smyslov 1-0, 1959, Bled, Candidates, round 3, ECO C00
    Write(name_ + ".bgh", bgh);
    Bytes bba;
    Put32(bba, 0);
    Write(name_ + ".bba", bba);
    // 1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. O-O (the rook's move first, applied but not listed),
    // a comment after Black's first move.
    Bytes bgb;
    Put32(bgb, 8);
    for (int c : {136, 136, 107, 98, 84, 111, 0xF9, 61, 9, 0xFF}) bgb.push_back(static_cast<std::uint8_t>(c));
    Write(name_ + ".bgb", bgb);
    Bytes ndx(64, 0);
    Put32(ndx, 0);
    Put16(ndx, 2);
    ndx.push_back(5);
    ndx.push_back(0x80);  // a text in ".dsc", the game's last entry
    Write(name_ + ".ndx", ndx);
    Write(name_ + ".dsc", Text("Sharp"));
    Write(name_ + ".bdy", Bytes());
    Bytes bid(89, 0);
    bid[85] = 1;
    bid.push_back(0);
    Write(name_ + ".bid", bid);
    std::vector<std::pair<std::string, Bytes>> members;
    AddLibrary(members, "PNE", {"Tal", "Smyslov"});
    AddLibrary(members, "PLE", {"Bled"});
    AddLibrary(members, "TCE", {"Candidates"});
    AddLibrary(members, "COE", {});
    Write(name_ + ".lib", Container(members));
  }
  void TearDown() override {
    fs::remove_all(dir_);
    SetErrorFunction(nullptr);
  }
  std::string dir_, name_;
};

TEST_F(HostLegacy, OneGameWithItsNamesAndComment) {
  LudrexBase* b = Base_BaseOpen(name_.c_str(), 1);
  ASSERT_NE(b, nullptr) << (g_errors.empty() ? "" : g_errors.back());
  EXPECT_EQ(Base_GetBaseType(b), 1);
  EXPECT_EQ(Base_GetBaseLength(b), 1);
  EXPECT_EQ(Base_GetRecordLength(b), 10);
  HostRecordPattern* p = Base_GetRecordPattern(b);
  LudrexRecord* r = Record_CreateRecord(p);
  CPP_DestroyRP(p);
  Record_LinkToBase(r, b);
  Base_Read(b, 0, r);
  auto name = [&](int i) {
    return std::string(
        StringField_GetStrPtr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, i)), 0)));
  };
  EXPECT_EQ(name(0), "Tal");
  EXPECT_EQ(name(1), "Smyslov");
  EXPECT_EQ(name(4), "Bled");
  EXPECT_EQ(name(5), "Candidates");
  EXPECT_EQ(ResultField_GetValue(Record_GetField(r, 2)), 2);
  EXPECT_EQ(DateField_GetYear(Record_GetField(r, 3)), 1959);
  char* pgn = Record_GetPGNBuffer(r);
  ASSERT_NE(pgn, nullptr);
  const std::string text = pgn;
  Record_DeletePGNBuffer(pgn);
  EXPECT_NE(text.find("1. e4 e5 {Sharp} 2. Nf3 Nc6 3. Bb5 a6 4. O-O"), std::string::npos) << text;
  EXPECT_NE(text.find("[White \"Tal\"]"), std::string::npos) << text;

  // Games with comments: the one game.
  LudrexSubset* s = Subset_CreateTmp(1);
  Subset_IncludeRange(s, 0, 1);
  Base_GetCommented(b, s);
  EXPECT_EQ(Subset_CurLength(s), 1);
  Subset_Destroy(s);

  // Libraries by name; another name is refused with 909.
  LudrexBase* players = Base_EmbeddedBaseOpen(b, "Players");
  ASSERT_NE(players, nullptr);
  EXPECT_EQ(Base_GetBaseLength(players), 2);
  Base_BaseDestroy(players);
  EXPECT_TRUE(g_errors.empty()) << g_errors.front();
  // A name that is not one of the four: not registered with the open base (914; the base's
  // own OpenEmbedded answers 909).
  EXPECT_EQ(Base_EmbeddedBaseOpen(b, "Annotators"), nullptr);
  ASSERT_FALSE(g_errors.empty());
  EXPECT_EQ(Code(g_errors.back()), "Error # 914");
  g_errors.clear();
  players = Base_EmbeddedBaseOpen(b, "Players");  // the group is intact
  ASSERT_NE(players, nullptr);
  Base_BaseDestroy(players);
  // Nothing is written.
  EXPECT_EQ(Base_Write(b, AppendRecord, r), -1);
  EXPECT_EQ(Code(g_errors.back()), "Error # 907");
  Record_Destroy(r);
  Base_BaseDestroy(b);

  char block[300];
  Base_GetShortInfo(1, name_.c_str(), block);
  std::int32_t count;
  std::memcpy(&count, block, 4);
  EXPECT_EQ(count, 1);
  EXPECT_STREQ(block + 4, "Old");
}

}  // namespace
