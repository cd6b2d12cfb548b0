// ludrex: the command-line host of the library. It uses only the public header.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "commands.h"
#include "ludrex.h"
#include "progress.h"
#include "text.h"

namespace {

const char* kVersion = "0.1.0";

int Usage() {
  std::fputs(
      "usage: ludrex <command> [arguments]\n"
      "  import GAMES.pgn BASE [--force]    make a native base BASE.kvx from a PGN file\n"
      "  export BASE [OUT.pgn] [--from N] [--count K]\n"
      "                                     the games as PGN, to a file or standard output\n"
      "  info BASE                          type, description, counts, fields, libraries\n"
      "  list BASE [--from N] [--count K]   one line per game\n"
      "  show BASE N                        game N as PGN\n"
      "  bench [GAMES.pgn]                  throughput on the file replicated to 100,000 games\n"
      "  message CODE                       the library's text for an error code\n"
      "  version                            the command's version\n",
      stderr);
  return 2;
}

int CmdMessage(const ludrex_tool::Args& args) {
  if (args.size() != 1) return Usage();
  char* end = nullptr;
  long code = std::strtol(args[0].c_str(), &end, 10);
  if (*end != 0 || code < 0 || code > 65535) {
    std::fprintf(stderr, "ludrex: not an error code: %s\n", args[0].c_str());
    return 2;
  }
  Error(static_cast<unsigned short>(code), nullptr, 1);
  std::puts(ludrex_tool::Cp1251ToUtf8(ludrex_tool::TakeLastError()).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // PGN text carries its own CR LF line ends
#endif
  std::string command = argv[1];
  ludrex_tool::Args args(argv + 2, argv + argc);
  CPP_Startup();
  ludrex_tool::InstallErrorFunction();
  ludrex_tool::InstallProgress(false);
  int rc;
  if (command == "version") {
    std::printf("ludrex %s\n", kVersion);
    rc = 0;
  } else if (command == "message") {
    rc = CmdMessage(args);
  } else if (command == "import") {
    rc = ludrex_tool::CmdImport(args);
  } else if (command == "export") {
    rc = ludrex_tool::CmdExport(args);
  } else if (command == "info") {
    rc = ludrex_tool::CmdInfo(args);
  } else if (command == "list") {
    rc = ludrex_tool::CmdList(args);
  } else if (command == "show") {
    rc = ludrex_tool::CmdShow(args);
  } else if (command == "bench") {
    rc = ludrex_tool::CmdBench(args);
  } else {
    rc = Usage();
  }
  CPP_Done();
  return rc;
}
