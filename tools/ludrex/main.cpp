// ludrex: the command-line host of the library. It uses only the public header.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ludrex.h"
#include "progress.h"
#include "text.h"

namespace {

const char* kVersion = "0.1.0";
std::string g_last_error;

void LUDREX_CDECL OnError(const char* text) { g_last_error = text; }

int Usage() {
  std::fputs(
      "usage: ludrex <command> [arguments]\n"
      "  version          print the version of the command\n"
      "  message CODE     print the library's text for an error code\n",
      stderr);
  return 2;
}

int CmdMessage(int argc, char** argv) {
  if (argc < 3) return Usage();
  char* end = nullptr;
  long code = std::strtol(argv[2], &end, 10);
  if (*end != 0 || code < 0 || code > 65535) {
    std::fprintf(stderr, "ludrex: not an error code: %s\n", argv[2]);
    return 2;
  }
  SetErrorFunction(OnError);
  Error(static_cast<unsigned short>(code), nullptr, 1);
  std::puts(ludrex_tool::Cp1251ToUtf8(g_last_error).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  CPP_Startup();
  ludrex_tool::InstallProgress(false);
  int rc;
  if (std::strcmp(argv[1], "version") == 0) {
    std::printf("ludrex %s\n", kVersion);
    rc = 0;
  } else if (std::strcmp(argv[1], "message") == 0) {
    rc = CmdMessage(argc, argv);
  } else {
    rc = Usage();
  }
  CPP_Done();
  return rc;
}
