#include "commands.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ludrex.h"
#include "pattern.h"
#include "progress.h"
#include "text.h"

namespace ludrex_tool {
namespace {

std::string g_lastError;

void LUDREX_CDECL OnError(const char* text) { g_lastError = text != nullptr ? text : ""; }

bool ParseInt(const std::string& s, long& out) {
  char* end = nullptr;
  out = std::strtol(s.c_str(), &end, 10);
  return !s.empty() && *end == 0;
}

// Options of the form --name value; the rest are positional.
struct Parsed {
  Args positional;
  long from = 0;
  long count = -1;
  bool force = false;
  bool ok = true;
};

Parsed Parse(const Args& args) {
  Parsed p;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--force") {
      p.force = true;
    } else if ((a == "--from" || a == "--count") && i + 1 < args.size()) {
      long v;
      if (!ParseInt(args[++i], v) || v < 0) {
        std::fprintf(stderr, "ludrex: %s needs a number, not %s\n", a.c_str(), args[i].c_str());
        p.ok = false;
      }
      (a == "--from" ? p.from : p.count) = v;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::fprintf(stderr, "ludrex: unknown option %s\n", a.c_str());
      p.ok = false;
    } else {
      p.positional.push_back(a);
    }
  }
  return p;
}

LudrexBase* OpenNative(const std::string& path) {
  std::string name = WithoutExtension(path, ".kvx");
  LudrexBase* base = Base_BaseOpen(name.c_str(), 0);
  if (base == nullptr) Fail("cannot open the base " + name + ".kvx");
  return base;
}

// The PGN text of record i, or empty when it cannot be read.
std::string GamePgn(LudrexBase* base, LudrexRecord* record, int i) {
  Base_Read(base, i, record);
  char* text = Record_GetPGNBuffer(record);
  if (text == nullptr) return std::string();
  std::string out(text);
  Record_DeletePGNBuffer(text);
  return out;
}

// Reads a tag's value from PGN text ("" when absent).
std::string Tag(const std::string& pgn, const char* tag) {
  std::string key = std::string("[") + tag + " \"";
  std::size_t at = pgn.find(key);
  if (at == std::string::npos) return std::string();
  at += key.size();
  std::string value;
  for (std::size_t i = at; i < pgn.size() && pgn[i] != '"'; ++i) {
    if (pgn[i] == '\\' && i + 1 < pgn.size()) ++i;
    value += pgn[i];
  }
  return value;
}

// Full moves of the main line: the last move number that starts a white move outside comments
// and variations, or the last one seen.
int MoveCount(const std::string& pgn) {
  std::size_t body = pgn.find("\n\r\n");
  if (body == std::string::npos) body = pgn.find("\n\n");
  if (body == std::string::npos) return 0;
  int depth = 0, last = 0;
  bool comment = false;
  for (std::size_t i = body; i < pgn.size(); ++i) {
    char c = pgn[i];
    if (comment) {
      comment = c != '}';
      continue;
    }
    if (c == '{') comment = true;
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (depth == 0 && c >= '0' && c <= '9' && (i == 0 || pgn[i - 1] == ' ' || pgn[i - 1] == '\n')) {
      std::size_t j = i;
      int n = 0;
      while (j < pgn.size() && pgn[j] >= '0' && pgn[j] <= '9') n = n * 10 + (pgn[j++] - '0');
      if (j < pgn.size() && pgn[j] == '.') last = n;
      i = j;
    }
  }
  return last;
}

// text (UTF-8) cut or padded to width characters.
std::string Column(const std::string& text, std::size_t width) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t len = 1;
    auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0xF0) len = 4; else if (b >= 0xE0) len = 3; else if (b >= 0xC0) len = 2;
    if (chars == width) break;
    out.append(text, i, len);
    i += len;
    ++chars;
  }
  out.append(width - chars, ' ');
  return out;
}

// Creates the base for an import so that a killed process never leaves a base that does not
// open: the files are made under a temporary name, and renamed into place with the header
// (".kvx") removed first and renamed last. Until then there is no base of that name.
LudrexBase* CreateImportBase(const std::string& baseName, HostRecordPattern* pattern) {
  namespace fs = std::filesystem;
  const std::string temp = baseName + ".importing";
  LudrexBase* made = Base_BaseCreate(temp.c_str(), pattern, 0);
  if (made == nullptr) return nullptr;
  Base_Update(made);
  Base_BaseDestroy(made);
  const fs::path tempPath(temp);
  fs::path dir = tempPath.parent_path();
  if (dir.empty()) dir = ".";
  const std::string prefix = tempPath.filename().string() + ".";
  std::vector<std::string> extensions;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string file = entry.path().filename().string();
    if (file.size() > prefix.size() && file.compare(0, prefix.size(), prefix) == 0) {
      const std::string ext = file.substr(prefix.size() - 1);
      if (ext.find('.', 1) == std::string::npos) extensions.push_back(ext);
    }
  }
  std::stable_partition(extensions.begin(), extensions.end(),
                        [](const std::string& e) { return e != ".kvx"; });
  fs::remove(baseName + ".kvx", ec);
  for (const std::string& ext : extensions) {
    fs::remove(baseName + ext, ec);
    fs::rename(temp + ext, baseName + ext, ec);
    if (ec) return nullptr;
  }
  return Base_BaseOpen(baseName.c_str(), 0);
}

// Copies every game of source to the end of destination in slices of games, writing what it
// holds to disk after each (Base_Update): a killed import, or a power cut, leaves a base that
// opens with every game up to the last checkpoint. The slice is 50,000 games, or the number in
// LUDREX_IMPORT_CHECKPOINT. Returns the games written, -1 on failure.
int AppendInSlices(LudrexBase* source, LudrexBase* destination) {
  long slice = 50000;
  if (const char* env = std::getenv("LUDREX_IMPORT_CHECKPOINT")) {
    long v;
    if (ParseInt(env, v) && v > 0) slice = v;
  }
  const int games = Base_GetBaseLength(source);
  int written = 0;
  for (long from = 0; from < games && !Interrupted(); from += slice) {
    const int count = static_cast<int>(std::min<long>(slice, games - from));
    LudrexSubset* part = Subset_CreateTmp(games);
    if (part == nullptr) return -1;
    Subset_IncludeRange(part, static_cast<int>(from), count);
    const int n = Base_AppendAnother(source, destination, part, 1, 0, nullptr);
    Subset_Destroy(part);
    Base_Update(destination);
    if (n < 0) return -1;
    written += n;
  }
  return written;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

std::string TakeLastError() {
  std::string e = g_lastError;
  g_lastError.clear();
  return e;
}

int Fail(const std::string& what) {
  std::string e = TakeLastError();
  std::fprintf(stderr, "ludrex: %s\n", what.c_str());
  if (!e.empty()) std::fprintf(stderr, "%s\n", Cp1251ToUtf8(e).c_str());
  return 1;
}

void InstallErrorFunction() { SetErrorFunction(OnError); }

std::string WithoutExtension(const std::string& path, const char* extension) {
  std::size_t n = std::strlen(extension);
  if (path.size() > n) {
    std::string tail = path.substr(path.size() - n);
    for (auto& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail == extension) return path.substr(0, path.size() - n);
  }
  return path;
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

int CmdImport(const Args& args) {
  Parsed p = Parse(args);
  if (!p.ok || p.positional.size() != 2) {
    std::fputs("usage: ludrex import GAMES.pgn BASE [--force]\n", stderr);
    return 2;
  }
  std::string input = p.positional[0];
  std::string pgnName = WithoutExtension(input, ".pgn");
  if (pgnName == input) {
    std::fprintf(stderr, "ludrex: %s: the input must be a .pgn file\n", input.c_str());
    return 2;
  }
  if (!FileExists(input)) {
    std::fprintf(stderr, "ludrex: %s: no such file\n", input.c_str());
    return 1;
  }
  std::string baseName = WithoutExtension(p.positional[1], ".kvx");
  if (FileExists(baseName + ".kvx") && !p.force) {
    std::fprintf(stderr, "ludrex: %s.kvx exists; give --force to replace it\n", baseName.c_str());
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  HostRecordPattern* pgnPattern = PgnPattern();
  LudrexBase* pgn = Base_PgnOpenWithPattern(pgnName.c_str(), pgnPattern);
  FreePattern(pgnPattern);
  if (pgn == nullptr) return Fail("cannot read " + input);
  HostRecordPattern* pattern = DefaultPattern();
  LudrexBase* base = CreateImportBase(baseName, pattern);
  FreePattern(pattern);
  if (base == nullptr) {
    Base_BaseDestroy(pgn);
    return Fail("cannot create " + baseName + ".kvx");
  }
  int games = Base_GetBaseLength(pgn);
  int written = AppendInSlices(pgn, base);
  int rc = 0;
  if (written < 0) rc = Fail("import failed");
  int held = Base_GetBaseLength(base);
  int incomplete = Base_PgnGetIncompleteCount(pgn);
  Base_BaseDestroy(base);
  Base_BaseDestroy(pgn);
  double secs = Seconds(start);
  if (Interrupted()) {
    std::fprintf(stderr, "ludrex: stopped; %s.kvx holds the %d games imported so far\n",
                 baseName.c_str(), held);
    return 130;
  }
  if (rc == 0) {
    std::printf("imported %d of %d games into %s.kvx in %.2f s\n", held, games, baseName.c_str(),
                secs);
    if (incomplete > 0) {
      std::printf("%d of them only as far as their moves could be read\n", incomplete);
    }
  }
  return rc;
}

int CmdExport(const Args& args) {
  Parsed p = Parse(args);
  if (!p.ok || p.positional.empty() || p.positional.size() > 2) {
    std::fputs("usage: ludrex export BASE [OUT.pgn] [--from N] [--count K]\n", stderr);
    return 2;
  }
  LudrexBase* base = OpenNative(p.positional[0]);
  if (base == nullptr) return 1;
  int length = Base_GetBaseLength(base);
  long from = p.from, count = p.count < 0 ? length - from : p.count;
  if (from > length) from = length;
  if (from + count > length) count = length - from;
  // The games go through a PGN base of the library's own, at a temporary name.
  char* temp = CPP_BaseTempName();
  std::string tempName = temp != nullptr ? temp : "";
  HostRecordPattern* pattern = PgnPattern();
  LudrexBase* out = tempName.empty() ? nullptr : Base_BaseCreate(tempName.c_str(), pattern, 2);
  FreePattern(pattern);
  if (out == nullptr) {
    Base_BaseDestroy(base);
    return Fail("cannot create the output");
  }
  LudrexSubset* range = Subset_CreateTmp(length);
  Subset_IncludeRange(range, static_cast<int>(from), static_cast<int>(count));
  int written = Base_AppendAnother(base, out, range, 1, 0, nullptr);
  Subset_Destroy(range);
  Base_BaseDestroy(out);
  Base_BaseDestroy(base);
  int rc = written < 0 ? Fail("export failed") : 0;
  std::string tempFile = tempName + ".pgn";
  if (rc == 0) {
    std::ifstream in(tempFile, std::ios::binary);
    if (p.positional.size() == 2) {
      std::ofstream file(p.positional[1], std::ios::binary | std::ios::trunc);
      file << in.rdbuf();
      if (!file) rc = Fail("cannot write " + p.positional[1]);
    } else {
      char buf[65536];
      while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        std::fwrite(buf, 1, static_cast<std::size_t>(in.gcount()), stdout);
      }
    }
  }
  std::remove(tempFile.c_str());
  if (Interrupted()) return 130;
  if (rc == 0 && p.positional.size() == 2) {
    std::fprintf(stderr, "exported %d games to %s\n", written, p.positional[1].c_str());
  }
  return rc;
}

int CmdInfo(const Args& args) {
  if (args.size() != 1) {
    std::fputs("usage: ludrex info BASE\n", stderr);
    return 2;
  }
  LudrexBase* base = OpenNative(args[0]);
  if (base == nullptr) return 1;
  HostBaseInfo info;
  Base_GetBaseInfo(base, &info);
  LudrexSubset* deleted = Base_GetDeletedSubset(base);
  std::printf("type:        %s (%s)\n", Cp1251ToUtf8(CPP_BaseShortTypeNameStr(0)).c_str(),
              Cp1251ToUtf8(CPP_BaseTypeNameStr(0)).c_str());
  std::printf("description: %s\n", Cp1251ToUtf8(info.description).c_str());
  std::printf("games:       %d\n", Base_GetBaseLength(base));
  std::printf("deleted:     %d\n", deleted != nullptr ? Subset_CurLength(deleted) : 0);
  HostRecordPattern* pattern = Base_GetRecordPattern(base);
  std::printf("fields:\n");
  for (int i = 0; pattern != nullptr && i < pattern->count; ++i) {
    const HostFieldEntry& e = pattern->entries[i];
    int meaning = Field_UnpackFieldMeaning(e.name);
    std::string name = meaning != 0 ? Cp1251ToUtf8(Field_MeaningName(meaning))
                                    : Cp1251ToUtf8(e.name);
    std::string type = Cp1251ToUtf8(CPP_GetFieldTypeName(e.type));
    std::printf("  %s %s", Column(name, 14).c_str(), type.c_str());
    if (e.type == LUDREX_FIELD_LIBREF) {
      LudrexBase* lib = Base_EmbeddedBaseOpen(base, e.text);
      if (lib != nullptr) {
        std::printf(" -> %s (%d records)", e.text, Base_GetBaseLength(lib));
        Base_BaseDestroy(lib);
      } else {
        TakeLastError();
        std::printf(" -> %s (missing)", e.text);
      }
    } else if (e.text != nullptr && e.text[0] != 0) {
      std::printf(" %s", e.text);
    }
    std::printf("\n");
  }
  if (pattern != nullptr) CPP_DestroyRP(pattern);
  Base_BaseDestroy(base);
  return 0;
}

int CmdList(const Args& args) {
  Parsed p = Parse(args);
  if (!p.ok || p.positional.size() != 1) {
    std::fputs("usage: ludrex list BASE [--from N] [--count K]\n", stderr);
    return 2;
  }
  LudrexBase* base = OpenNative(p.positional[0]);
  if (base == nullptr) return 1;
  HostRecordPattern* pattern = Base_GetRecordPattern(base);
  LudrexRecord* record = Record_CreateRecord(pattern);
  CPP_DestroyRP(pattern);
  Record_LinkToBase(record, base);
  int length = Base_GetBaseLength(base);
  long end = p.count < 0 ? length : std::min<long>(length, p.from + p.count);
  for (long i = p.from; i < end && !Interrupted(); ++i) {
    std::string pgn = GamePgn(base, record, static_cast<int>(i));
    if (pgn.empty()) {
      Fail("cannot read game " + std::to_string(i));
      continue;
    }
    std::printf("%6ld  %s %s %-7s %-10s %s %-3s %3d%s\n", i,
                Column(Cp1251ToUtf8(Tag(pgn, "White")), 22).c_str(),
                Column(Cp1251ToUtf8(Tag(pgn, "Black")), 22).c_str(), Tag(pgn, "Result").c_str(),
                Tag(pgn, "Date").c_str(), Column(Cp1251ToUtf8(Tag(pgn, "Event")), 24).c_str(),
                Tag(pgn, "ECO").c_str(), MoveCount(pgn),
                Base_IsDeleted(base, static_cast<int>(i)) ? "  (deleted)" : "");
  }
  Record_Destroy(record);
  Base_BaseDestroy(base);
  return Interrupted() ? 130 : 0;
}

int CmdShow(const Args& args) {
  long n;
  if (args.size() != 2 || !ParseInt(args[1], n)) {
    std::fputs("usage: ludrex show BASE N\n", stderr);
    return 2;
  }
  LudrexBase* base = OpenNative(args[0]);
  if (base == nullptr) return 1;
  int rc = 0;
  if (n < 0 || n >= Base_GetBaseLength(base)) {
    std::fprintf(stderr, "ludrex: the base has %d games (0 to %d)\n", Base_GetBaseLength(base),
                 Base_GetBaseLength(base) - 1);
    rc = 1;
  } else {
    HostRecordPattern* pattern = Base_GetRecordPattern(base);
    LudrexRecord* record = Record_CreateRecord(pattern);
    CPP_DestroyRP(pattern);
    Record_LinkToBase(record, base);
    std::string pgn = GamePgn(base, record, static_cast<int>(n));
    if (pgn.empty()) {
      rc = Fail("cannot read game " + std::to_string(n));
    } else {
      std::fwrite(pgn.data(), 1, pgn.size(), stdout);
    }
    Record_Destroy(record);
  }
  Base_BaseDestroy(base);
  return rc;
}

}  // namespace ludrex_tool
