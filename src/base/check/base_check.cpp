// The check of a native base: its header, the presence of its files, its libraries, and for
// every record that its slot and address entries point inside the files. The files are read
// directly, so a base too damaged to open can still be checked.
#include "base/check/base_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/native/native_base.h"
#include "base/native/native_files.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "frame/state.h"
#include "search/subset.h"
#include "storage/array.h"
#include "storage/files.h"
#include "storage/volume.h"

namespace ludrex {
namespace {

constexpr std::int32_t kNoData = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t kPiece = 65535;

// Finding codes (their texts are in the message table).
enum : std::uint32_t {
  kTitle = 2010,
  kMissingFile = 2011,
  kWrongMark = 2012,
  kKeyField = 2013,
  kEmptySlotMap = 2014,
  kChecking = 2016,
  kRecord = 2017,
  kBeyondSlotMap = 2018,
  kFixedAddress = 2019,
  kMismatchWarning = 2020,
  kOverflowBeyond = 2021,
  kNoDataEntry = 2022,
  kFinished = 2023,
  kStopped = 2024,
  kSound = 2025,
  kDamaged = 2026,
  kNegativeCount = 2027,
  kCritical = 2028,
  kSlotBeyondAddress = 2029,
  kNoVolume = 2030,
  kCannotOpen = 2031,
};

// Reads a whole file (read-only, sharing reads with an open base).
std::vector<std::uint8_t> ReadWholeFile(const std::string& name) {
  ArrayHandle a(NewFileArray(-1, name.c_str(), platform::kFlagSequential, platform::kAccessRead,
                             platform::kShareRead));
  a->Init(1);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(a->Count()));
  for (std::int32_t at = 0; at < a->Count();) {
    std::int32_t n = std::min(a->Count() - at, kPiece);
    a->Read(at, bytes.data() + at, n);
    at += n;
  }
  return bytes;
}

bool Present(const std::string& name) { return FileExists(name.c_str()) || IsDirectory(name.c_str()); }

std::int64_t SizeOf(const std::string& name) {
  return FileExists(name.c_str()) ? static_cast<std::int64_t>(FileSize(name.c_str())) : 0;
}

// The volume's format text sits at offset 64 of its first 128 bytes.
bool LooksLikeVolume(const std::string& name) {
  if (!FileExists(name.c_str()) || FileSize(name.c_str()) < 512) return false;
  ArrayHandle a(NewFileArray(-1, name.c_str(), platform::kFlagNone, platform::kAccessRead,
                             platform::kShareRead));
  a->Init(1);
  char head[128] = {};
  a->Read(0, head, 128);
  std::size_t len = strnlen(head + 64, 64);
  return len == std::strlen(Volume::kFormatText) &&
         std::memcmp(head + 64, Volume::kFormatText, len) == 0;
}

class Checker {
 public:
  Checker(const String& name, const char* logName, Subset* subset, const CheckOptions& options)
      : name_(name.Text(), name.Length()), subset_(subset), options_(options) {
    std::string log;
    if (logName != nullptr) {
      log = logName;
    } else {
      log = ProgramPath;
      if (!log.empty() && log.back() != platform::kPathSeparator && log.back() != '/') {
        log += platform::kPathSeparator;
      }
      log += "Test.log";
    }
    // A name the log cannot hold would send the lines elsewhere: no log then.
    if (log.empty() || log.size() >= 256) log_.SetEnabled(false);
    log_.SetName(log.c_str());
  }

  int Run() {
    Log(kChecking, name_.c_str());
    int result = 0;
    try {
      if (!Structure()) {
        Log(kCritical);
      } else {
        result = Records();
      }
    } catch (const Failure&) {
      // Reported through Error where the file failed; the log says the check could not go on.
      Log(kCritical);
      result = 0;
    }
    log_.Flush();
    return result;
  }

 private:
  struct Group {
    std::int32_t count = 0;
    bool allFixed = true;
    std::int64_t totalSize = 0;
    ArrayHandle address;  // groups that are not all-fixed
    std::int32_t addressCount = 0;
    std::int64_t dataLength = 0;
  };

  std::string File(const char* ext) const { return name_ + ext; }

  void Log(std::uint32_t code) { log_.Line(MessageTextPtr(code)); }
  void Log(std::uint32_t code, const char* text) {
    char line[600];
    std::snprintf(line, sizeof line, MessageTextPtr(code), text);
    log_.Line(line);
  }
  void Log(std::uint32_t code, std::int32_t value) {
    char line[600];
    std::snprintf(line, sizeof line, MessageTextPtr(code), static_cast<int>(value));
    log_.Line(line);
  }
  void Missing(const char* ext) { Log(kMissingFile, ext); }

  // The header, the files, the libraries and the group files; false on a critical finding.
  bool Structure() {
    if (!FileExists(File(".kvx").c_str())) {
      Missing(".kvx");
      return false;
    }
    std::vector<std::uint8_t> header = ReadWholeFile(File(".kvx"));
    if (header.size() < 112) Raise(945, File(".kvx").c_str());
    std::size_t markLength = strnlen(reinterpret_cast<const char*>(header.data() + 50), 50);
    if (markLength != std::strlen(kNativeFormatMark) ||
        std::memcmp(header.data() + 50, kNativeFormatMark, markLength) != 0) {
      Log(kWrongMark, ".kvx");
    }
    std::int32_t count;
    std::memcpy(&count, header.data() + 104, 4);  // little-endian on every target
    if (count < 0) {
      Log(kNegativeCount);
      return false;
    }
    count_ = count;
    if (subset_ != nullptr) {
      std::int32_t n = std::min(count_, subset_->MaxLength());
      if (n > 0) subset_->ExcludeRange(0, n);
    }
    // The field list: the header read past its format mark, which was reported above.
    std::vector<std::uint8_t> patched = header;
    std::memset(patched.data() + 50, 0, 50);
    std::memcpy(patched.data() + 50, kNativeFormatMark, std::strlen(kNativeFormatMark));
    NativeHeader parsed;
    std::string mark;
    ParseNativeHeader(patched, parsed, mark);
    std::vector<NativeField> fields = std::move(parsed.fields);
    std::stable_sort(fields.begin(), fields.end(), [](const NativeField& a, const NativeField& b) {
      return a.group != b.group ? a.group < b.group : a.ordinal < b.ordinal;
    });
    for (const NativeField& f : fields) {
      if ((f.spec.flags & kFlagKey) != 0) Log(kKeyField);
    }

    // The files every native base has.
    bool missing = false;
    for (const char* ext : {".axx", ".dxx", ".emb"}) {
      if (!Present(File(ext))) {
        Missing(ext);
        missing = true;
      }
    }
    if (missing) return false;
    if (!LoadSlotMap()) return false;
    if (options_.checkLibraries && !Libraries()) return false;

    // Groups and their files.
    std::int32_t groupCount = fields.empty() ? 0 : fields.back().group + 1;
    groups_.resize(static_cast<std::size_t>(groupCount));
    for (const NativeField& f : fields) {
      Group& g = groups_[static_cast<std::size_t>(f.group)];
      ++g.count;
      if (f.kind != kStorageFixed) g.allFixed = false;
      g.totalSize += f.kind == kStorageFixed ? f.size : 0;
    }
    for (std::int32_t g = 0; g < groupCount; ++g) {
      Group& grp = groups_[static_cast<std::size_t>(g)];
      std::string a = GroupExtension('a', g), d = GroupExtension('d', g);
      if (!grp.allFixed && !FileExists(File(a.c_str()).c_str())) {
        Missing(a.c_str());
        missing = true;
      }
      if (!FileExists(File(d.c_str()).c_str())) {
        Missing(d.c_str());
        missing = true;
      }
    }
    if (missing) return false;
    for (std::int32_t g = 0; g < groupCount; ++g) {
      Group& grp = groups_[static_cast<std::size_t>(g)];
      grp.dataLength = SizeOf(File(GroupExtension('d', g).c_str()));
      if (grp.allFixed) continue;
      std::string a = File(GroupExtension('a', g).c_str());
      grp.address = ArrayHandle(NewBufArray(
          NewFileArray(-1, a.c_str(), platform::kFlagSequential, platform::kAccessRead,
                       platform::kShareRead),
          5000, 5000));
      grp.address->Init(4);
      grp.addressCount = grp.address->Count();
    }
    return true;
  }

  // The slot map in memory; false when it cannot be opened (2031).
  bool LoadSlotMap() {
    std::string axx = File(".axx");
    if (FileExists(axx.c_str()) && FileSize(axx.c_str()) == 0) {
      Log(kEmptySlotMap, ".axx");
      return true;
    }
    if (IsDirectory(axx.c_str())) {
      Log(kCannotOpen, ".axx");
      return false;
    }
    try {
      slots_ = ReadWholeFile(axx);
    } catch (const Failure&) {
      Log(kCannotOpen, ".axx");
      return false;
    }
    // The map ends with its last set bit: trailing zero bytes hold no slot.
    while (!slots_.empty() && slots_.back() == 0) slots_.pop_back();
    for (std::uint8_t b : slots_) {
      for (std::uint8_t v = b; v != 0; v &= static_cast<std::uint8_t>(v - 1)) ++slotRecords_;
    }
    return true;
  }

  // The embedded bases in the ".emb" volume: each must have its key order.
  bool Libraries() {
    std::string emb = File(".emb");
    std::unique_ptr<Volume> volume;
    if (LooksLikeVolume(emb)) {
      try {
        volume.reset(Volume::Open(emb.c_str()));
      } catch (const Failure&) {
        volume.reset();
      }
    }
    if (!volume) {
      Log(kNoVolume);
      return false;
    }
    std::vector<std::string> names;
    for (VolumeFind* f = volume->FindFirst(kVolumeFile, 0); f != nullptr;
         f = volume->FindNext(f)) {
      std::string n(f->name.Text(), f->name.Length());
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".kvx") == 0) {
        names.push_back(n.substr(0, n.size() - 4));
      }
    }
    bool sound = true;
    for (const std::string& lib : names) {
      Log(kChecking, lib.c_str());
      if (!volume->NameExists((lib + ".iii").c_str(), kVolumeFile, 0)) {
        Missing(".iii");
        sound = false;
      }
    }
    volume->Close();
    return sound;
  }

  // The slot of the next record: the next set bit of the map from slot from on, or -1.
  std::int32_t NextSlot(std::int32_t from) const {
    std::int64_t bits = static_cast<std::int64_t>(slots_.size()) * 8;
    for (std::int64_t s = from; s < bits;) {
      std::uint8_t b = slots_[static_cast<std::size_t>(s / 8)];
      std::uint8_t rest = static_cast<std::uint8_t>(b & (0xFF >> (s % 8)));
      if (rest == 0) {
        s = (s / 8 + 1) * 8;
        continue;
      }
      std::int32_t bit = 0;
      while ((rest & (0x80 >> bit)) == 0) ++bit;
      return static_cast<std::int32_t>((s / 8) * 8 + bit);
    }
    return -1;
  }

  void Finding(std::int32_t r, std::uint32_t code) {
    Log(kRecord, r + 1);
    Log(code);
  }
  void Finding(std::int32_t r, std::uint32_t code, std::int32_t group) {
    Log(kRecord, r + 1);
    Log(code, group);
  }
  void NoData(std::int32_t r, std::int32_t g) {
    Finding(r, kNoDataEntry, g);
    if (!warned_) {
      Log(kMismatchWarning);
      warned_ = true;
    }
  }

  // Checks record r at slot s; true when it passes.
  bool CheckRecord(std::int32_t r, std::int32_t s) {
    if (r >= slotRecords_ || s < 0) {
      Finding(r, kBeyondSlotMap);
      stopped_ = true;
      return false;
    }
    bool pass = true;
    for (std::size_t gi = 0; gi < groups_.size(); ++gi) {
      Group& g = groups_[gi];
      std::int32_t group = static_cast<std::int32_t>(gi);
      if (g.allFixed) {
        // A group without fields (group 00 of a base that has only strings) holds no data.
        if (g.count == 0) continue;
        if (static_cast<std::int64_t>(s) * g.totalSize >= g.dataLength) {
          Finding(r, kFixedAddress);
          stopped_ = true;
          pass = false;
        }
        continue;
      }
      if (s >= g.addressCount) {
        Finding(r, kSlotBeyondAddress, group);
        stopped_ = true;
        pass = false;
        continue;
      }
      auto e = static_cast<std::int32_t>(g.address->GetLong(s));
      if (e == kNoData) {
        NoData(r, group);
        pass = false;
      } else if (e < 0) {
        std::int32_t j = -e;
        if (j >= g.addressCount) {
          Finding(r, kOverflowBeyond);
          pass = false;
        } else if (static_cast<std::int32_t>(g.address->GetLong(j)) == kNoData) {
          NoData(r, group);
          pass = false;
        }
      }
    }
    return pass;
  }

  // The record check; 1 when no record failed.
  int Records() {
    bool damaged = false;
    {
      std::optional<ProgressScope> progress;
      if (options_.showProgress) progress.emplace(MessageTextPtr(kTitle), 1);
      std::int32_t passFrom = -1;  // a run of passing records not yet added to the subset
      auto addRun = [&](std::int32_t end) {
        if (subset_ != nullptr && passFrom >= 0) {
          std::int32_t stop = std::min(end, subset_->MaxLength());
          if (stop > passFrom) subset_->IncludeRange(passFrom, stop - passFrom);
        }
        passFrom = -1;
      };
      std::int32_t slot = -1;
      std::int32_t r = 0;
      for (; r < count_ && !stopped_; ++r) {
        if (options_.showProgress && ProgressStep(r, count_) != 0) {
          stopped_ = true;
          break;
        }
        if (slot != -2) slot = NextSlot(slot + 1);
        if (slot < 0) slot = -2;  // past the map: every later record fails the same way
        if (CheckRecord(r, slot)) {
          if (passFrom < 0) passFrom = r;
        } else {
          addRun(r);
          damaged = true;
        }
      }
      addRun(r);
    }
    Log(damaged ? kDamaged : kSound);
    Log(stopped_ ? kStopped : kFinished);
    return damaged ? 0 : 1;
  }

  std::string name_;
  Subset* subset_;
  CheckOptions options_;
  LogFile log_;
  std::int32_t count_ = 0;
  std::vector<std::uint8_t> slots_;
  std::int32_t slotRecords_ = 0;
  std::vector<Group> groups_;
  bool stopped_ = false;
  bool warned_ = false;
};

}  // namespace

int CheckNativeBase(const String& name, const char* logName, Subset* subset,
                    const CheckOptions& options) {
  Checker checker(name, logName, subset, options);
  return checker.Run();
}

}  // namespace ludrex
