// Win32 implementation of the platform layer: the real system calls.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

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
  return ::MessageBoxA(nullptr, text, caption, style);
}

void AbortProcess() {
  std::fflush(nullptr);
  ExitProcess(3);
}

std::uint64_t AvailVirtualMemory() {
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  return status.dwAvailVirtual;
}

std::uint32_t TickCount() { return GetTickCount(); }

}  // namespace ludrex::platform
