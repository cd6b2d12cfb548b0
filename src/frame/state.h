// Library-wide state of the frame: the started flag, the host program's directory and the shared
// buffer through which text-returning exports hand their result to the host.
#pragma once

#include <cstddef>

namespace ludrex {

constexpr std::size_t kProgramPathSize = 261;
constexpr std::size_t kExportTextBufferSize = 364;

extern bool g_started;
extern char ProgramPath[kProgramPathSize];
extern char ExportTextBuffer[kExportTextBufferSize];

// Copies at most 260 characters of path into ProgramPath, NUL-padded.
void SetProgramPath(const char* path);

// Copies a text into ExportTextBuffer (cut to fit, NUL-terminated) and returns the buffer.
const char* ToExportBuffer(const char* text, std::size_t length);

}  // namespace ludrex
