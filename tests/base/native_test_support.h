// The fixture of the native base tests: start-up state, a scratch base name, byte access to the
// base's files, and record helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/registry.h"
#include "capture.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/files.h"

namespace ludrex::testing {

inline String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}

inline RecordPattern PlayersPattern() {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String("~3"), kFlagKey, String("")));
  return p;
}

// White and Black refer to the embedded "Players" library; then event, date, result.
inline RecordPattern GamesPattern() {
  RecordPattern players = PlayersPattern();
  RecordPattern p;
  p.Append(FieldSpec(kLibRefType, String("~1"), 0, String("Players"), &players));
  p.Append(FieldSpec(kLibRefType, String("~2"), 0, String("Players"), &players));
  p.Append(FieldSpec(kStringType, String("~16"), 0, String("")));
  p.Append(FieldSpec(kDateType, String("~7"), 0, String("F")));
  p.Append(FieldSpec(kResultType, String("~9"), 0, String("")));
  return p;
}

inline std::string Text(const Field& f) {
  String t = f.ToText();
  return std::string(t.Text(), t.Length());
}

inline std::string PlayerName(Field& f) {
  auto& lib = static_cast<LibRefField&>(f);
  return Text(lib.LibraryRecord()[0]);
}

inline void SetPlayer(Field& f, const std::string& name) {
  static_cast<LibRefField&>(f).LibraryRecord()[0].SetText(Own(name));
}

class NativeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_ = std::make_unique<CaptureScope>();
    BuildSubsetTables();
    CreateRegistry();
    InstallLibraryAccess();
    RegisterNativeBase();
    name_ = ::testing::TempDir() + "ludrex_native_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    EraseBase(Own(name_), 0);
  }
  void TearDown() override {
    Registry()->CloseAll();
    DestroyRegistry();
    EraseBase(Own(name_), 0);
    scope_.reset();
  }

  Base* Create(const RecordPattern& p) { return CreateBase(Own(name_), p, 0); }
  Base* Open() { return OpenBase(Own(name_), 0); }

  std::vector<std::uint8_t> Bytes(const std::string& ext) const {
    std::ifstream in(name_ + ext, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void PutBytes(const std::string& ext, const std::vector<std::uint8_t>& b) const {
    std::ofstream out(name_ + ext, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  bool Exists(const std::string& ext) const { return FileExists((name_ + ext).c_str()); }

  std::unique_ptr<CaptureScope> scope_;
  std::string name_;
};

// Little-endian 32-bit values as bytes.
inline std::vector<std::uint8_t> Le32(std::initializer_list<std::int64_t> values) {
  std::vector<std::uint8_t> out;
  for (std::int64_t v : values) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
  }
  return out;
}

}  // namespace ludrex::testing
