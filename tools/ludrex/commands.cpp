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

#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#endif

#include "ludrex.h"
#include "pattern.h"
#include "progress.h"
#include "text.h"

namespace ludrex_tool {
namespace {

std::string g_lastError;

void LUDREX_CDECL OnError(const char* text) { g_lastError = text != nullptr ? text : ""; }

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
    char* end = nullptr;
    long v = std::strtol(env, &end, 10);
    if (end != env && *end == 0 && v > 0) slice = v;
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

int BaseTypeOf(const std::string& path, std::string& name) {
  for (int type = 0; type < CPP_NBaseTypes(); ++type) {
    const char* ext = CPP_BaseExtStr(type);
    if (ext == nullptr || ext[0] == 0) continue;
    std::string stripped = WithoutExtension(path, ext);
    if (stripped != path) {
      name = stripped;
      return type;
    }
  }
  name = path;
  return 0;
}

std::string AbsoluteName(const std::string& name) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(name, ec);
  return ec ? name : full.string();
}

LudrexBase* OpenAnyBase(const std::string& path) {
  std::string name;
  const int type = BaseTypeOf(path, name);
  // A reference file made for a read-only base keeps its name: a full one stays valid from any
  // working directory.
  name = AbsoluteName(name);
  LudrexBase* base = Base_BaseOpen(name.c_str(), type);
  if (base == nullptr) Fail("cannot open the base " + name + CPP_BaseExtStr(type));
  return base;
}

bool SetUserProgramPath() {
#if defined(_WIN32)
  const char* appData = std::getenv("APPDATA");
  if (appData == nullptr || appData[0] == 0) return false;
  std::string dir = std::string(appData) + "\\ludrex";
  _mkdir(dir.c_str());
  dir += "\\";
#else
  std::string root;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    root = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == 0) return false;
    root = std::string(home) + "/.local/share";
  }
  // Each missing directory of the path, as mkdir -p makes them.
  for (std::size_t at = 1; at <= root.size(); ++at) {
    if (at == root.size() || root[at] == '/') mkdir(root.substr(0, at).c_str(), 0755);
  }
  std::string dir = root + "/ludrex";
  mkdir(dir.c_str(), 0755);
  dir += "/";
#endif
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  CPP_SetProgramPath(dir.c_str());
  return true;
}

void AddSubsetOptions(CLI::App* command, SubsetFilter& filter) {
  command->add_option("--subset", filter.subset, "only the games of this subset file")
      ->check(CLI::ExistingFile);
  command->add_option("--exclude", filter.exclude, "leave out the games of this subset file")
      ->check(CLI::ExistingFile);
}

LudrexSubset* SelectGames(LudrexBase* base, const SubsetFilter& filter, long from, long count) {
  int length = Base_GetBaseLength(base);
  if (from > length) from = length;
  if (count < 0 || from + count > length) count = length - from;
  LudrexSubset* games = Subset_CreateTmp(length);
  if (games == nullptr) {
    Fail("cannot make a subset");
    return nullptr;
  }
  Subset_IncludeRange(games, static_cast<int>(from), static_cast<int>(count));
  const std::string* files[2] = {&filter.subset, &filter.exclude};
  for (int k = 0; k < 2; ++k) {
    if (files[k]->empty()) continue;
    LudrexSubset* saved = Subset_OpenInAFile(length, files[k]->c_str());
    if (saved == nullptr) {
      Fail("cannot read the subset " + *files[k]);
      Subset_Destroy(games);
      return nullptr;
    }
    if (k == 0) {
      Subset_Intersect(games, saved);
    } else {
      Subset_Subtract(games, saved);
    }
    Subset_Destroy(saved);
  }
  return games;
}

namespace {

struct ImportOptions {
  std::string input;
  std::string base;
  bool force = false;
};

int RunImport(const ImportOptions& p) {
  std::string input = p.input;
  std::string sourceName;
  const int sourceType = BaseTypeOf(input, sourceName);
  if (sourceName == input) {
    std::fprintf(stderr, "ludrex: %s: the input must be a base file (.pgn, .kvx, .bfi, .ror)\n",
                 input.c_str());
    return 2;
  }
  if (!FileExists(input)) {
    std::fprintf(stderr, "ludrex: %s: no such file\n", input.c_str());
    return 1;
  }
  std::string baseName = WithoutExtension(p.base, ".kvx");
  if (FileExists(baseName + ".kvx") && !p.force) {
    std::fprintf(stderr, "ludrex: %s.kvx exists; give --force to replace it\n", baseName.c_str());
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  // A PGN file is read with the fields of the native pattern; a base of another type with its
  // own, the fields of the same names copied.
  LudrexBase* pgn = nullptr;
  if (sourceType == 2) {
    HostRecordPattern* pgnPattern = PgnPattern();
    pgn = Base_PgnOpenWithPattern(sourceName.c_str(), pgnPattern);
    FreePattern(pgnPattern);
  } else {
    pgn = Base_BaseOpen(AbsoluteName(sourceName).c_str(), sourceType);
  }
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
  int incomplete = sourceType == 2 ? Base_PgnGetIncompleteCount(pgn) : 0;
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

struct RangeOptions {
  std::string base;
  std::string out;
  long from = 0;
  long count = -1;
  SubsetFilter filter;
};

void AddRangeOptions(CLI::App* cmd, RangeOptions& o) {
  cmd->add_option("--from", o.from, "first game (from 0)")->check(CLI::NonNegativeNumber);
  cmd->add_option("--count", o.count, "at most this many games")->check(CLI::NonNegativeNumber);
  AddSubsetOptions(cmd, o.filter);
}

int RunExport(const RangeOptions& p) {
  LudrexBase* base = OpenAnyBase(p.base);
  if (base == nullptr) return 1;
  LudrexSubset* range = SelectGames(base, p.filter, p.from, p.count);
  if (range == nullptr) {
    Base_BaseDestroy(base);
    return 1;
  }
  // The games go through a PGN base of the library's own, at a temporary name.
  char* temp = CPP_BaseTempName();
  std::string tempName = temp != nullptr ? temp : "";
  HostRecordPattern* pattern = PgnPattern();
  LudrexBase* out = tempName.empty() ? nullptr : Base_BaseCreate(tempName.c_str(), pattern, 2);
  FreePattern(pattern);
  if (out == nullptr) {
    Subset_Destroy(range);
    Base_BaseDestroy(base);
    return Fail("cannot create the output");
  }
  int written = Base_AppendAnother(base, out, range, 1, 0, nullptr);
  Subset_Destroy(range);
  Base_BaseDestroy(out);
  Base_BaseDestroy(base);
  int rc = written < 0 ? Fail("export failed") : 0;
  std::string tempFile = tempName + ".pgn";
  if (rc == 0) {
    std::ifstream in(tempFile, std::ios::binary);
    if (!p.out.empty()) {
      std::ofstream file(p.out, std::ios::binary | std::ios::trunc);
      file << in.rdbuf();
      if (!file) rc = Fail("cannot write " + p.out);
    } else {
      char buf[65536];
      while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        std::fwrite(buf, 1, static_cast<std::size_t>(in.gcount()), stdout);
      }
    }
  }
  std::remove(tempFile.c_str());
  if (Interrupted()) return 130;
  if (rc == 0 && !p.out.empty()) {
    std::fprintf(stderr, "exported %d games to %s\n", written, p.out.c_str());
  }
  return rc;
}

int RunInfo(const std::string& name) {
  LudrexBase* base = OpenAnyBase(name);
  if (base == nullptr) return 1;
  HostBaseInfo info;
  Base_GetBaseInfo(base, &info);
  LudrexSubset* deleted = Base_GetDeletedSubset(base);
  const int type = Base_GetBaseType(base);
  std::printf("type:        %s (%s)\n", Cp1251ToUtf8(CPP_BaseShortTypeNameStr(type)).c_str(),
              Cp1251ToUtf8(CPP_BaseTypeNameStr(type)).c_str());
  if (type == 4) std::printf("reference:   %s\n", Cp1251ToUtf8(info.secondFullName).c_str());
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

int RunList(const RangeOptions& p) {
  LudrexBase* base = OpenAnyBase(p.base);
  if (base == nullptr) return 1;
  LudrexSubset* games = SelectGames(base, p.filter, p.from, p.count);
  if (games == nullptr) {
    Base_BaseDestroy(base);
    return 1;
  }
  PrintGameLines(base, games);
  Subset_Destroy(games);
  Base_BaseDestroy(base);
  return Interrupted() ? 130 : 0;
}

int RunShow(const std::string& name, long n) {
  LudrexBase* base = OpenAnyBase(name);
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

}  // namespace

void PrintGameLines(LudrexBase* base, LudrexSubset* games) {
  HostRecordPattern* pattern = Base_GetRecordPattern(base);
  LudrexRecord* record = Record_CreateRecord(pattern);
  CPP_DestroyRP(pattern);
  Record_LinkToBase(record, base);
  for (int i = Subset_SeqAccessInitBase(games, 0); i >= 0 && !Interrupted();
       i = Subset_SeqNext(games)) {
    std::string pgn = GamePgn(base, record, i);
    if (pgn.empty()) {
      Fail("cannot read game " + std::to_string(i));
      continue;
    }
    std::printf("%6d  %s %s %-7s %-10s %s %-3s %3d%s\n", i,
                Column(Cp1251ToUtf8(Tag(pgn, "White")), 22).c_str(),
                Column(Cp1251ToUtf8(Tag(pgn, "Black")), 22).c_str(), Tag(pgn, "Result").c_str(),
                Tag(pgn, "Date").c_str(), Column(Cp1251ToUtf8(Tag(pgn, "Event")), 24).c_str(),
                Tag(pgn, "ECO").c_str(), MoveCount(pgn),
                Base_IsDeleted(base, i) ? "  (deleted)" : "");
  }
  Subset_SeqStop(games);
  Record_Destroy(record);
}

void AddImport(CLI::App& app, int& rc) {
  auto o = std::make_shared<ImportOptions>();
  CLI::App* cmd = app.add_subcommand(
      "import", "make a native base BASE.kvx from a PGN file or a base of another type");
  cmd->add_option("GAMES", o->input, "the games: a .pgn file, or a .bfi, .kvx or .ror base")
      ->required();
  cmd->add_option("BASE", o->base, "the native base to make (with or without .kvx)")->required();
  cmd->add_flag("--force", o->force, "replace an existing base");
  cmd->callback([&rc, o] { rc = RunImport(*o); });
}

void AddExport(CLI::App& app, int& rc) {
  auto o = std::make_shared<RangeOptions>();
  CLI::App* cmd = app.add_subcommand("export", "the games as PGN, to a file or standard output");
  cmd->add_option("BASE", o->base, "the base (.kvx, .bfi, .pgn, .ror; no extension: .kvx)")->required();
  cmd->add_option("OUT.pgn", o->out, "the PGN file to write (else standard output)");
  AddRangeOptions(cmd, *o);
  cmd->callback([&rc, o] { rc = RunExport(*o); });
}

void AddInfo(CLI::App& app, int& rc) {
  auto name = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("info", "type, description, counts, fields, libraries");
  cmd->add_option("BASE", *name, "the base (.kvx, .bfi, .pgn, .ror; no extension: .kvx)")->required();
  cmd->callback([&rc, name] { rc = RunInfo(*name); });
}

void AddList(CLI::App& app, int& rc) {
  auto o = std::make_shared<RangeOptions>();
  CLI::App* cmd = app.add_subcommand("list", "one line per game");
  cmd->add_option("BASE", o->base, "the base (.kvx, .bfi, .pgn, .ror; no extension: .kvx)")->required();
  AddRangeOptions(cmd, *o);
  cmd->callback([&rc, o] { rc = RunList(*o); });
}

void AddShow(CLI::App& app, int& rc) {
  auto name = std::make_shared<std::string>();
  auto n = std::make_shared<long>(0);
  CLI::App* cmd = app.add_subcommand("show", "game N as PGN");
  cmd->add_option("BASE", *name, "the base (.kvx, .bfi, .pgn, .ror; no extension: .kvx)")->required();
  cmd->add_option("N", *n, "the game's number (from 0)")->required();
  cmd->callback([&rc, name, n] { rc = RunShow(*name, *n); });
}

}  // namespace ludrex_tool
