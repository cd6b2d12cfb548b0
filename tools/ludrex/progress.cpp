#include "progress.h"

#include <csignal>
#include <cstdio>
#include <string>

#include "ludrex.h"
#include "text.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace ludrex_tool {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
bool g_draw = false;
std::string g_title;
int g_last_percent = -1;

void OnSignal(int) { g_interrupted = 1; }

void Draw(int current, int total) {
  if (!g_draw) return;
  int percent = total > 0 ? static_cast<int>(100.0 * current / total) : 0;
  if (percent > 100) percent = 100;
  if (percent == g_last_percent) return;
  g_last_percent = percent;
  const int width = 30;
  int filled = percent * width / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(width - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", g_title.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

void LUDREX_CDECL OnStart(const char* title, int) {
  g_title = Cp1251ToUtf8(title != nullptr ? title : "");
  g_last_percent = -1;
  Draw(0, 1);
}

int LUDREX_CDECL OnStep(int current, int total) {
  Draw(current, total);
  return g_interrupted ? 1 : 0;
}

int LUDREX_CDECL OnStepEx(int current, int second, int) {
  Draw(current, second);
  return g_interrupted ? 1 : 0;
}

void LUDREX_CDECL OnFinish() {
  if (g_draw && g_last_percent >= 0) std::fputs("\n", stderr);
  g_last_percent = -1;
}

int LUDREX_CDECL OnTree(int current, int total) {
  if (current >= 0) Draw(current, total);
  return g_interrupted ? 1 : 0;
}

}  // namespace

void InstallProgress(bool force) {
  g_draw = force || isatty(fileno(stderr));
  std::signal(SIGINT, OnSignal);
  SetMessageFunctions(OnStart, nullptr, OnStep, OnFinish, OnStepEx);
  SetTreeMessageFunctionPtr(OnTree);
}

bool Interrupted() { return g_interrupted != 0; }

}  // namespace ludrex_tool
