// ludrex: the command-line host of the library. It uses only the public header; the command line
// is parsed by CLI11, one sub-command per command.
#include <cstdio>
#include <cstdlib>
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

void AddVersion(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand("version", "the command's version");
  cmd->callback([&rc] {
    std::printf("ludrex %s\n", kVersion);
    rc = 0;
  });
}

void AddMessage(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand("message", "the library's text for an error code");
  auto code = std::make_shared<int>(0);
  cmd->add_option("CODE", *code, "error code")->required()->check(CLI::Range(0, 65535));
  cmd->callback([&rc, code] {
    Error(static_cast<unsigned short>(*code), nullptr, 1);
    std::puts(ludrex_tool::Cp1251ToUtf8(ludrex_tool::TakeLastError()).c_str());
    rc = 0;
  });
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // PGN text carries its own CR LF line ends
#endif
  CLI::App app("ludrex: a chess game database on the command line", "ludrex");
  app.require_subcommand(1);
  // Arguments are paths: "/work/games.pgn" is a file, never a Windows-style "/option" (the
  // sub-commands inherit this when they are added below).
  app.allow_windows_style_options(false);
  app.fallthrough(false);
  int rc = 0;
  AddVersion(app, rc);
  AddMessage(app, rc);
  ludrex_tool::AddImport(app, rc);
  ludrex_tool::AddExport(app, rc);
  ludrex_tool::AddInfo(app, rc);
  ludrex_tool::AddList(app, rc);
  ludrex_tool::AddShow(app, rc);
  CLI::App* bench = ludrex_tool::AddBench(app, rc);
  ludrex_tool::AddBenchDups(bench, rc);
  ludrex_tool::AddDups(app, rc);
  ludrex_tool::AddBenchMaintenance(bench, rc);
  ludrex_tool::AddCheck(app, rc);
  ludrex_tool::AddRepair(app, rc);
  ludrex_tool::AddCompact(app, rc);
  ludrex_tool::AddMergeNames(app, rc);
  ludrex_tool::AddCleanNames(app, rc);
  ludrex_tool::AddSearch(app, rc);
  ludrex_tool::AddBenchSearch(bench, rc);
  ludrex_tool::AddBenchPosition(bench, rc);

  CPP_Startup();
  ludrex_tool::InstallErrorFunction();
  // Reference files of bases on read-only media go to the user's data directory; without one
  // they go to the current directory.
  ludrex_tool::SetUserProgramPath();
  ludrex_tool::InstallProgress(false);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    rc = 0;
  } catch (const CLI::CallForAllHelp&) {
    std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
    rc = 0;
  } catch (const CLI::ParseError& e) {
    // Usage errors: the message, then the help of the command that was meant.
    std::fprintf(stderr, "ludrex: %s\n", e.what());
    std::fprintf(stderr, "run 'ludrex --help' or 'ludrex COMMAND --help' for usage\n");
    rc = 2;
  }
  CPP_Done();
  return rc;
}
