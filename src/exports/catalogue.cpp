// The base-type catalogue for the host's file dialogs.
#include <cstring>

#include "exports/guard.h"
#include "frame/catalogue.h"
#include "frame/state.h"
#include "ludrex.h"
#include "storage/files.h"

using namespace ludrex;

namespace {
char* Out(const char* text) {
  return const_cast<char*>(ToExportBuffer(text, std::strlen(text)));
}
}  // namespace

extern "C" LUDREX_API int CPP_NBaseTypes(void) { return kNumBaseTypes; }

extern "C" LUDREX_API char* CPP_BaseTypeNameStr(int type) { return Out(BaseTypeLongName(type)); }

extern "C" LUDREX_API char* CPP_BaseShortTypeNameStr(int type) {
  return Out(BaseTypeShortName(type));
}

extern "C" LUDREX_API char* CPP_BaseExtStr(int type) { return Out(BaseTypeExtension(type)); }

extern "C" LUDREX_API int CPP_BaseTypeFlags(int type) { return BaseTypeFlags(type); }

extern "C" LUDREX_API char* CPP_BaseTempName(void) {
  return Guard<char*>(nullptr, [] {
    String name = TempBaseName();
    return const_cast<char*>(ToExportBuffer(name.Text(), name.Length()));
  });
}
