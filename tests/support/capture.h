// Captures what the library shows or reports, so that no unit test opens a dialog or ends the
// process: message boxes through the platform hook, fatal errors through the error function.
#pragma once

#include <string>
#include <vector>

#include "frame/callbacks.h"
#include "frame/error.h"
#include "platform/platform.h"

namespace ludrex::testing {

struct Captured {
  std::vector<std::string> boxes;     // message-box texts
  std::vector<std::string> captions;  // their captions
  std::vector<unsigned> styles;
  std::vector<std::string> errors;  // texts given to the error function
};

inline Captured& Capture() {
  static Captured c;
  return c;
}

// While alive: boxes and fatal errors are recorded, the message table is built.
class CaptureScope {
 public:
  CaptureScope() {
    Capture() = Captured{};
    platform::SetMessageBoxHook([](const char* text, const char* caption, unsigned style) {
      Capture().boxes.emplace_back(text);
      Capture().captions.emplace_back(caption);
      Capture().styles.push_back(style);
      return 1;
    });
    Callbacks().error = [](const char* text) { Capture().errors.emplace_back(text); };
    BuildMessageTable();
  }
  ~CaptureScope() {
    platform::SetMessageBoxHook(nullptr);
    Callbacks().error = nullptr;
  }
  CaptureScope(const CaptureScope&) = delete;
  CaptureScope& operator=(const CaptureScope&) = delete;
};

// The error code of the last fatal error reported ("Error # N..."), or 0.
inline unsigned LastErrorCode() {
  if (Capture().errors.empty()) return 0;
  return static_cast<unsigned>(std::stoul(Capture().errors.back().substr(8)));
}

}  // namespace ludrex::testing
