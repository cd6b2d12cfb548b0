// The commands of ludrex. Each returns the process's exit code: 0 success, 1 a failure the
// library reported (its numbered text is printed), 2 a usage error, 130 stopped by Ctrl-C.
#pragma once

#include <string>
#include <vector>

namespace ludrex_tool {

using Args = std::vector<std::string>;

int CmdImport(const Args& args);
int CmdExport(const Args& args);
int CmdInfo(const Args& args);
int CmdList(const Args& args);
int CmdShow(const Args& args);
int CmdBench(const Args& args);

// The text of the last fatal error the library reported (Windows-1251), cleared by the call.
std::string TakeLastError();
// Prints "ludrex: <what>" and the library's last error (as UTF-8) to standard error; returns 1.
int Fail(const std::string& what);
// Installs the error function that keeps the last error text.
void InstallErrorFunction();

// Base names: a path without extension. "games.kvx" and "games" name the same native base.
std::string WithoutExtension(const std::string& path, const char* extension);
bool FileExists(const std::string& path);

}  // namespace ludrex_tool
