// ludrex bench: throughput of PGN parsing, import, reading and export on a file replicated to at
// least 100,000 games.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "commands.h"
#include "ludrex.h"
#include "pattern.h"

namespace ludrex_tool {
namespace {

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void Report(const char* what, int games, double bytes, double secs) {
  std::printf("%-8s %8d games in %6.2f s: %9.0f games/s", what, games, secs, games / secs);
  if (bytes > 0) std::printf(", %7.1f MB/s", bytes / secs / 1e6);
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

}  // namespace

int CmdBench(const Args& args) {
  std::string input = args.empty() ? std::string("examples/sample-games.pgn") : args[0];
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

  auto t = std::chrono::steady_clock::now();
  HostRecordPattern* pgnPattern = PgnPattern();
  LudrexBase* pgn = Base_PgnOpenWithPattern(pgnName.c_str(), pgnPattern);
  if (pgn == nullptr) {
    rc = Fail("cannot open the replicated file");
  } else {
    int n = ReadAll(pgn);
    Report("parse", n, bytes, Since(t));

    HostRecordPattern* pattern = DefaultPattern();
    LudrexBase* base = Base_BaseCreate(baseName.c_str(), pattern, 0);
    FreePattern(pattern);
    if (base == nullptr) {
      rc = Fail("cannot create the base");
    } else {
      t = std::chrono::steady_clock::now();
      int written = Base_AppendAnother(pgn, base, nullptr, 0, 0, nullptr);
      Report("import", written, bytes, Since(t));
      t = std::chrono::steady_clock::now();
      Report("read", ReadAll(base), 0, Since(t));
      LudrexBase* out = Base_BaseCreate(outName.c_str(), pgnPattern, 2);
      if (out == nullptr) {
        rc = Fail("cannot create the output");
      } else {
        t = std::chrono::steady_clock::now();
        int exported = Base_AppendAnother(base, out, nullptr, 0, 0, nullptr);
        Base_BaseDestroy(out);
        Report("export", exported, static_cast<double>(FileSize(outName + ".pgn")), Since(t));
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

}  // namespace ludrex_tool
