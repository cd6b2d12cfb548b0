// The host's callbacks and the library-side wrappers through which every subsystem calls them.
#pragma once

#include <cstdint>

#include "ludrex.h"

namespace ludrex {

// The installed callbacks (null when not installed). Process-wide; the host installs them.
struct HostCallbacks {
  ErrorFunction error = nullptr;
  ProgressStartFunction start = nullptr;
  void* spare = nullptr;  // stored, never called
  ProgressStepFunction step = nullptr;
  ProgressFinishFunction finish = nullptr;
  ProgressStepExFunction stepEx = nullptr;
  MessageDlgFunction dialog = nullptr;
  TreeMessageFunction tree = nullptr;
};
HostCallbacks& Callbacks();

// Progress: a report reaches the host only when the current value has advanced by at least the
// granularity since the last report. A nonzero step result asks the running operation to stop.
void ProgressBegin(const char* title, std::int32_t granularity);
int ProgressStep(std::int32_t current, std::int32_t total);
int ProgressStepEx(std::int32_t current, std::int32_t second, std::int32_t third);
void ProgressEnd();

void TreeProgressBegin(std::int32_t granularity);
void TreeProgressStep(std::int32_t current, std::int32_t total);
void TreeProgressNow(std::int32_t current, std::int32_t total);

// Ends a progress report when it goes out of scope (also on the failure path).
class ProgressScope {
 public:
  ProgressScope(const char* title, std::int32_t granularity) { ProgressBegin(title, granularity); }
  ~ProgressScope() { ProgressEnd(); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
};

// Dialog kinds and the answer that abandons an operation.
constexpr int kDialogNotice = 4;
constexpr int kDialogQuestion = 20;
constexpr int kDialogAbort = 3;
// The host's dialog, or 0 ("go on") when none is installed.
int MessageDialog(const char* text, int flag, int kind);

}  // namespace ludrex
