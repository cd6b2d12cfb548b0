// The commands of ludrex. Each adds its sub-command to the command line (CLI11) with its options
// and a callback that stores the process's exit code in rc: 0 success, 1 a failure the library
// reported (its numbered text is printed) or a problem found, 2 a usage error, 130 stopped by
// Ctrl-C.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "ludrex.h"

namespace ludrex_tool {

void AddImport(CLI::App& app, int& rc);
void AddExport(CLI::App& app, int& rc);
void AddInfo(CLI::App& app, int& rc);
void AddList(CLI::App& app, int& rc);
void AddShow(CLI::App& app, int& rc);
// Returns the bench command, so that other measurements add their sub-commands to it
// (`ludrex bench search ...`).
CLI::App* AddBench(CLI::App& app, int& rc);
// ludrex dups and ludrex bench dups (cmd_dups.cpp).
void AddDups(CLI::App& app, int& rc);
void AddBenchDups(CLI::App* bench, int& rc);
// check, repair, compact, merge-names, clean-names (cmd_check.cpp).
void AddCheck(CLI::App& app, int& rc);
void AddRepair(CLI::App& app, int& rc);
void AddCompact(CLI::App& app, int& rc);
void AddMergeNames(CLI::App& app, int& rc);
void AddCleanNames(CLI::App& app, int& rc);
// `ludrex bench maintenance BASE`.
void AddBenchMaintenance(CLI::App* bench, int& rc);

// The text of the last fatal error the library reported (Windows-1251), cleared by the call.
std::string TakeLastError();
// Prints "ludrex: <what>" and the library's last error (as UTF-8) to standard error; returns 1.
int Fail(const std::string& what);
// Installs the error function that keeps the last error text.
void InstallErrorFunction();

// Base names: a path without extension. "games.kvx" and "games" name the same native base.
std::string WithoutExtension(const std::string& path, const char* extension);
bool FileExists(const std::string& path);

// The base type a path names by its extension (".kvx", ".bfi", ".pgn", ".ror", ...), with name
// set to the path without it; a path without a known extension names a native base.
int BaseTypeOf(const std::string& path, std::string& name);
// The full path of a name relative to the working directory (the name itself when it cannot
// be formed).
std::string AbsoluteName(const std::string& name);
// Opens a base of any type by its file name (a name without extension: a native base); a
// read-only base opens through a reference in the program path. Prints the error and returns
// null when it cannot.
LudrexBase* OpenAnyBase(const std::string& path);
// Sets the library's program path to the per-user data directory ($XDG_DATA_HOME/ludrex, else
// ~/.local/share/ludrex; %APPDATA%\ludrex on Windows), made when missing; the reference files of
// read-only bases are kept there. Returns false when no such directory can be made.
bool SetUserProgramPath();

// --subset FILE and --exclude FILE: restrict a command to the games of a saved subset file
// (as `search --out` writes them) and leave out those of another.
struct SubsetFilter {
  std::string subset;
  std::string exclude;
};
void AddSubsetOptions(CLI::App* command, SubsetFilter& filter);
// The games of base to work on: those of [from, from + count) (count < 0: to the end) that the
// filter keeps, as a temporary subset the caller destroys; null (error printed) when a subset
// file cannot be read.
LudrexSubset* SelectGames(LudrexBase* base, const SubsetFilter& filter, long from, long count);

// Prints one `list` line for each game of games (stops on Ctrl-C).
void PrintGameLines(LudrexBase* base, LudrexSubset* games);

void AddSearch(CLI::App& app, int& rc);
// `ludrex bench search`: the search's throughput on an open base.
void AddBenchSearch(CLI::App* bench, int& rc);
void AddBenchPosition(CLI::App* bench, int& rc);

}  // namespace ludrex_tool
