// ludrex bench: throughput of PGN parsing, import, reading and export on a file replicated to at
// least 100,000 games.
#include <chrono>
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

int RunBench(const std::string& input) {
  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "ludrex: %s: no such file (give a PGN file)\n", input.c_str());
    return 1;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  int perCopy = 0;
  for (std::size_t at = text.find("[Event "); at != std::string::npos; at = text.find("[Event ", at + 1)) {
    ++perCopy;
  }
  if (perCopy == 0) {
    std::fprintf(stderr, "ludrex: %s holds no games\n", input.c_str());
    return 1;
  }
  char* temp = CPP_BaseTempName();
  if (temp == nullptr) return Fail("no temporary name");
  std::string work = temp;
  std::string pgnName = work + "_in", baseName = work + "_base", outName = work + "_out";
  int copies = (100000 + perCopy - 1) / perCopy;
  {
    std::ofstream out(pgnName + ".pgn", std::ios::binary);
    for (int i = 0; i < copies; ++i) out << text << "\r\n";
  }
  double bytes = static_cast<double>(FileSize(pgnName + ".pgn"));
  std::printf("input: %s replicated %d times: %d games, %.1f MB\n", input.c_str(), copies,
              copies * perCopy, bytes / 1e6);
  int rc = 0;

  Timer t;
  HostRecordPattern* pgnPattern = PgnPattern();
  LudrexBase* pgn = Base_PgnOpenWithPattern(pgnName.c_str(), pgnPattern);
  if (pgn == nullptr) {
    rc = Fail("cannot open the replicated file");
  } else {
    int n = ReadAll(pgn);
    Report("parse", n, bytes, t);

    HostRecordPattern* pattern = DefaultPattern();
    LudrexBase* base = Base_BaseCreate(baseName.c_str(), pattern, 0);
    FreePattern(pattern);
    if (base == nullptr) {
      rc = Fail("cannot create the base");
    } else {
      t = Timer();
      int written = Base_AppendAnother(pgn, base, nullptr, 0, 0, nullptr);
      Report("import", written, bytes, t);
      t = Timer();
      int read = ReadAll(base);
      Report("read", read, 0, t);
      LudrexBase* out = Base_BaseCreate(outName.c_str(), pgnPattern, 2);
      if (out == nullptr) {
        rc = Fail("cannot create the output");
      } else {
        t = Timer();
        int exported = Base_AppendAnother(base, out, nullptr, 0, 0, nullptr);
        Base_BaseDestroy(out);
        Report("export", exported, static_cast<double>(FileSize(outName + ".pgn")), t);
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

}  // namespace

CLI::App* AddBench(CLI::App& app, int& rc) {
  auto input = std::make_shared<std::string>("examples/sample-games.pgn");
  CLI::App* cmd = app.add_subcommand(
      "bench", "PGN parsing, import, read and export throughput on the file replicated to "
               "100,000 games; its sub-commands measure other work");
  cmd->add_option("GAMES.pgn", *input, "the PGN file (default: the bundled example)");
  cmd->callback([&rc, input, cmd] {
    if (cmd->get_subcommands().empty()) rc = RunBench(*input);
  });
  return cmd;
}

}  // namespace ludrex_tool
