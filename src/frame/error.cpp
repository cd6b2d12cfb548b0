#include "frame/error.h"

#include <cstdio>
#include <cstring>

#include "frame/callbacks.h"
#include "platform/platform.h"
#include "storage/memory.h"
#include "storage/string.h"

namespace ludrex {
namespace {

struct MessageSource {
  std::uint32_t code;
  const char* utf8;
};

constexpr MessageSource kMessages[] = {
#include "frame/messages.inc"
};

struct MessageNode {
  std::uint32_t code;
  char* text;  // Windows-1251, NUL-terminated, from MemAlloc
};

// Built by start-up, freed by shut-down; plain pointers so no global constructor runs at load.
MessageNode* g_table = nullptr;
int g_table_size = 0;

}  // namespace

void BuildMessageTable() {
  if (g_table != nullptr) return;
  constexpr int n = static_cast<int>(sizeof kMessages / sizeof kMessages[0]);
  auto* table = static_cast<MessageNode*>(MemAlloc(sizeof(MessageNode) * n));
  for (int i = 0; i < n; ++i) {
    std::size_t len = std::strlen(kMessages[i].utf8);
    char* text = static_cast<char*>(MemAlloc(static_cast<std::int64_t>(len) + 1));
    std::size_t w = platform::Utf8ToCp1251(kMessages[i].utf8, len, text, len);
    text[w] = 0;
    table[i] = MessageNode{kMessages[i].code, text};
  }
  g_table = table;
  g_table_size = n;
}

void FreeMessageTable() {
  for (int i = 0; i < g_table_size; ++i) MemFree(g_table[i].text);
  MemFree(g_table);
  g_table = nullptr;
  g_table_size = 0;
}

int MessageTableSize() { return g_table_size; }

const char* MessageTextPtr(std::uint32_t code) {
  for (int i = 0; i < g_table_size; ++i) {
    if (g_table[i].code == code) return g_table[i].text;
  }
  return "";
}

String MessageText(std::uint32_t code) {
  const char* t = MessageTextPtr(code);
  return String::Copy(t, static_cast<std::uint32_t>(std::strlen(t)));
}

void ComposeError(std::uint16_t code, const char* extra, char (&out)[500]) {
  const char* text = MessageTextPtr(code);
  if (extra != nullptr) {
    std::snprintf(out, sizeof out, "Error # %u\n%s\n%s", static_cast<unsigned>(code), text, extra);
  } else {
    std::snprintf(out, sizeof out, "Error # %u\n%s", static_cast<unsigned>(code), text);
  }
}

void Raise(std::uint16_t code, const char* extra) {
  ::Error(code, const_cast<char*>(extra), 1);
  throw Failure{code};
}

void ReportFatal(std::uint16_t code, const char* extra) {
  ::Error(code, const_cast<char*>(extra), 1);
}

void Warn(std::uint16_t code, const char* extra) { ::Error(code, const_cast<char*>(extra), 0); }

}  // namespace ludrex

void Error(unsigned short code, char* extra, int fatal) {
  char text[500];
  ludrex::ComposeError(code, extra, text);
  ErrorFunction fn = ludrex::Callbacks().error;
  if (fn != nullptr && fatal != 0) {
    fn(text);
    return;
  }
  ludrex::platform::ShowMessageBox(text, "Database Driver",
                                   ludrex::platform::kMbIconStop | ludrex::platform::kMbTaskModal);
  if (fatal != 0) ludrex::platform::AbortProcess();
}
