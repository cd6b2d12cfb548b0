// How library-reference fields reach their libraries: through the registry of open bases.
#include "base/library_link.h"

#include <cstring>
#include <string>


#include "base/base.h"
#include "base/dispatch.h"
#include "record/library_access.h"
#include "record/pattern.h"
#include "record/record.h"
#include "frame/error.h"

namespace ludrex {
namespace {

class RegistryLibraryAccess final : public LibraryAccess {
 public:
  Base* Open(std::int32_t type, const String& name) override {
    Base* b = OpenBase(name, type);
    if (b == nullptr) Raise(921, std::string(name.Text(), name.Length()).c_str());
    return b;
  }
  void Close(Base* library) override { CloseBase(library); }
  std::int32_t RecordCount(Base* library) override { return library->RecordCount(); }
  void Read(Base* library, std::int32_t n, Record& record) override { library->Read(n, record); }
  std::int32_t Write(Base* library, std::int32_t n, Record& record) override {
    return library->Write(n, record);
  }
  std::int32_t UnsortedFromSorted(Base* library, std::int32_t position) override {
    return library->UnsortedFromSorted(position);
  }
  std::int32_t AppendFind(Base* library, Record& record) override {
    return library->AppendByKey(record, kAppendRecord);
  }
  // A record linked to a base reaches its libraries under the type and second full name of the
  // base's information: for a reference base, those of the base it stands for.
  std::int32_t BaseType(Base* base) override {
    BaseInfo info;
    base->GetInfo(info);
    return info.type;
  }
  String SecondFullName(Base* base) override {
    BaseInfo info;
    base->GetInfo(info);
    return String::Copy(info.secondFullName.Text(), info.secondFullName.Length());
  }
  String LibraryFileName(Base* base, const String& fieldName) override {
    const RecordPattern& p = base->GetRecordPattern();
    for (std::int32_t i = 0; i < p.Count(); ++i) {
      if (p[i].type == 0 && p[i].name == fieldName) {
        return String::Copy(p[i].param.Text(), p[i].param.Length());
      }
    }
    return String(static_cast<const char*>(nullptr));
  }
};

RegistryLibraryAccess g_access;

}  // namespace

void InstallLibraryAccess() { SetLibraryAccess(&g_access); }

}  // namespace ludrex
