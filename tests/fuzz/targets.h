// The fuzz targets: each takes any bytes and must neither crash, nor read outside what it was
// given, nor hang; a numbered error is a normal outcome. The same functions run under libFuzzer
// (driver.cpp, one program per target) and replay the committed regression inputs in the
// ordinary test run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ludrex::fuzz {

using Target = int (*)(const std::uint8_t* data, std::size_t size);

struct TargetEntry {
  const char* name;
  Target run;
};

// Every target, ended by {nullptr, nullptr}.
extern const TargetEntry kTargets[];

// Start-up state for the targets (idempotent): tables, registry, base types, and errors and
// message boxes recorded nowhere.
void Start();
// Removes the scratch folder the file targets write in (this process's own).
void RemoveScratch();

}  // namespace ludrex::fuzz
