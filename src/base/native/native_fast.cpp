// Fast access: the group data a pattern's fields need, held in memory and kept equal to the
// files by every write; and the copy of records to another base.
#include <cstring>
#include <new>
#include <string>

#include "base/dispatch.h"
#include "base/native/native_base.h"
#include "base/registry.h"
#include "frame/error.h"
#include "storage/memory.h"

namespace ludrex {
namespace {

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }

bool SameName(const String& a, const String& b) {
  return a.Length() == b.Length() && std::memcmp(a.Text(), b.Text(), a.Length()) == 0;
}

// The libraries of base (its library-reference fields' embedded bases) that are open in the
// registry. The pointers stay valid while base's group is open: the group opens and closes as
// one.
std::vector<Base*> OpenLibrariesOf(Base* base, const RecordPattern* pattern) {
  std::vector<Base*> out;
  BaseRegistry* reg = Registry();
  if (reg == nullptr) return out;
  std::int32_t i = reg->IndexOf(base);
  if (i < 0) return out;
  std::string container = Str(reg->At(i).name);
  const RecordPattern& own = base->GetRecordPattern();
  std::vector<std::string> names;
  for (std::int32_t k = 0; k < own.Count(); ++k) {
    if (own[k].type != 0) continue;
    if (pattern != nullptr) {
      bool wanted = false;
      for (std::int32_t m = 0; m < pattern->Count(); ++m) {
        wanted = wanted || SameName((*pattern)[m].name, own[k].name);
      }
      if (!wanted) continue;
    }
    std::string lib = Str(own[k].param);
    bool seen = false;
    for (const std::string& n : names) seen = seen || n == lib;
    if (seen) continue;
    names.push_back(lib);
    std::string full = container + "," + lib;
    String key = String::Copy(full.data(), static_cast<std::uint32_t>(full.size()));
    if (Base* b = reg->Lookup(base->Type(), key)) {
      reg->Close(b);  // only the pointer is kept: the group keeps the object alive
      out.push_back(b);
    }
  }
  return out;
}

}  // namespace

void NativeBase::EnableFastAccess(const RecordPattern* pattern) {
  DisableFastAccess();
  std::vector<bool> need(groups_.size(), pattern == nullptr);
  if (pattern != nullptr) {
    for (std::int32_t m = 0; m < pattern->Count(); ++m) {
      for (const NativeField& f : fields_) {
        if (SameName(f.spec.name, (*pattern)[m].name))
          need[static_cast<std::size_t>(f.group)] = true;
      }
    }
  }
  std::int64_t bytes = 0;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    if (!need[g]) continue;
    bytes +=
        DataCount(static_cast<std::int32_t>(g)) + 4LL * AddressCount(static_cast<std::int32_t>(g));
  }
  bool loaded = static_cast<std::uint64_t>(bytes) < AvailMem() / 2;
  if (loaded) {
    try {
      for (std::size_t g = 0; g < groups_.size(); ++g) {
        if (!need[g]) continue;
        GroupFiles& gf = groupFiles_[g];
        std::int32_t n = gf.data->Count();
        gf.memData.resize(static_cast<std::size_t>(n));
        for (std::int32_t at = 0; at < n;) {
          std::int32_t k = n - at < 65535 ? n - at : 65535;
          gf.data->Read(at, gf.memData.data() + at, k);
          at += k;
        }
        if (gf.address) {
          std::int32_t c = gf.address->Count();
          gf.memAddress.resize(static_cast<std::size_t>(c));
          for (std::int32_t at = 0; at < c;) {
            std::int32_t k = c - at < 16384 ? c - at : 16384;
            gf.address->Read(at, gf.memAddress.data() + at, k);
            at += k;
          }
        }
        gf.fast = true;
      }
    } catch (const std::bad_alloc&) {
      loaded = false;
    }
  }
  if (!loaded) {
    // Not enough memory: the tables go and access stays on the files.
    DisableFastAccess();
    return;
  }
  fastOn_ = true;
  // Library lookups of bulk writes are answered from memory too.
  for (Base* lib : OpenLibrariesOf(this, pattern)) {
    if (lib == this || lib->GetFastAccess() != nullptr) continue;
    lib->EnableFastAccess(nullptr);
    fastLibraries_.push_back(lib);
  }
}

void NativeBase::DisableFastAccess() {
  for (Base* lib : fastLibraries_) lib->DisableFastAccess();
  fastLibraries_.clear();
  for (GroupFiles& gf : groupFiles_) {
    gf.fast = false;
    std::vector<std::uint8_t>().swap(gf.memData);
    std::vector<std::int32_t>().swap(gf.memAddress);
  }
  fastOn_ = false;
}

void* NativeBase::GetFastAccess() {
  return fastOn_ ? static_cast<void*>(groupFiles_.data()) : nullptr;
}

std::int32_t NativeBase::AppendAnother(Subset* subset, Base* destination, bool showProgress,
                                       std::int32_t copyLibraries, const std::int32_t* order) {
  if ((copyLibraries & 2) != 0) {
    return CopyRecordsTo(subset, destination, showProgress, copyLibraries & 1, order, 100);
  }
  // The bulk merge between native bases declines; the own copy below gives the same records.
  // The libraries of both sides answer from memory while it runs.
  std::vector<Base*> switched;
  auto enable = [&](Base* b) {
    for (Base* lib : OpenLibrariesOf(b, nullptr)) {
      if (lib->GetFastAccess() != nullptr) continue;
      lib->EnableFastAccess(nullptr);
      switched.push_back(lib);
    }
  };
  struct Restore {
    std::vector<Base*>* libs;
    ~Restore() {
      for (Base* lib : *libs) {
        try {
          lib->DisableFastAccess();
        } catch (...) {
        }
      }
    }
  } restore{&switched};
  enable(this);
  if (destination != this) enable(destination);
  return CopyRecordsTo(subset, destination, showProgress, copyLibraries & 1, order, 500);
}

}  // namespace ludrex
