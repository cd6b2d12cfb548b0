#include "frame/state.h"

#include <cstring>

namespace ludrex {

bool g_started = false;
char ProgramPath[kProgramPathSize];
char ExportTextBuffer[kExportTextBufferSize];

void SetProgramPath(const char* path) {
  std::size_t n = path != nullptr ? strnlen(path, kProgramPathSize - 1) : 0;
  std::memset(ProgramPath, 0, kProgramPathSize);
  if (n > 0) std::memcpy(ProgramPath, path, n);
}

const char* ToExportBuffer(const char* text, std::size_t length) {
  if (length > kExportTextBufferSize - 1) length = kExportTextBufferSize - 1;
  if (length > 0) std::memmove(ExportTextBuffer, text, length);
  ExportTextBuffer[length] = 0;
  return ExportTextBuffer;
}

}  // namespace ludrex
