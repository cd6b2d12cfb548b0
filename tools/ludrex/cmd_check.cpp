// ludrex check, repair, compact, merge-names and clean-names: the check and repair of a native
// base and the maintenance of its libraries. A command that rewrites a base works on a copy next
// to it and puts the copy in place only when everything succeeded.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "progress.h"
#include "text.h"

namespace ludrex_tool {
namespace {

namespace fs = std::filesystem;

// The files of the native base name (those that exist).
std::vector<std::string> NativeExtensions(const std::string& name) {
  std::vector<std::string> out;
  for (const char* ext : {".kvx", ".axx", ".dxx", ".emb", ".iii"}) {
    if (fs::exists(name + ext)) out.push_back(ext);
  }
  for (int g = 0; g <= 99; ++g) {
    char a[8], d[8];
    std::snprintf(a, sizeof a, ".a%02d", g);
    std::snprintf(d, sizeof d, ".d%02d", g);
    if (fs::exists(name + a)) out.push_back(a);
    if (fs::exists(name + d)) out.push_back(d);
  }
  return out;
}

bool CopyBaseFiles(const std::string& from, const std::string& to) {
  Base_BaseErase(to.c_str(), 0);
  std::error_code ec;
  for (const std::string& ext : NativeExtensions(from)) {
    fs::copy_file(from + ext, to + ext, fs::copy_options::overwrite_existing, ec);
    if (ec) {
      std::fprintf(stderr, "ludrex: cannot copy %s%s: %s\n", from.c_str(), ext.c_str(),
                   ec.message().c_str());
      return false;
    }
  }
  return true;
}

// Puts the base from in the place of the base to (whose files go first).
bool MoveBase(const std::string& from, const std::string& to) {
  Base_BaseErase(to.c_str(), 0);
  std::error_code ec;
  for (const std::string& ext : NativeExtensions(from)) {
    fs::rename(from + ext, to + ext, ec);
    if (ec) {
      fs::copy_file(from + ext, to + ext, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        std::fprintf(stderr, "ludrex: cannot move %s%s: %s\n", from.c_str(), ext.c_str(),
                     ec.message().c_str());
        return false;
      }
      fs::remove(from + ext, ec);
    }
  }
  return true;
}

// The working copy of base: next to it, so that moving it into place is a rename.
std::string WorkName(const std::string& base) { return base + ".~work"; }

// Replaces the ".emb" of base by the one of the new base t (as the library operations return it)
// and erases t.
bool TakeLibraries(const std::string& t, const std::string& base) {
  std::error_code ec;
  fs::copy_file(t + ".emb", base + ".emb", fs::copy_options::overwrite_existing, ec);
  Base_BaseErase(t.c_str(), 0);
  if (ec) {
    std::fprintf(stderr, "ludrex: cannot copy the libraries: %s\n", ec.message().c_str());
    return false;
  }
  return true;
}

std::string TempLogName() {
  char* t = CPP_BaseTempName();
  return std::string(t != nullptr ? t : "ludrex-check") + ".log";
}

// The lines a check appended to the log from offset on, as UTF-8.
std::vector<std::string> LogLines(const std::string& log, std::uintmax_t offset) {
  std::ifstream in(log, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string text((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    if (end > at) lines.push_back(Cp1251ToUtf8(text.substr(at, end - at)));
    at = end + 2;
  }
  return lines;
}

struct CheckResult {
  int sound = 0;
  bool wrongMark = false;
};

// Runs the check of name into log (a temporary one when empty), prints its findings.
CheckResult RunCheck(const std::string& name, const std::string& logOption, LudrexSubset* subset,
                     bool print) {
  std::string log = logOption.empty() ? TempLogName() : logOption;
  std::error_code ec;
  std::uintmax_t offset = fs::exists(log) ? fs::file_size(log, ec) : 0;
  CheckResult r;
  r.sound = Base_BaseKVXTest(name.c_str(), log.c_str(), subset);
  for (const std::string& line : LogLines(log, offset)) {
    if (print) std::printf("%s\n", line.c_str());
    if (line.find("(C000)") != std::string::npos) r.wrongMark = true;
  }
  if (logOption.empty()) fs::remove(log, ec);
  return r;
}

int RunCheckCommand(const std::string& path, const std::string& log) {
  std::string name = WithoutExtension(path, ".kvx");
  CheckResult r = RunCheck(name, log, nullptr, true);
  if (Interrupted()) return 130;
  std::string e = TakeLastError();
  if (!e.empty()) std::fprintf(stderr, "%s\n", Cp1251ToUtf8(e).c_str());
  return r.sound == 1 && !r.wrongMark ? 0 : 1;
}

// The record count a base's header states, or -1.
int HeaderCount(const std::string& name) {
  unsigned char info[264] = {};
  Base_GetShortInfo(0, name.c_str(), info);
  int count;
  std::memcpy(&count, info, 4);
  return count;
}

int RunRepair(const std::string& path, const std::string& target, bool skipEmpty, bool force) {
  std::string name = WithoutExtension(path, ".kvx");
  std::string out = WithoutExtension(target, ".kvx");
  if (FileExists(out + ".kvx") && !force) {
    std::fprintf(stderr, "ludrex: %s.kvx exists; give --force to replace it\n", out.c_str());
    return 1;
  }
  int count = HeaderCount(name);
  if (count < 0) return Fail("cannot read the header of " + name + ".kvx");
  LudrexSubset* passed = Subset_CreateTmp(count);
  if (passed == nullptr) return Fail("cannot make a subset");
  CheckResult r = RunCheck(name, std::string(), passed, true);
  if (Interrupted()) {
    Subset_Destroy(passed);
    return 130;
  }
  int kept = Subset_CurLength(passed);
  LudrexBase* source = Base_BaseOpen(name.c_str(), 0);
  if (source == nullptr) {
    Subset_Destroy(passed);
    return Fail("cannot open " + name + ".kvx; the base cannot be repaired");
  }
  std::string work = WorkName(out);
  HostRecordPattern* pattern = Base_GetRecordPattern(source);
  LudrexBase* dest = Base_BaseCreate(work.c_str(), pattern, 0);
  CPP_DestroyRP(pattern);
  if (dest == nullptr) {
    Base_BaseDestroy(source);
    Subset_Destroy(passed);
    return Fail("cannot create " + work + ".kvx");
  }
  int walked = Base_Repair(source, dest, passed, skipEmpty ? 1 : 0, 0);
  int written = Base_GetBaseLength(dest);
  Base_BaseDestroy(dest);
  Base_BaseDestroy(source);
  Subset_Destroy(passed);
  if (walked < 0 || Interrupted()) {
    Base_BaseErase(work.c_str(), 0);
    return walked < 0 ? Fail("repair failed") : 130;
  }
  if (!MoveBase(work, out)) return 1;
  std::printf("repaired: %d of %d games passed the check, %d written to %s.kvx\n", kept, count,
              written, out.c_str());
  (void)r;
  return 0;
}

// Runs op on a working copy of base; op returns the name of the new base holding the libraries
// (empty: failed). The copy takes those libraries and replaces target.
template <class Op>
int RewriteWithLibraries(const std::string& path, const std::string& target, const char* what,
                         Op op) {
  std::string name = WithoutExtension(path, ".kvx");
  std::string out = WithoutExtension(target, ".kvx");
  if (!FileExists(name + ".kvx")) {
    std::fprintf(stderr, "ludrex: %s.kvx: no such base\n", name.c_str());
    return 1;
  }
  std::string work = WorkName(out);
  if (!CopyBaseFiles(name, work)) return 1;
  LudrexBase* base = Base_BaseOpen(work.c_str(), 0);
  if (base == nullptr) {
    Base_BaseErase(work.c_str(), 0);
    return Fail("cannot open " + name + ".kvx");
  }
  std::string t = op(base);
  Base_BaseDestroy(base);
  if (t.empty() || Interrupted()) {
    Base_BaseErase(work.c_str(), 0);
    if (!t.empty()) Base_BaseErase(t.c_str(), 0);
    if (Interrupted()) return 130;
    return Fail(std::string(what) + " failed; " + name + ".kvx is unchanged");
  }
  if (!TakeLibraries(t, work) || !MoveBase(work, out)) return 1;
  return 0;
}

int RunCompact(const std::string& path, const std::string& target, bool force) {
  std::string out = WithoutExtension(target, ".kvx");
  if (FileExists(out + ".kvx") && !force) {
    std::fprintf(stderr, "ludrex: %s.kvx exists; give --force to replace it\n", out.c_str());
    return 1;
  }
  int rc = RewriteWithLibraries(path, target, "the compression", [](LudrexBase* base) {
    char* t = Base_LibraryCompress(base);
    return std::string(t != nullptr ? t : "");
  });
  if (rc == 0) std::printf("compacted into %s.kvx\n", out.c_str());
  return rc;
}

// The record number of the library entry whose key (first field) is text, or -1.
int FindEntry(LudrexBase* library, const std::string& text) {
  HostRecordPattern* pattern = Base_GetRecordPattern(library);
  LudrexRecord* record = Record_CreateRecord(pattern);
  CPP_DestroyRP(pattern);
  StringField_SetStr(Record_GetField(record, 0), Utf8ToCp1251(text).c_str());
  int found = 0;
  int position = Base_Find(library, record, nullptr, &found);
  Record_Destroy(record);
  return found != 0 && position >= 0 ? Base_UnsortedFromSorted(library, position) : -1;
}

int RunMergeNames(const std::string& path, const std::string& library, const std::string& from,
                  const std::string& into) {
  std::string name = WithoutExtension(path, ".kvx");
  int rc = RewriteWithLibraries(path, path, "the merge", [&](LudrexBase* base) -> std::string {
    LudrexBase* lib = Base_EmbeddedBaseOpen(base, library.c_str());
    if (lib == nullptr) {
      Fail("no library " + library + " in " + name + ".kvx");
      return std::string();
    }
    int a = FindEntry(lib, from), b = FindEntry(lib, into);
    std::string t;
    if (a < 0 || b < 0) {
      std::fprintf(stderr, "ludrex: no entry \"%s\" in %s\n", (a < 0 ? from : into).c_str(),
                   library.c_str());
    } else if (a == b) {
      std::fprintf(stderr, "ludrex: \"%s\" and \"%s\" are the same entry\n", from.c_str(),
                   into.c_str());
    } else {
      std::vector<int> map(static_cast<std::size_t>(Base_GetBaseLength(lib)), -1);
      map[static_cast<std::size_t>(a)] = b;
      char* text = Base_MultiChange(base, lib, map.data());
      t = text != nullptr ? text : "";
    }
    Base_BaseDestroy(lib);
    return t;
  });
  if (rc == 0) {
    std::printf("merged \"%s\" into \"%s\" in %s of %s.kvx\n", from.c_str(), into.c_str(),
                library.c_str(), name.c_str());
  }
  return rc;
}

int RunCleanNames(const std::string& path) {
  std::string name = WithoutExtension(path, ".kvx");
  int rc = RewriteWithLibraries(path, path, "the cleaning", [](LudrexBase* base) {
    char* t = Base_KillEmptyLibRecs(base);
    return std::string(t != nullptr ? t : "");
  });
  if (rc == 0) std::printf("removed the empty library records of %s.kvx\n", name.c_str());
  return rc;
}

}  // namespace

void AddCheck(CLI::App& app, int& rc) {
  struct Options {
    std::string base, log;
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "check", "check a native base's files; exit 0 when sound, 1 when damaged");
  cmd->add_option("BASE", o->base, "the native base")->required();
  cmd->add_option("--log", o->log, "append the findings (Windows-1251) to this file too");
  cmd->callback([&rc, o] { rc = RunCheckCommand(o->base, o->log); });
}

void AddRepair(CLI::App& app, int& rc) {
  struct Options {
    std::string base, target;
    bool skipEmpty = false, force = false;
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "repair", "check BASE and copy every game that passed into NEWBASE");
  cmd->add_option("BASE", o->base, "the damaged native base")->required();
  cmd->add_option("NEWBASE", o->target, "the new base")->required();
  cmd->add_flag("--skip-empty", o->skipEmpty, "leave out games without moves");
  cmd->add_flag("--force", o->force, "replace NEWBASE when it exists");
  cmd->callback([&rc, o] { rc = RunRepair(o->base, o->target, o->skipEmpty, o->force); });
}

void AddCompact(CLI::App& app, int& rc) {
  struct Options {
    std::string base, target;
    bool force = false;
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "compact", "copy BASE to NEWBASE with libraries holding only the names its games use");
  cmd->add_option("BASE", o->base, "the native base")->required();
  cmd->add_option("NEWBASE", o->target, "the new base")->required();
  cmd->add_flag("--force", o->force, "replace NEWBASE when it exists");
  cmd->callback([&rc, o] { rc = RunCompact(o->base, o->target, o->force); });
}

void AddMergeNames(CLI::App& app, int& rc) {
  struct Options {
    std::string base, library, from, into;
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "merge-names", "merge library entry OLD into NEW (say two spellings of a player)");
  cmd->add_option("BASE", o->base, "the native base")->required();
  cmd->add_option("LIBRARY", o->library, "the library (Players, Events, Places, ...)")
      ->required();
  cmd->add_option("OLD", o->from, "the entry that goes")->required();
  cmd->add_option("NEW", o->into, "the entry its games refer to afterwards")->required();
  cmd->callback([&rc, o] { rc = RunMergeNames(o->base, o->library, o->from, o->into); });
}

void AddCleanNames(CLI::App& app, int& rc) {
  auto name = std::make_shared<std::string>();
  CLI::App* cmd =
      app.add_subcommand("clean-names", "remove the empty records of every library");
  cmd->add_option("BASE", *name, "the native base")->required();
  cmd->callback([&rc, name] { rc = RunCleanNames(*name); });
}

}  // namespace ludrex_tool

// ---- ludrex bench maintenance ---------------------------------------------------------------

namespace ludrex_tool {
namespace {

// Wall-clock and processor time since a start: on a loaded machine the second tells what the
// work itself costs.
struct Clock {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
};
Clock Now() { return Clock{}; }

void Report(const char* what, const Clock& start, int games) {
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start.wall).count();
  double cpu = static_cast<double>(std::clock() - start.cpu) / CLOCKS_PER_SEC;
  std::printf("%-30s %7.2f s wall %10.0f games/s | %7.2f s cpu %10.0f games/s\n", what, wall,
              wall > 0 ? games / wall : 0.0, cpu, cpu > 0 ? games / cpu : 0.0);
}

int RunBenchMaintenance(const std::string& path) {
  std::string name = WithoutExtension(path, ".kvx");
  std::string work = WorkName(name) + "bench";
  int games = HeaderCount(name);
  if (games < 0) return Fail("cannot read " + name + ".kvx");
  std::printf("%d games in %s.kvx\n", games, name.c_str());

  // The check.
  if (!CopyBaseFiles(name, work)) return 1;
  LudrexSubset* passed = Subset_CreateTmp(games);
  std::string log = TempLogName();
  Clock start = Now();
  int sound = Base_BaseKVXTest(work.c_str(), log.c_str(), passed);
  Report("Base_BaseKVXTest", start, games);
  std::remove(log.c_str());
  if (sound != 1) std::printf("  (the base is not sound: %d games passed)\n", Subset_CurLength(passed));

  // The repair of the undamaged base into a new one.
  LudrexBase* source = Base_BaseOpen(work.c_str(), 0);
  std::string repaired = work + "r";
  HostRecordPattern* pattern = source != nullptr ? Base_GetRecordPattern(source) : nullptr;
  LudrexBase* dest = pattern != nullptr ? Base_BaseCreate(repaired.c_str(), pattern, 0) : nullptr;
  if (pattern != nullptr) CPP_DestroyRP(pattern);
  if (dest == nullptr) return Fail("cannot set up the repair");
  start = Now();
  int walked = Base_Repair(source, dest, passed, 0, 0);
  Base_BaseDestroy(dest);
  Report("Base_Repair (undamaged)", start, walked);
  Base_BaseErase(repaired.c_str(), 0);
  Subset_Destroy(passed);

  // The bulk compression.
  start = Now();
  char* t = Base_LibraryCompress(source);
  std::string compressed = t != nullptr ? t : "";
  Base_BaseDestroy(source);
  Report("Base_LibraryCompress (bulk)", start, games);
  if (compressed.empty()) return Fail("the compression failed");
  Base_BaseErase(compressed.c_str(), 0);

  // Merging one player into another on a fresh copy.
  if (!CopyBaseFiles(name, work)) return 1;
  source = Base_BaseOpen(work.c_str(), 0);
  LudrexBase* players = source != nullptr ? Base_EmbeddedBaseOpen(source, "Players") : nullptr;
  if (players == nullptr) return Fail("no Players library");
  std::vector<int> map(static_cast<std::size_t>(Base_GetBaseLength(players)), -1);
  if (map.size() > 1) map[1] = 0;
  start = Now();
  t = Base_MultiChange(source, players, map.data());
  std::string merged = t != nullptr ? t : "";
  Report("Base_MultiChange (one player)", start, games);
  Base_BaseDestroy(players);
  Base_BaseDestroy(source);
  if (merged.empty()) return Fail("the merge failed");
  Base_BaseErase(merged.c_str(), 0);
  Base_BaseErase(work.c_str(), 0);
  return 0;
}

}  // namespace

void AddBenchMaintenance(CLI::App* bench, int& rc) {
  auto name = std::make_shared<std::string>();
  CLI::App* cmd = bench->add_subcommand(
      "maintenance", "check, repair, library compression and a player merge on copies of BASE");
  cmd->add_option("BASE", *name, "the native base (left unchanged)")->required();
  cmd->callback([&rc, name] { rc = RunBenchMaintenance(*name); });
}

}  // namespace ludrex_tool
