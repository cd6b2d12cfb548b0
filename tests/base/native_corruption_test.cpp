// The corruption suite: every file of a native base with a library, cut short at several points,
// lengthened with garbage, zeroed over a range and flipped at random. Opening and reading every
// game either gives the original games or a numbered error (on open, or on the damaged game);
// where the damage shows in the file sizes (a cut, an address or count beyond a file) no game
// may come back different without an error.
#include <filesystem>
#include <map>
#include <random>

#include "native_test_support.h"
#include "record/field_types.h"
#include "record/pgn_text.h"

namespace ludrex {
namespace {

using testing::NativeTest;
using testing::Own;
using testing::SetPlayer;

class NativeCorruption : public NativeTest {
 protected:
  RecordPattern Pattern() {
    RecordPattern p = testing::GamesPattern();
    p.Append(FieldSpec(kIntType, String("Elo"), 0, String("2u")));
    p.Append(FieldSpec(kChessType, String("~22"), 0, String("")));
    return p;
  }

  void MakeBase() {
    Base* b = Create(Pattern());
    Record r(b->GetRecordPattern());
    r.LinkToBase(b);
    const char* players[] = {"Tal", "Botvinnik", "Smyslov", "Petrosian", "Spassky"};
    const char* lines[] = {"1. e4 e5 2. Nf3 Nc6 3. Bb5 a6", "1. d4 d5 2. c4 {gambit} e6",
                           "1. c4 (1. Nf3 d5) 1... e5 2. Nc3", ""};
    for (int k = 0; k < 24; ++k) {
      SetPlayer(*r.FindField(String("~1")), players[k % 5]);
      SetPlayer(*r.FindField(String("~2")), players[(k * 3 + 1) % 5]);
      r.FindField(String("~16"))->SetText(Own("Event " + std::string(static_cast<std::size_t>(k % 7), 'x')));
      r.FindField(String("~9"))->SetInt(k % 4);
      r.FindField(String("Elo"))->SetInt(2000 + k);
      const std::string moves = lines[k % 4];
      r.FindField(String("~22"))->Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(moves.data()),
                                         std::int32_t(moves.size()), String(""));
      b->Write(kAppendRecord, r);
    }
    CloseBase(b);
  }

  // Every file of the base: its extension and bytes.
  std::map<std::string, std::vector<std::uint8_t>> Files() {
    namespace fs = std::filesystem;
    std::map<std::string, std::vector<std::uint8_t>> out;
    const fs::path base(name_);
    const std::string prefix = base.filename().string() + ".";
    for (const auto& e : fs::directory_iterator(base.parent_path())) {
      const std::string f = e.path().filename().string();
      if (f.size() > prefix.size() && f.compare(0, prefix.size(), prefix) == 0) {
        const std::string ext = f.substr(prefix.size() - 1);
        out[ext] = Bytes(ext);
      }
    }
    return out;
  }

  // Each game's PGN text, or "error N" for a game that raised N; "open N" when the open failed.
  std::vector<std::string> ReadAll() {
    std::vector<std::string> out;
    Base* b = nullptr;
    testing::Capture().errors.clear();
    testing::Capture().boxes.clear();
    try {
      b = Open();
    } catch (const Failure& f) {
      return {"open " + std::to_string(f.code)};
    }
    // A header of another format is refused with a message (904) and no base.
    if (b == nullptr) {
      if (testing::LastErrorCode() == 0 && !testing::Capture().boxes.empty()) return {"open 904"};
      return {"open " + std::to_string(testing::LastErrorCode())};
    }
    try {
      Record r(b->GetRecordPattern());
      r.LinkToBase(b);
      for (std::int32_t k = 0; k < b->RecordCount(); ++k) {
        try {
          b->Read(k, r);
          std::string text;
          WritePgnGame(r, false, text);
          out.push_back(text);
        } catch (const Failure& f) {
          out.push_back("error " + std::to_string(f.code));
        }
      }
    } catch (const Failure& f) {
      out.push_back("error " + std::to_string(f.code));
    }
    Registry()->CloseAll();
    return out;
  }

  static bool IsError(const std::string& s) {
    return s.compare(0, 6, "error ") == 0 || s.compare(0, 5, "open ") == 0;
  }
  static bool Numbered(const std::string& s) {
    const std::size_t at = s.find(' ');
    const int code = std::atoi(s.c_str() + at + 1);
    return code > 0 && code < 3000;
  }

  // The damaged base reads as the original, or every game that differs raised a numbered error
  // (strict), or at least every error is numbered (loose: damage no file size shows).
  void Expect(const std::vector<std::string>& original, const std::string& what, bool strict) {
    std::vector<std::string> got = ReadAll();
    if (got.size() == 1 && IsError(got[0]) && got[0][0] == 'o') {
      EXPECT_TRUE(Numbered(got[0])) << what << ": " << got[0];
      return;
    }
    if (strict) {
      EXPECT_EQ(got.size(), original.size()) << what;
    }
    for (std::size_t k = 0; k < got.size(); ++k) {
      if (IsError(got[k])) {
        EXPECT_TRUE(Numbered(got[k])) << what << " game " << k << ": " << got[k];
      } else if (strict) {
        ASSERT_LT(k, original.size()) << what;
        EXPECT_EQ(got[k], original[k]) << what << " game " << k;
      }
    }
  }

  void Restore(const std::map<std::string, std::vector<std::uint8_t>>& files) {
    for (const auto& [ext, bytes] : files) PutBytes(ext, bytes);
  }
};

TEST_F(NativeCorruption, CutsAndGarbageAreDetectedOrHarmless) {
  MakeBase();
  const auto files = Files();
  ASSERT_GE(files.size(), 6u);
  const std::vector<std::string> original = ReadAll();
  ASSERT_EQ(original.size(), 24u);
  for (const auto& s : original) ASSERT_FALSE(IsError(s)) << s;
  std::mt19937 rng(7);
  for (const auto& [ext, bytes] : files) {
    const std::size_t n = bytes.size();
    std::vector<std::size_t> cuts = {0, n / 3, n / 2, n > 0 ? n - 1 : 0};
    if (n > 5) cuts.push_back(n - 5);
    for (std::size_t cut : cuts) {
      if (cut >= n) continue;
      PutBytes(ext, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
      Expect(original, ext + " cut at " + std::to_string(cut), true);
      Restore(files);
    }
    for (std::size_t extra : {std::size_t{1}, std::size_t{7}, std::size_t{600}}) {
      std::vector<std::uint8_t> longer = bytes;
      for (std::size_t k = 0; k < extra; ++k) longer.push_back(static_cast<std::uint8_t>(rng()));
      PutBytes(ext, longer);
      Expect(original, ext + " lengthened by " + std::to_string(extra), true);
      Restore(files);
    }
  }
  EXPECT_EQ(ReadAll(), original);
}

TEST_F(NativeCorruption, ZeroedRangesAndFlipsGiveNumberedErrorsOnly) {
  MakeBase();
  const auto files = Files();
  const std::vector<std::string> original = ReadAll();
  std::mt19937 rng(11);
  for (const auto& [ext, bytes] : files) {
    if (bytes.empty()) continue;
    for (int round = 0; round < 6; ++round) {
      std::vector<std::uint8_t> damaged = bytes;
      const std::size_t at = rng() % damaged.size();
      const std::size_t len = std::min<std::size_t>(damaged.size() - at, 1 + rng() % 64);
      std::fill(damaged.begin() + static_cast<long>(at), damaged.begin() + static_cast<long>(at + len), 0);
      PutBytes(ext, damaged);
      Expect(original, ext + " zeroed at " + std::to_string(at), false);
      damaged = bytes;
      for (int k = 0; k < 4; ++k) damaged[rng() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      PutBytes(ext, damaged);
      Expect(original, ext + " flipped", false);
      Restore(files);
    }
  }
  EXPECT_EQ(ReadAll(), original);
}

// An address file zeroed as a whole (every record's data "at 0") or emptied: the second is
// plainly detectable and must give 946 on every game that lost its entry.
TEST_F(NativeCorruption, EmptiedAddressFileGivesAnErrorOnEveryGame) {
  MakeBase();
  const auto files = Files();
  for (const auto& [ext, bytes] : files) {
    if (ext.size() != 4 || ext[1] != 'a' || ext == ".axx") continue;
    PutBytes(ext, {});
    std::vector<std::string> got = ReadAll();
    ASSERT_EQ(got.size(), 24u) << ext;
    for (const auto& g : got) EXPECT_EQ(g, "error 946") << ext;
    Restore(files);
  }
}

}  // namespace
}  // namespace ludrex
