// POSIX implementation of the platform layer.
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace ludrex::platform {
namespace {
MessageBoxHook g_message_box_hook = nullptr;
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  MessageBoxHook old = g_message_box_hook;
  g_message_box_hook = hook;
  return old;
}

int ShowMessageBox(const char* text, const char* caption, unsigned style) {
  if (g_message_box_hook != nullptr) return g_message_box_hook(text, caption, style);
  auto put = [](const char* s) {
    char buf[4096];
    std::size_t n = Cp1251ToUtf8(s, std::strlen(s), buf, sizeof buf);
    std::fwrite(buf, 1, n, stderr);
  };
  std::fputs("[", stderr);
  put(caption != nullptr ? caption : "");
  std::fputs("] ", stderr);
  put(text != nullptr ? text : "");
  std::fputs("\n", stderr);
  std::fflush(stderr);
  return 1;  // IDOK
}

void AbortProcess() {
  std::fflush(nullptr);
  _exit(3);
}

std::uint64_t AvailVirtualMemory() {
  // The address space left to the process: the smaller of the address-space limit and the free
  // memory of the machine (a 64-bit process has no practical address-space bound of its own).
  struct sysinfo info {};
  std::uint64_t avail = UINT64_MAX;
  if (sysinfo(&info) == 0) {
    avail = (static_cast<std::uint64_t>(info.freeram) + info.bufferram + info.freeswap) *
            info.mem_unit;
  }
  struct rlimit lim {};
  if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < avail) {
    avail = lim.rlim_cur;
  }
  return avail;
}

std::uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace ludrex::platform
