// The small layer that stands for the operating-system calls the library makes. posix.cpp and
// win32.cpp implement it; nothing above this folder includes a system header for these jobs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ludrex::platform {

// MessageBoxA style bits used by the library.
constexpr unsigned kMbIconStop = 0x10;
constexpr unsigned kMbTaskModal = 0x2000;

// Names here never match a Win32 macro (MessageBox, DeleteFile, ...): win32.cpp includes
// windows.h.

// Shows a message box with no owner window (text and caption are Windows-1251) and returns the
// button the user chose. On POSIX the caption and text go to standard error as UTF-8.
int ShowMessageBox(const char* text, const char* caption, unsigned style);

// Replaces the message box by a function (tests capture boxes this way, so none ever blocks);
// null restores the real box. Returns the previous hook.
using MessageBoxHook = int (*)(const char* text, const char* caption, unsigned style);
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Ends the process abnormally, with exit code 3, as the C runtime's abort does on Windows.
[[noreturn]] void AbortProcess();

// Available virtual memory of the process in bytes (GlobalMemoryStatus's dwAvailVirtual).
std::uint64_t AvailVirtualMemory();

// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
std::uint32_t TickCount();

// Code-page conversions between Windows-1251 and UTF-8. Utf8ToCp1251 writes '?' for characters
// that code page 1251 lacks. Both return the number of bytes written (no NUL is added).
std::size_t Cp1251ToUtf8(const char* in, std::size_t n, char* out, std::size_t cap);
std::size_t Utf8ToCp1251(const char* in, std::size_t n, char* out, std::size_t cap);

}  // namespace ludrex::platform
