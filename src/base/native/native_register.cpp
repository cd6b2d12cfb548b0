// Registration of the native format with the open/create dispatch, and the short information
// read from a header without opening the base.
#include <cstring>
#include <memory>
#include <string>

#include "base/dispatch.h"
#include "base/native/native_base.h"
#include "frame/error.h"
#include "storage/files.h"
#include "storage/volume.h"

namespace ludrex {

void NativeShortInfoFrom(Array* header, ShortInfo& out) {
  out.text = String(static_cast<const char*>(nullptr));
  out.count = -1;
  std::uint8_t head[112] = {};
  std::int32_t have = header->Count() < 112 ? header->Count() : 112;
  if (have > 0) header->Read(0, head, have);
  std::size_t len = 0;
  while (len < 50 && 50 + static_cast<std::int32_t>(len) < have && head[50 + len] != 0) ++len;
  if (len != std::strlen(kNativeFormatMark) ||
      std::memcmp(head + 50, kNativeFormatMark, len) != 0) {
    std::string text = std::string(MessageTextPtr(922)) + " Chess Korvanex 1.3";
    out.text = String::Copy(text.data(), static_cast<std::uint32_t>(text.size()));
    return;
  }
  if (have < 112) return;  // a header cut short: no count to give
  auto u32 = [&](int at) {
    return static_cast<std::uint32_t>(head[at]) | (static_cast<std::uint32_t>(head[at + 1]) << 8) |
           (static_cast<std::uint32_t>(head[at + 2]) << 16) |
           (static_cast<std::uint32_t>(head[at + 3]) << 24);
  };
  std::uint32_t d = u32(108);
  if (d > 65520 || static_cast<std::int64_t>(112) + d > header->Count()) return;
  std::string text(d, '\0');
  if (d > 0) header->Read(112, text.data(), static_cast<std::int32_t>(d));
  out.text = String::Copy(text.data(), d);
  out.count = static_cast<std::int32_t>(u32(104));
}

void RegisterNativeBase() {
  BaseFormat f{};
  f.open = [](const String& name) -> Base* { return new NativeBase(name, nullptr, std::string()); };
  f.create = [](const String& name, const RecordPattern& pattern) -> Base* {
    return new NativeBase(name, pattern, nullptr, std::string());
  };
  f.shortInfo = [](const String& name, ShortInfo& out) -> bool {
    std::string full(name.Text(), name.Length());
    std::size_t comma = full.find(',');
    if (comma != std::string::npos) {
      // An embedded base of a closed container: its header inside the container's volume.
      std::string emb = full.substr(0, comma) + ".emb";
      std::string member = full.substr(comma + 1) + ".kvx";
      if (!FileExists(emb.c_str())) return false;
      std::unique_ptr<Volume> volume(Volume::Open(emb.c_str()));
      if (!volume || !volume->NameExists(member.c_str(), kVolumeFile, 0)) return false;
      ArrayHandle a(new VolumeFileArray(-1, member.c_str(), volume.get(), 0));
      a->Init(1);
      NativeShortInfoFrom(a.Get(), out);
      return true;
    }
    std::string file = full + ".kvx";
    if (!FileExists(file.c_str())) return false;
    ArrayHandle a(NewFileArray(-1, file.c_str(), platform::kFlagNone, platform::kAccessRead,
                               platform::kShareRead));
    a->Init(1);
    NativeShortInfoFrom(a.Get(), out);
    return true;
  };
  SetBaseFormat(kNativeBase, f);
}

}  // namespace ludrex
