#include "frame/callbacks.h"

namespace ludrex {
namespace {
HostCallbacks g_callbacks;
// Shared by the general and the tree progress wrappers: one operation reports at a time.
std::int32_t g_last = 0;
std::int32_t g_granularity = 0;

bool PastThreshold(std::int32_t current) {
  // Signed difference as the host's 32-bit arithmetic gives it.
  auto diff = static_cast<std::int32_t>(static_cast<std::uint32_t>(current) -
                                        static_cast<std::uint32_t>(g_last));
  if (diff < g_granularity) return false;
  g_last = current;
  return true;
}
}  // namespace

HostCallbacks& Callbacks() { return g_callbacks; }

void ProgressBegin(const char* title, std::int32_t granularity) {
  g_last = 0;
  g_granularity = granularity;
  if (g_callbacks.start != nullptr) g_callbacks.start(title != nullptr ? title : "", 1);
}

int ProgressStep(std::int32_t current, std::int32_t total) {
  if (!PastThreshold(current)) return 0;
  return g_callbacks.step != nullptr ? g_callbacks.step(current, total) : 0;
}

int ProgressStepEx(std::int32_t current, std::int32_t second, std::int32_t third) {
  if (!PastThreshold(current)) return 0;
  return g_callbacks.stepEx != nullptr ? g_callbacks.stepEx(current, second, third) : 0;
}

void ProgressEnd() {
  if (g_callbacks.finish != nullptr) g_callbacks.finish();
}

void TreeProgressBegin(std::int32_t granularity) {
  g_last = 0;
  g_granularity = granularity;
  if (g_callbacks.tree != nullptr) g_callbacks.tree(-1, 0);
}

void TreeProgressStep(std::int32_t current, std::int32_t total) {
  if (!PastThreshold(current)) return;
  if (g_callbacks.tree != nullptr) g_callbacks.tree(current, total);
}

void TreeProgressNow(std::int32_t current, std::int32_t total) {
  if (g_callbacks.tree != nullptr) g_callbacks.tree(current, total);
}

int MessageDialog(const char* text, int flag, int kind) {
  return g_callbacks.dialog != nullptr ? g_callbacks.dialog(text, flag, kind) : 0;
}

}  // namespace ludrex
