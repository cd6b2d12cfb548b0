// The one error routine, the fatal-failure path and the message table.
#pragma once

#include <cstdint>

#include "ludrex.h"  // Error

namespace ludrex {

class String;

// Thrown by Raise after a fatal error has been reported and the host's error function returned.
// The export shim that the host called catches it and returns that export's failure result.
struct Failure {
  std::uint16_t code;
};

// Reports a numbered error (see Error in the public header) and, when the host's error function
// returned, unwinds to the export shim. Never returns.
[[noreturn]] void Raise(std::uint16_t code, const char* extra = nullptr);

// Reports a fatal error and returns when the host's error function returns: for the few sites
// whose failure path goes on (a clamped value, an ignored request).
void ReportFatal(std::uint16_t code, const char* extra = nullptr);

// Reports a non-fatal error: the message box is always shown, then the caller goes on.
void Warn(std::uint16_t code, const char* extra = nullptr);

// The text of a message code (Windows-1251), or an empty text for an unknown code or before
// start-up.
String MessageText(std::uint32_t code);
// The same as a pointer into the table ("" when unknown); valid until shut-down.
const char* MessageTextPtr(std::uint32_t code);

// Builds and frees the message table (start-up step 3, shut-down step 3).
void BuildMessageTable();
void FreeMessageTable();
// Number of codes in the table (0 before start-up).
int MessageTableSize();

// The error text as composed for code and extra (at most 499 characters).
void ComposeError(std::uint16_t code, const char* extra, char (&out)[500]);

}  // namespace ludrex
