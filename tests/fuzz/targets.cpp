#include "targets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/pgn/pgn_base.h"
#include "base/registry.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "movegen/game.h"
#include "platform/platform.h"
#include "record/chess_codec.h"
#include "record/pgn_text.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/array.h"
#include "storage/volume.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace ludrex::fuzz {
namespace {

// A finding that is no crash: the property the target checks does not hold.
[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "fuzz: %s\n", what);
  std::abort();
}

// Runs f; a numbered error or a refused allocation is a normal outcome.
template <typename F>
void Guarded(F&& f) {
  try {
    f();
  } catch (const Failure&) {
  } catch (const std::bad_alloc&) {
  }
}

String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}

// A scratch folder of this process for the targets that need files.
const std::string& Scratch() {
  static const std::string dir = [] {
    namespace fs = std::filesystem;
    std::error_code ec;
    const char* t = std::getenv("TMPDIR");
    fs::path root = t != nullptr && *t != 0 ? fs::path(t) : fs::temp_directory_path(ec);
    fs::path d = root / ("ludrex_fuzz_" + std::to_string(static_cast<long>(getpid())));
    fs::create_directories(d, ec);
    if (ec) Broken("cannot make the scratch folder");
    return d.string();
  }();
  return dir;
}

void PutFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Broken("cannot write a scratch file");
  if (size > 0 && std::fwrite(data, 1, size, f) != size) Broken("cannot write a scratch file");
  std::fclose(f);
}

// The PGN tag pattern of the command's import: the table's tags, then the moves.
RecordPattern PgnPattern() {
  RecordPattern p;
  for (std::int32_t i = 0; i < kPgnTagRows; ++i) {
    const PgnTagRow& r = PgnTagTableRow(i);
    p.Append(FieldSpec(r.type, Own("~" + std::to_string(r.meaning)), 0, String(r.param)));
  }
  p.Append(FieldSpec(kChessType, String("~22"), 0, String("")));
  return p;
}

// Reads a game's elements to the end, as every reader of a game does.
void Walk(Game* game) {
  GameRewind(game);
  ChessElement e;
  int guard = 0;
  while (GameNext(game, &e) != 0 && ++guard < 1000000) {
  }
}

// ---- Game scores ------------------------------------------------------------------------------

int PgnMoves(const std::uint8_t* data, std::size_t size) {
  Start();
  static Game* game = GameCreate(0);
  static Game* again = GameCreate(0);
  GameClear(game);
  GameReadPgn(game, reinterpret_cast<const char*>(data), static_cast<int>(size));
  GameFinish(game);
  Walk(game);
  // What the writer makes of it reads back.
  char* text = nullptr;
  int length = 0;
  GameWritePgn(game, &text, &length);
  if (length < 0 || (length > 0 && text == nullptr)) Broken("the writer gave no text");
  if (length > 0 && std::memchr(text, 0, static_cast<std::size_t>(length)) != nullptr)
    Broken("the written move text holds a NUL");
  std::string copy(text != nullptr ? text : "", static_cast<std::size_t>(length));
  GameClear(again);
  GameReadPgn(again, copy.data(), static_cast<int>(copy.size()));
  GameFinish(again);
  Guarded([&] {
    ByteBlock bytes;
    EncodeNativeGame(game, bytes);
  });
  return 0;
}

int NativeGame(const std::uint8_t* data, std::size_t size) {
  Start();
  static Game* game = GameCreate(0);
  GameClear(game);
  Guarded([&] { DecodeNativeGame(data, static_cast<std::int32_t>(size), game); });
  GameFinish(game);
  Walk(game);
  char* text = nullptr;
  int length = 0;
  GameWritePgn(game, &text, &length);
  Guarded([&] {
    ByteBlock bytes;
    EncodeNativeGame(game, bytes);
  });
  const std::int32_t n = static_cast<std::int32_t>(size);
  for (std::int32_t at = 0; at < n && at < 64;) {
    std::int32_t k = NativeCodeLength(data + at, n - at);
    if (k <= 0) break;
    at += k;
  }
  if (n > 0) {
    std::vector<std::uint8_t> copy(data, data + size);
    NativeMainLine(copy.data(), n);
    NativeCommonPrefix(data, copy.data(), n);
  }
  return 0;
}

int DosGame(const std::uint8_t* data, std::size_t size) {
  Start();
  static Game* game = GameCreate(0);
  GameClear(game);
  Guarded([&] { DecodeDosGame(data, static_cast<std::int32_t>(size), game, String("")); });
  GameFinish(game);
  Walk(game);
  Guarded([&] { DecodeDosPackedText(data, static_cast<std::int32_t>(size)); });
  return 0;
}

// ---- PGN games and bases ----------------------------------------------------------------------

int PgnGame(const std::uint8_t* data, std::size_t size) {
  Start();
  static const RecordPattern pattern = PgnPattern();
  Guarded([&] {
    const char* text = reinterpret_cast<const char*>(data);
    PgnScanner scanner;
    std::vector<std::int64_t> starts;
    scanner.Feed(text, size, 0, starts);
    std::size_t begin = starts.empty() ? 0 : static_cast<std::size_t>(starts[0]);
    std::size_t end = starts.size() > 1 ? static_cast<std::size_t>(starts[1]) : size;
    PgnGameText game;
    ParsePgnGame(text + begin, end - begin, game);
    for (const auto& tag : game.tags) {
      if (tag.value.find('\0') != std::string::npos) Broken("a tag value kept a NUL");
    }
    Record r(pattern);
    FillRecordFromPgn(game, false, r);
    std::string out;
    WritePgnGame(r, false, out);
    if (out.find('\0') != std::string::npos) Broken("the game's PGN text holds a NUL");
    // The text written reads back to the same text.
    PgnGameText back;
    ParsePgnGame(out.data(), out.size(), back);
    Record r2(pattern);
    FillRecordFromPgn(back, false, r2);
    std::string out2;
    WritePgnGame(r2, false, out2);
    if (out2 != out) {
      std::fprintf(stderr, "first:\n%s\nagain:\n%s\n", out.c_str(), out2.c_str());
      Broken("the game's PGN text does not read back to itself");
    }
    // The pattern a PGN base takes from its first game.
    RecordPattern first = PgnBase::PatternOfFirstGame(text, size);
    Record r3(first);
    FillRecordFromPgn(game, true, r3);
  });
  return 0;
}

int PgnFile(const std::uint8_t* data, std::size_t size) {
  Start();
  const std::string name = Scratch() + "/game";
  PutFile(name + ".pgn", data, size);
  Guarded([&] {
    Base* b = OpenBase(Own(name), 2);
    if (b == nullptr) return;
    try {
      Record r(b->GetRecordPattern());
      const std::int32_t n = b->RecordCount();
      for (std::int32_t i = 0; i < n && i < 64; ++i) b->Read(i, r);
    } catch (...) {
      CloseBase(b);
      throw;
    }
    CloseBase(b);
  });
  return 0;
}

// ---- Storage ----------------------------------------------------------------------------------

// Lists directory dir of the volume and reads every member; subdirectories to a small depth.
void ReadVolumeDir(Volume* v, std::int32_t dir, int depth, int& budget) {
  std::vector<std::pair<std::string, std::uint32_t>> names;
  for (VolumeFind* f = v->FindFirst(0, dir); f != nullptr; f = v->FindNext(f)) {
    names.emplace_back(std::string(f->name.Text(), f->name.Length()), f->flags);
    if (--budget <= 0) {
      Volume::FindClose(f);
      break;
    }
  }
  for (const auto& entry : names) {
    const std::string& name = entry.first;
    if ((entry.second & kVolumeDirectory) != 0) {
      if (depth < 3) {
        std::int32_t sub = v->ChangeDir(name.c_str(), dir);
        if (sub != 0 && sub != dir) ReadVolumeDir(v, sub, depth + 1, budget);
      }
      continue;
    }
    Guarded([&] {
      ArrayHandle m = v->OpenMember(name.c_str(), dir);
      std::int32_t count = m->Count();
      std::vector<std::uint8_t> buf(4096);
      for (std::int32_t at = 0; at < count && at < (1 << 20);) {
        std::int32_t k = std::min<std::int32_t>(count - at, 4096);
        m->Read(at, buf.data(), k);
        at += k;
      }
    });
  }
}

int VolumeRead(const std::uint8_t* data, std::size_t size) {
  Start();
  const std::string name = Scratch() + "/volume.emb";
  PutFile(name, data, size);
  Guarded([&] {
    std::unique_ptr<Volume> v(Volume::Open(name.c_str()));
    if (!v) return;
    int budget = 256;
    ReadVolumeDir(v.get(), 0, 0, budget);
  });
  return 0;
}

int SubsetOpen(const std::uint8_t* data, std::size_t size) {
  Start();
  if (size < 2) return 0;
  // The first two bytes choose the maximum length the caller gives; the rest is the file.
  const std::int32_t maxLength = (data[0] | (data[1] << 8)) % 40000;
  for (int form = 0; form < 2; ++form) {
    Guarded([&] {
      Array* a = NewMemArray(0);
      if (a == nullptr) return;
      ArrayHandle storage(a);
      storage->Init(1);
      storage->Expandable(1);
      if (size > 2) storage->Write(0, data + 2, static_cast<std::int32_t>(size - 2));
      std::unique_ptr<Subset> s(form == 0 ? Subset::OpenIn(std::move(storage), maxLength)
                                          : Subset::OpenOldFormat(std::move(storage)));
      if (!s) return;
      std::int32_t members = 0;
      for (std::int32_t r = 0; r < s->MaxLength() && r < 40000; ++r) members += s->Item(r);
      if (s->CurLength() != members) Broken("a subset's count differs from its members");
    });
  }
  return 0;
}

// ---- Native base ------------------------------------------------------------------------------

// The files of a native base, in the order the fuzz input holds them: each one a 4-byte
// little-endian length and its bytes; a file whose length runs past the input takes the rest.
constexpr const char* kNativeFiles[] = {".kvx", ".axx", ".dxx", ".iii", ".a00", ".d00", ".a01",
                                        ".d01", ".a02", ".d02", ".emb"};

int NativeBaseRead(const std::uint8_t* data, std::size_t size) {
  Start();
  const std::string name = Scratch() + "/base";
  std::size_t at = 0;
  for (const char* ext : kNativeFiles) {
    std::size_t n = 0;
    if (at + 4 <= size) {
      n = data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) | (std::size_t(data[at + 3]) << 24);
      at += 4;
    } else {
      at = size;
    }
    if (n > size - at) n = size - at;
    std::string path = name + ext;
    std::remove(path.c_str());
    if (n > 0 || std::strcmp(ext, ".kvx") == 0 || std::strcmp(ext, ".axx") == 0)
      PutFile(path, data + at, n);
    at += n;
  }
  Guarded([&] {
    Base* b = OpenBase(Own(name), 0);
    if (b == nullptr) return;
    try {
      Record r(b->GetRecordPattern());
      r.LinkToBase(b);
      const std::int32_t n = b->RecordCount();
      for (std::int32_t i = 0; i < n && i < 64; ++i) {
        Guarded([&] {
          b->Read(i, r);
          b->IsDeleted(i);
          std::string out;
          WritePgnGame(r, false, out);
        });
      }
      for (std::int32_t i = 0; i < b->EmbeddedBaseCount() && i < 4; ++i) {
        Guarded([&] {
          Base* e = OpenEmbeddedBase(b, b->EmbeddedBaseName(i));
          if (e == nullptr) return;
          try {
            Record er(e->GetRecordPattern());
            for (std::int32_t k = 0; k < e->RecordCount() && k < 16; ++k) e->Read(k, er);
          } catch (...) {
            CloseBase(e);
            throw;
          }
          CloseBase(e);
        });
      }
    } catch (...) {
      CloseBase(b);
      throw;
    }
    CloseBase(b);
  });
  Registry()->CloseAll();
  return 0;
}

}  // namespace

void Start() {
  static bool started = false;
  if (started) return;
  started = true;
  platform::SetMessageBoxHook([](const char*, const char*, unsigned) { return 1; });
  Callbacks().error = [](const char*) {};
  BuildMessageTable();
  BuildSubsetTables();
  BuildGameScoreTables();
  CreateRegistry();
  InstallLibraryAccess();
  RegisterNativeBase();
  RegisterPgnBase();
}

void RemoveScratch() {
  std::error_code ec;
  std::filesystem::remove_all(Scratch(), ec);
}

const TargetEntry kTargets[] = {
    {"pgn_moves", PgnMoves},     {"pgn_game", PgnGame},       {"pgn_file", PgnFile},
    {"native_game", NativeGame}, {"dos_game", DosGame},       {"volume", VolumeRead},
    {"subset", SubsetOpen},      {"native_base", NativeBaseRead}, {nullptr, nullptr}};

}  // namespace ludrex::fuzz
