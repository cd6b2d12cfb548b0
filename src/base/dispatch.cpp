#include "base/dispatch.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/registry.h"
#include "frame/catalogue.h"
#include "frame/error.h"
#include "frame/state.h"
#include "platform/files.h"
#include "storage/array.h"
#include "storage/files.h"

namespace ludrex {
namespace {

BaseFormat g_formats[kNumBaseTypes] = {};

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }
String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}

void CheckType(std::int32_t type) {
  if (type >= kNumBaseTypes || type < 0) Raise(901);
}

BaseRegistry& Reg() {
  if (Registry() == nullptr) CreateRegistry();
  return *Registry();
}

// Registers the embedded bases of base (entry index) under "<registered name>,<embedded>".
void RegisterEmbedded(Base* base, const std::string& registered, std::int32_t type,
                      std::int32_t root) {
  std::int32_t n = base->EmbeddedBaseCount();
  for (std::int32_t i = 0; i < n; ++i) {
    String embedded = base->EmbeddedBaseName(i);
    Base* child = base->OpenEmbedded(embedded);
    std::string full = registered + "," + Str(embedded);
    Reg().Register(type, Own(full), child, root);
    RegisterEmbedded(child, full, type, root);
  }
}

// Looks up the full requested name after its group was registered; 914 when missing.
Base* LookupRegistered(std::int32_t type, const String& name) {
  Base* found = Reg().Lookup(type, name);
  if (found == nullptr) Raise(914);
  return found;
}

std::string Base36(std::uint32_t v, int digits) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = kDigits[v % 36];
    v /= 36;
  }
  return out;
}

// Reads a reference file: its base type and the name of the base it stands for.
bool ReadReference(const std::string& file, std::int32_t& type, std::string& name) {
  ArrayHandle a(NewFileArray(-1, file.c_str(), platform::kFlagNone, platform::kAccessRead,
                             platform::kShareRead));
  a->Init(1);
  if (a->Count() < 8) return false;
  std::int32_t header[2];
  a->Read(0, header, 8);
  if (header[1] < 0 || header[1] > a->Count() - 8) return false;
  type = header[0];
  name.resize(static_cast<std::size_t>(header[1]));
  if (header[1] > 0) a->Read(8, name.data(), header[1]);
  return true;
}

// A read-only main file is served through a reference file in the program's "CD-Refer"
// directory, found again by the base's type and name or made afresh.
Base* OpenThroughReference(const String& name, std::int32_t type, const std::string& mainFile) {
  std::string dir = std::string(ProgramPath) + "CD-Refer";
  if (!IsDirectory(dir.c_str())) CreateDir(dir.c_str());
  std::string stem = dir + platform::kPathSeparator + Base36(FileStamp(mainFile.c_str()), 6);
  std::string wanted = Str(name);
  std::string pattern = stem + "*.ror";
  for (FileSearch* s = FileSearch::First(pattern.c_str()); s != nullptr; s = FileSearch::Next(s)) {
    std::string file = dir + platform::kPathSeparator + Str(s->FoundName());
    std::int32_t storedType = -1;
    std::string storedName;
    if (ReadReference(file, storedType, storedName) && storedType == type && storedName == wanted) {
      FileSearch::Close(s);
      return OpenBase(Own(file.substr(0, file.size() - 4)), kTypeReference);
    }
  }
  std::string refName;
  for (std::uint32_t k = 0; k < 36 * 36; ++k) {
    std::string candidate = stem + Base36(k, 2);
    if (!FileExists((candidate + ".ror").c_str())) {
      refName = candidate;
      break;
    }
  }
  if (refName.empty()) Raise(506, (stem + "*.ror").c_str());
  {
    ArrayHandle a(NewFileArray(0, (refName + ".ror").c_str()));
    a->Init(1);
    std::int32_t header[2] = {type, static_cast<std::int32_t>(wanted.size())};
    a->Write(0, header, 8);
    if (!wanted.empty()) a->Write(8, wanted.data(), static_cast<std::int32_t>(wanted.size()));
  }
  const char digit = static_cast<char>('0' + type);
  for (const char* ext : {".bo", ".st"}) {
    std::string companion = wanted + ext + digit;
    if (FileExists(companion.c_str())) {
      CopyFileContents((refName + ext + "4").c_str(), companion.c_str());
    }
  }
  return OpenBase(Own(refName), kTypeReference);
}

}  // namespace

void SetBaseFormat(std::int32_t type, const BaseFormat& format) {
  if (type >= 0 && type < kNumBaseTypes) g_formats[type] = format;
}

String MainFileName(const String& name, std::int32_t type) {
  std::string n = Str(name);
  std::size_t comma = n.find(',');
  if (comma != std::string::npos) n.resize(comma);
  return Own(n + BaseTypeExtension(type));
}

Base* OpenBase(const String& name, std::int32_t type) {
  CheckType(type);
  if (name.Length() == 0) Raise(913);
  std::string full = Str(name);
  std::string container = full.substr(0, full.find(','));
  std::string mainFile = container + BaseTypeExtension(type);
  if (!FileExists(mainFile.c_str())) Raise(503, mainFile.c_str());
  if (type != kTypeReference && IsReadOnly(mainFile.c_str())) {
    // The library of a read-only base that a reference base opened already: the library fields
    // of the target's records ask for it under the target's own name.
    if (full.find(',') != std::string::npos) {
      if (Base* open = Reg().Lookup(type, name)) return open;
    }
    return OpenThroughReference(name, type, mainFile);
  }
  return OpenBaseDirect(name, type);
}

Base* OpenBaseDirect(const String& name, std::int32_t type) {
  CheckType(type);
  if (name.Length() == 0) Raise(913);
  std::string full = Str(name);
  std::string container = full.substr(0, full.find(','));
  if (Base* open = Reg().Lookup(type, name)) return open;
  if (container.size() != full.size()) {
    // The container is open and has no embedded base of that name: opening the container a
    // second time (its files are held exclusively) cannot find one either.
    if (Base* open = Reg().Lookup(type, Own(container))) {
      Reg().Close(open);  // the lookup raised its counts
      Raise(914, full.c_str());
    }
  }
  const BaseFormat& format = g_formats[type];
  if (format.open == nullptr) Raise(901);
  Base* base = format.open(Own(container));
  if (base == nullptr) return nullptr;
  if (!base->IsOpen()) {
    delete base;
    return nullptr;
  }
  std::int32_t root = Reg().Register(type, Own(container), base, -1);
  try {
    RegisterEmbedded(base, container, type, root);
  } catch (...) {
    // Undo the group: nothing of it was handed out.
    Reg().Lookup(type, Own(container));
    Reg().Close(base);
    throw;
  }
  Base* found = Reg().Lookup(type, name);
  if (found == nullptr) {
    // The group stays registered with no opens; close it so nothing is left behind.
    Reg().Lookup(type, Own(container));
    Reg().Close(base);
    Raise(914);
  }
  return found;
}

Base* CreateBase(const String& name, const RecordPattern& pattern, std::int32_t type) {
  CheckType(type);
  if (name.Length() == 0) Raise(913);
  if (Base* open = Reg().Lookup(type, name)) {
    Reg().Close(open);  // the lookup raised its counts
    Raise(917);
  }
  EraseBase(name, type);
  std::string full = Str(name);
  std::size_t comma = full.rfind(',');
  if (comma == std::string::npos) {
    const BaseFormat& format = g_formats[type];
    if (format.create == nullptr) Raise(907);
    Base* base = format.create(name, pattern);
    if (base == nullptr) return nullptr;
    if (!base->IsOpen()) {
      delete base;
      return nullptr;
    }
    std::int32_t root = Reg().Register(type, name, base, -1);
    RegisterEmbedded(base, full, type, root);
    return LookupRegistered(type, name);
  }
  Base* container = OpenBase(Own(full.substr(0, comma)), type);
  if (container == nullptr) return nullptr;
  Base* result = nullptr;
  try {
    String embeddedName = Own(full.substr(comma + 1));
    Base* created = container->CreateEmbedded(embeddedName, pattern);
    std::int32_t root = Reg().RootOf(container);
    Reg().Register(type, name, created, root);
    RegisterEmbedded(created, full, type, root);
    result = LookupRegistered(type, name);
  } catch (...) {
    Reg().Close(container);
    throw;
  }
  Reg().Close(container);  // the new embedded base keeps the group open
  return result;
}

Base* OpenEmbeddedBase(Base* container, const String& name) {
  std::int32_t i = Reg().IndexOf(container);
  if (i < 0) Raise(914);
  std::string full = Str(Reg().At(i).name) + "," + Str(name);
  return OpenBase(Own(full), container->Type());
}

Base* CreateEmbeddedBase(Base* container, const String& name, const RecordPattern& pattern) {
  std::int32_t i = Reg().IndexOf(container);
  if (i < 0) Raise(914);
  std::string full = Str(Reg().At(i).name) + "," + Str(name);
  return CreateBase(Own(full), pattern, container->Type());
}

void CloseBase(Base* base) { Reg().Close(base); }

void EraseBase(const String& name, std::int32_t type) {
  CheckType(type);
  std::string n = Str(name);
  const char digit = static_cast<char>('0' + type);
  auto remove = [&](const std::string& file) {
    if (FileExists(file.c_str())) RemoveFile(file.c_str());
  };
  for (const char* ext : {".ti", ".td", ".ue", ".uh", ".fe", ".fh"}) remove(n + ext + digit);
  static const char* const kNative[] = {".kvx", ".emb", ".iii", ".axx", ".dxx"};
  static const char* const kDos[] = {".bfi", ".lib", ".idx", ".bgh", ".bba", ".bgb", ".bma", ".bgm",
                                     ".bis", ".bim", ".bid", ".bic", ".ndx", ".dsc", ".bdy", ".bhs",
                                     ".bhm", ".bhe", ".boa", ".bob", ".bsa", ".bsb", ".bgr"};
  static const char* const kCbh[] = {".cba", ".cbc", ".cbd", ".cbg", ".cbh", ".cbp",
                                     ".cbs", ".cbt", ".cko", ".cpo", ".ini"};
  switch (type) {
    case kTypeNative:
      for (const char* ext : kNative) remove(n + ext);
      for (int k = 0; k <= 98; ++k) {
        char a[8], d[8];
        std::snprintf(a, sizeof a, ".a%02d", k);
        std::snprintf(d, sizeof d, ".d%02d", k);
        bool any = FileExists((n + a).c_str()) || FileExists((n + d).c_str());
        if (!any) break;
        remove(n + a);
        remove(n + d);
      }
      break;
    case kTypeDos:
      for (const char* ext : kDos) remove(n + ext);
      break;
    case kTypePgn:
      remove(n + ".pgn");
      break;
    case kTypeCbf:
      remove(n + ".cbf");
      remove(n + ".cbi");
      break;
    case kTypeReference:
      remove(n + ".ror");
      break;
    case kTypeCbh:
      for (const char* ext : kCbh) remove(n + ext);
      break;
    default:
      remove(n + ".zip");
      break;
  }
}

void GetShortInfo(std::int32_t type, const String& name, ShortInfo& out) {
  CheckType(type);
  out.text = String(static_cast<const char*>(nullptr));
  out.count = -1;
  if (Base* open = Reg().Lookup(type, name)) {
    try {
      BaseInfo info;
      open->GetInfo(info);
      out.text = String::Copy(info.description.Text(), info.description.Length());
      out.count = open->RecordCount();
    } catch (...) {
      Reg().Close(open);
      throw;
    }
    Reg().Close(open);
    return;
  }
  const BaseFormat& format = g_formats[type];
  if (format.shortInfo != nullptr) format.shortInfo(name, out);
}

}  // namespace ludrex
