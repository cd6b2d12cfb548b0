// The registry of open bases. A base opened twice under one name is one object with a higher
// count; a top-level base and the bases embedded in it form a group that opens and closes as one.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/string.h"

namespace ludrex {

class Base;

class BaseRegistry {
 public:
  struct Entry {
    std::int32_t type = 0;
    String name{static_cast<const char*>(nullptr)};
    Base* base = nullptr;  // null marks a free entry
    std::int32_t local = 0;
    std::int32_t group = 0;  // kept on the root entry only
    std::int32_t root = 0;
  };

  BaseRegistry();
  ~BaseRegistry();  // does not close bases: CloseAll does, with its reports
  BaseRegistry(const BaseRegistry&) = delete;
  BaseRegistry& operator=(const BaseRegistry&) = delete;

  // The base registered under an equal type and name (same bytes), with its local count and its
  // group's count raised; null when there is none.
  Base* Lookup(std::int32_t type, const String& name);
  // Registers base in the first free entry (or a new one); root < 0 makes it its own root.
  // Counts start at 0. Returns the entry's index.
  std::int32_t Register(std::int32_t type, const String& name, Base* base, std::int32_t root);
  // The root index of the entry holding base; raises 910 when it is not registered.
  std::int32_t RootOf(const Base* base) const;
  // The entry holding base, or -1.
  std::int32_t IndexOf(const Base* base) const;
  const Entry& At(std::int32_t index) const { return entries_[static_cast<std::size_t>(index)]; }
  std::int32_t Size() const { return static_cast<std::int32_t>(entries_.size()); }

  // Gives back one open of base. When its group's count reaches 0 every base of the group is
  // destroyed and its entry freed. An unregistered base (910) or a count that would go below 0
  // (911) is reported without being fatal and changes nothing.
  void Close(Base* base);
  // Shut-down: every base still open is reported (916, not fatal) once per open and closed.
  void CloseAll();

 private:
  std::vector<Entry> entries_;
};

// The process-wide registry, created at start-up and freed at shut-down (null outside).
BaseRegistry* Registry();
void CreateRegistry();
void DestroyRegistry();

}  // namespace ludrex
