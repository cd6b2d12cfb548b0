// The host tests' error function: it keeps the texts the library reports, in order.
#pragma once

#include <string>
#include <vector>

#include "ludrex.h"

namespace host_test {

inline std::vector<std::string> g_errors;
inline void LUDREX_CDECL RecordError(const char* text) { g_errors.emplace_back(text); }

// Starts the library (a second start does nothing) and keeps its errors from now on.
inline void StartRecordingErrors() {
  CPP_Startup();
  g_errors.clear();
  SetErrorFunction(RecordError);
}

}  // namespace host_test
