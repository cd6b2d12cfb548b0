// One libFuzzer program per target: LUDREX_FUZZ_TARGET names it.
#include <cstring>

#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ludrex::fuzz::Target run = [] {
    for (const auto* t = ludrex::fuzz::kTargets; t->name != nullptr; ++t) {
      if (std::strcmp(t->name, LUDREX_FUZZ_TARGET) == 0) return t->run;
    }
    return static_cast<ludrex::fuzz::Target>(nullptr);
  }();
  return run(data, size);
}
