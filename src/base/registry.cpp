#include "base/registry.h"

#include <cstring>
#include <string>

#include "base/base.h"
#include "frame/error.h"

namespace ludrex {
namespace {

constexpr std::size_t kGrowth = 50;
BaseRegistry* g_registry = nullptr;

std::string WithSuffix(const String& name, const char* suffix) {
  return std::string(name.Text(), name.Length()) + suffix;
}

}  // namespace

BaseRegistry::BaseRegistry() { entries_.reserve(kGrowth); }

BaseRegistry::~BaseRegistry() = default;

Base* BaseRegistry::Lookup(std::int32_t type, const String& name) {
  for (Entry& e : entries_) {
    if (e.base != nullptr && e.type == type && e.name == name) {
      e.local += 1;
      entries_[static_cast<std::size_t>(e.root)].group += 1;
      return e.base;
    }
  }
  return nullptr;
}

std::int32_t BaseRegistry::Register(std::int32_t type, const String& name, Base* base,
                                    std::int32_t root) {
  std::size_t index = entries_.size();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].base == nullptr) {
      index = i;
      break;
    }
  }
  if (index == entries_.size()) {
    if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.size() + kGrowth);
    entries_.emplace_back();
  }
  Entry& e = entries_[index];
  e.type = type;
  e.name = String::Copy(name.Text(), name.Length());
  e.base = base;
  e.local = 0;
  e.group = 0;
  e.root = root >= 0 ? root : static_cast<std::int32_t>(index);
  return static_cast<std::int32_t>(index);
}

std::int32_t BaseRegistry::IndexOf(const Base* base) const {
  if (base == nullptr) return -1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].base == base) return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::int32_t BaseRegistry::RootOf(const Base* base) const {
  std::int32_t i = IndexOf(base);
  if (i < 0) Raise(910);
  return entries_[static_cast<std::size_t>(i)].root;
}

void BaseRegistry::Close(Base* base) {
  std::int32_t i = IndexOf(base);
  if (i < 0) {
    Warn(910);
    return;
  }
  Entry& e = entries_[static_cast<std::size_t>(i)];
  if (e.local - 1 < 0) {
    Warn(911, WithSuffix(e.name, " 1").c_str());
    return;
  }
  std::int32_t root = e.root;
  Entry& r = entries_[static_cast<std::size_t>(root)];
  if (r.group - 1 < 0) {
    Warn(911, WithSuffix(e.name, " 2").c_str());
    return;
  }
  e.local -= 1;
  r.group -= 1;
  if (r.group > 0) return;
  // The whole group goes, embedded bases (registered after their container) first.
  for (std::size_t k = entries_.size(); k-- > 0;) {
    Entry& m = entries_[k];
    if (m.base == nullptr || m.root != root) continue;
    if (m.local != 0) Raise(912);
    Base* doomed = m.base;
    m.base = nullptr;
    m.name = String(static_cast<const char*>(nullptr));
    delete doomed;
  }
}

void BaseRegistry::CloseAll() {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    while (entries_[i].base != nullptr && entries_[i].local > 0) {
      std::string name(entries_[i].name.Text(), entries_[i].name.Length());
      Warn(916, name.c_str());
      std::int32_t before = entries_[i].local;
      Close(entries_[i].base);
      if (entries_[i].base != nullptr && entries_[i].local == before) break;  // counts broken
    }
  }
}

BaseRegistry* Registry() { return g_registry; }

void CreateRegistry() {
  if (g_registry == nullptr) g_registry = new BaseRegistry();
}

void DestroyRegistry() {
  delete g_registry;
  g_registry = nullptr;
}

}  // namespace ludrex
