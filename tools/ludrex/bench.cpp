// ludrex bench: throughput of PGN parsing, import, reading and export on a file replicated to at
// least 100,000 games; of parsing and import on a gen-games corpus as it is and with new names;
// and `bench flat`: the time per game of an import step by step up to a million games.
#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "commands.h"
#include "ludrex.h"
#include "pattern.h"

namespace ludrex_tool {
namespace {

// Wall-clock and processor time since a start; the processor time is what one core spent,
// whatever else the machine was doing.
struct Timer {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  double Wall() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  }
  double Cpu() const { return static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC; }
};

void Report(const char* what, int games, double bytes, const Timer& t) {
  double cpu = t.Cpu(), wall = t.Wall();
  if (cpu <= 0) cpu = 1e-9;
  std::printf("%-7s %7d games: %6.2f s processor (%6.2f s wall): %8.0f games/s", what, games, cpu,
              wall, games / cpu);
  if (bytes > 0) std::printf(", %6.1f MB/s", bytes / cpu / 1e6);
  std::printf("\n");
}

// Reads every record of base once; returns the count read.
int ReadAll(LudrexBase* base) {
  HostRecordPattern* pattern = Base_GetRecordPattern(base);
  LudrexRecord* record = Record_CreateRecord(pattern);
  CPP_DestroyRP(pattern);
  Record_LinkToBase(record, base);
  int n = Base_GetBaseLength(base);
  for (int i = 0; i < n; ++i) Base_Read(base, i, record);
  Record_Destroy(record);
  return n;
}

std::size_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<std::size_t>(in.tellg()) : 0;
}

// The first `games` games of a PGN text (all when it holds fewer), cut at a game's "[Event ".
std::string FirstGames(const std::string& text, int games, int* count) {
  int n = 0;
  std::size_t at = text.find("[Event ");
  std::size_t first = at;
  while (at != std::string::npos) {
    if (n == games) break;
    ++n;
    at = text.find("\n[Event ", at + 1);
    if (at != std::string::npos) ++at;
  }
  *count = n;
  if (first == std::string::npos) return std::string();
  return text.substr(first, (at == std::string::npos ? text.size() : at) - first);
}

// A tag line's value with something appended: [Tag "Value"] -> [Tag "Value<suffix>"].
void AppendToTag(std::string& line, const std::string& suffix) {
  std::size_t close = line.rfind('"');
  if (close != std::string::npos && close > line.find('"')) line.insert(close, suffix);
}

// The same games with names as an engine-game collection has them: almost every event new (19
// games in 20), and half of the players (White of odd games, Black of even ones). Deterministic.
std::string WithNewNames(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 20);
  long game = -1;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(at, end - at);
    if (line.compare(0, 8, "[Event \"") == 0) {
      ++game;
      if (game % 20 != 0) AppendToTag(line, " #" + std::to_string(game));
    } else if (line.compare(0, 8, "[White \"") == 0 && game % 2 == 1) {
      AppendToTag(line, " " + std::to_string(game));
    } else if (line.compare(0, 8, "[Black \"") == 0 && game % 2 == 0) {
      AppendToTag(line, " " + std::to_string(game));
    }
    out += line;
    at = end;
  }
  return out;
}

bool ReadText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  text = ss.str();
  return true;
}

// Parses and imports the PGN text: "parse" reads every game into a record, "import" makes a
// native base of them. Returns 0, or 1 after printing the failure. With read and export, also
// reads the base back and exports it.
int MeasureCorpus(const std::string& label, const std::string& text, int games,
                  const std::string& work, bool readAndExport) {
  std::string pgnName = work + "_in", baseName = work + "_base", outName = work + "_out";
  {
    std::ofstream out(pgnName + ".pgn", std::ios::binary | std::ios::trunc);
    out << text;
  }
  double bytes = static_cast<double>(FileSize(pgnName + ".pgn"));
  std::printf("%s: %d games, %.1f MB\n", label.c_str(), games, bytes / 1e6);
  int rc = 0;
  Timer t;
  HostRecordPattern* pgnPattern = PgnPattern();
  LudrexBase* pgn = Base_PgnOpenWithPattern(pgnName.c_str(), pgnPattern);
  if (pgn == nullptr) {
    rc = Fail("cannot open " + pgnName + ".pgn");
  } else {
    int n = ReadAll(pgn);
    Report("  parse", n, bytes, t);
    HostRecordPattern* pattern = DefaultPattern();
    Base_BaseErase(baseName.c_str(), 0);
    LudrexBase* base = Base_BaseCreate(baseName.c_str(), pattern, 0);
    FreePattern(pattern);
    if (base == nullptr) {
      rc = Fail("cannot create the base");
    } else {
      t = Timer();
      int written = Base_AppendAnother(pgn, base, nullptr, 0, 0, nullptr);
      Report("  import", written, bytes, t);
      if (readAndExport) {
        t = Timer();
        int read = ReadAll(base);
        Report("  read", read, 0, t);
        LudrexBase* out = Base_BaseCreate(outName.c_str(), pgnPattern, 2);
        if (out == nullptr) {
          rc = Fail("cannot create the output");
        } else {
          t = Timer();
          int exported = Base_AppendAnother(base, out, nullptr, 0, 0, nullptr);
          Base_BaseDestroy(out);
          Report("  export", exported, static_cast<double>(FileSize(outName + ".pgn")), t);
        }
      }
      Base_BaseDestroy(base);
    }
    Base_BaseDestroy(pgn);
  }
  FreePattern(pgnPattern);
  Base_BaseErase(baseName.c_str(), 0);
  Base_BaseErase(pgnName.c_str(), 2);
  Base_BaseErase(outName.c_str(), 2);
  return rc;
}

int RunBench(const std::string& input, const std::string& corpus, int games) {
  std::string text;
  if (!ReadText(input, text)) {
    std::fprintf(stderr, "ludrex: %s: no such file (give a PGN file)\n", input.c_str());
    return 1;
  }
  int perCopy = 0;
  FirstGames(text, -1, &perCopy);
  if (perCopy == 0) {
    std::fprintf(stderr, "ludrex: %s holds no games\n", input.c_str());
    return 1;
  }
  std::string big;
  if (!corpus.empty() && !ReadText(corpus, big)) {
    std::fprintf(stderr, "ludrex: %s: no such file (give a gen-games PGN file)\n",
                 corpus.c_str());
    return 1;
  }
  char* temp = CPP_BaseTempName();
  if (temp == nullptr) return Fail("no temporary name");
  std::string work = temp;

  int copies = (games + perCopy - 1) / perCopy;
  std::string replicated;
  replicated.reserve((text.size() + 2) * static_cast<std::size_t>(copies));
  for (int i = 0; i < copies; ++i) replicated += text + "\r\n";
  int rc = MeasureCorpus(input + " replicated " + std::to_string(copies) + " times (names repeat)",
                         replicated, copies * perCopy, work, true);
  std::string().swap(replicated);
  if (corpus.empty()) {
    std::printf("(give --corpus with a gen-games file to measure varied names and new names)\n");
    return rc;
  }
  int n = 0;
  std::string first = FirstGames(big, games, &n);
  std::string().swap(big);
  if (rc == 0) rc = MeasureCorpus(corpus + " (varied names)", first, n, work, false);
  if (rc == 0) {
    rc = MeasureCorpus(corpus + " with 95% of events and half of the players new",
                       WithNewNames(first), n, work, false);
  }
  return rc;
}

// Imports the games of a PGN file in steps of `step` games into one base and prints the time per
// game of each step: flat when no cost grows with the base.
int RunFlat(const std::string& input, int games, int step) {
  std::string work;
  {
    char* temp = CPP_BaseTempName();
    if (temp == nullptr) return Fail("no temporary name");
    work = temp;
  }
  std::string pgnName = WithoutExtension(input, ".pgn");
  if (pgnName == input || !FileExists(input)) {
    std::fprintf(stderr, "ludrex: %s: give an existing .pgn file\n", input.c_str());
    return 1;
  }
  HostRecordPattern* pgnPattern = PgnPattern();
  Timer open;
  LudrexBase* pgn = Base_PgnOpenWithPattern(pgnName.c_str(), pgnPattern);
  FreePattern(pgnPattern);
  if (pgn == nullptr) return Fail("cannot open " + input);
  int total = Base_GetBaseLength(pgn);
  if (games > 0 && games < total) total = games;
  std::printf("%s: %d games, scanned in %.2f s processor\n", input.c_str(), total, open.Cpu());
  std::string baseName = work + "_flat";
  HostRecordPattern* pattern = DefaultPattern();
  LudrexBase* base = Base_BaseCreate(baseName.c_str(), pattern, 0);
  FreePattern(pattern);
  int rc = 0;
  if (base == nullptr) {
    rc = Fail("cannot create the base");
  } else {
    std::printf("%9s %9s %12s %10s\n", "from", "games", "us per game", "games/s");
    LudrexSubset* part = Subset_CreateTmp(Base_GetBaseLength(pgn));
    Timer all;
    for (int from = 0; from < total && rc == 0; from += step) {
      int n = std::min(step, total - from);
      Subset_ExcludeRange(part, 0, Base_GetBaseLength(pgn));
      Subset_IncludeRange(part, from, n);
      Timer t;
      int written = Base_AppendAnother(pgn, base, part, 0, 0, nullptr);
      double cpu = t.Cpu();
      if (written != n) rc = Fail("import stopped");
      std::printf("%9d %9d %12.2f %10.0f\n", from, n, cpu * 1e6 / n, n / (cpu > 0 ? cpu : 1e-9));
      std::fflush(stdout);
    }
    Subset_Destroy(part);
    Base_BaseDestroy(base);
    std::printf("all: %.2f s processor (%.2f s wall), %.0f games/s\n", all.Cpu(), all.Wall(),
                total / (all.Cpu() > 0 ? all.Cpu() : 1e-9));
  }
  Base_BaseDestroy(pgn);
  Base_BaseErase(baseName.c_str(), 0);
  return rc;
}

}  // namespace

CLI::App* AddBench(CLI::App& app, int& rc) {
  struct Options {
    std::string input = "examples/sample-games.pgn";
    std::string corpus;
    int games = 100000;
    std::string flatInput;
    int flatGames = 1000000;
    int step = 100000;
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "bench", "PGN parsing and import throughput on the file replicated to 100,000 games (with "
               "read and export), and with --corpus on a gen-games file as it is and with new "
               "names; its sub-commands measure other work");
  cmd->add_option("GAMES.pgn", o->input, "the PGN file to replicate (default: the bundled example)");
  cmd->add_option("--corpus", o->corpus, "a gen-games PGN file: its first games as they are and "
                                         "with almost every event and half of the players new");
  cmd->add_option("--games", o->games, "games per corpus (default 100,000)")
      ->check(CLI::Range(1, 100000000));
  cmd->callback([&rc, o, cmd] {
    if (cmd->get_subcommands().empty()) rc = RunBench(o->input, o->corpus, o->games);
  });
  CLI::App* flat = cmd->add_subcommand(
      "flat", "imports a PGN file into one base step by step and prints the time per game of "
              "each step");
  flat->add_option("GAMES.pgn", o->flatInput, "the PGN file")->required();
  flat->add_option("--games", o->flatGames, "games to import at most (default 1,000,000)")
      ->check(CLI::Range(1, 100000000));
  flat->add_option("--step", o->step, "games per step (default 100,000)")
      ->check(CLI::Range(1, 100000000));
  flat->callback([&rc, o] { rc = RunFlat(o->flatInput, o->flatGames, o->step); });
  return cmd;
}

}  // namespace ludrex_tool
