// The native base's own search: only the groups that hold a field with a criterion are read,
// each streamed through a large window in slot order, and each field tests its own bytes as it
// decodes them (a library field decides by record number, without its library).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/native/native_base.h"
#include "frame/error.h"
#include "search/search_plan.h"
#include "search/subset.h"

namespace ludrex {
namespace {

String View(const std::string& s) {
  return String(s.c_str(), static_cast<std::uint16_t>(s.size()));
}

}  // namespace

// A window over one group's data file, moved forward in large reads.
class NativeBase::GroupStream {
 public:
  static constexpr std::int32_t kChunk = 1 << 18;

  GroupStream(NativeBase& base, std::int32_t g) : base_(base), g_(g) {}

  // n bytes of the group data at at; record names the game for a damage report.
  const std::uint8_t* Get(std::int64_t at, std::int32_t n, std::int32_t record) {
    GroupFiles& gf = base_.groupFiles_[static_cast<std::size_t>(g_)];
    if (gf.fast) {
      if (at < 0 || at + n > static_cast<std::int64_t>(gf.memData.size())) Damaged(record);
      return gf.memData.data() + at;
    }
    if (at >= start_ && at + n <= start_ + valid_) return buf_.data() + (at - start_);
    std::int64_t end = base_.DataCount(g_);
    if (at < 0 || at + n > end) Damaged(record);
    std::int32_t want = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::max<std::int32_t>(n, kChunk), end - at));
    if (buf_.size() < static_cast<std::size_t>(want)) buf_.resize(static_cast<std::size_t>(want));
    base_.ReadData(g_, at, buf_.data(), want, record);
    start_ = at;
    valid_ = want;
    return buf_.data();
  }

  // How many bytes of the group data there are from at on.
  std::int64_t Available(std::int64_t at) {
    GroupFiles& gf = base_.groupFiles_[static_cast<std::size_t>(g_)];
    std::int64_t end = gf.fast ? static_cast<std::int64_t>(gf.memData.size()) : base_.DataCount(g_);
    return end - at;
  }

  [[noreturn]] void Damaged(std::int32_t record) {
    std::string extra =
        base_.files_.NameOf(GroupExtension('d', g_).c_str()) + ", " + std::to_string(record);
    Raise(946, extra.c_str());
  }

 private:
  NativeBase& base_;
  std::int32_t g_;
  std::vector<std::uint8_t> buf_;
  std::int64_t start_ = 0;
  std::int32_t valid_ = 0;
};

std::int32_t NativeBase::SearchByRecords(Subset* subset, CriteriaList* criteria, std::int32_t) {
  if (subset == nullptr || criteria == nullptr) Raise(805);
  Record& record = criteria->SearchRecord();
  const std::int32_t fieldCount = record.Count();

  // Which base field each search field reads, and the groups that hold them.
  struct Wanted {
    std::int32_t field;  // index into the search record
    std::int32_t member;  // index of the base field within its group
    String param;
  };
  struct GroupPlan {
    std::int32_t g;
    std::vector<Wanted> fields;
    std::unique_ptr<GroupStream> stream;
    std::int32_t varCount = 0;
  };
  std::vector<GroupPlan> plans;
  for (std::int32_t i = 0; i < fieldCount; ++i) {
    std::int32_t j = MatchField(record, i);
    if (j < 0) continue;
    const NativeField& f = fields_[static_cast<std::size_t>(j)];
    if (record[i].TypeCode() != f.spec.type) continue;
    GroupPlan* plan = nullptr;
    for (auto& p : plans) {
      if (p.g == f.group) plan = &p;
    }
    if (plan == nullptr) {
      plans.push_back(GroupPlan{f.group, {}, std::make_unique<GroupStream>(*this, f.group), 0});
      plan = &plans.back();
      const NativeGroup& grp = groups_[static_cast<std::size_t>(f.group)];
      for (std::int32_t k = 0; k < grp.count; ++k) {
        if (fields_[static_cast<std::size_t>(grp.first + k)].kind != kStorageFixed)
          ++plan->varCount;
      }
    }
    plan->fields.push_back(Wanted{i, j - groups_[static_cast<std::size_t>(f.group)].first,
                                  View(params_[static_cast<std::size_t>(j)])});
  }
  // Offsets of the fields within an all-fixed group's data.
  std::vector<std::vector<std::int32_t>> fixedOffset(plans.size());
  for (std::size_t p = 0; p < plans.size(); ++p) {
    const NativeGroup& grp = groups_[static_cast<std::size_t>(plans[p].g)];
    std::int32_t at = 0;
    for (std::int32_t k = 0; k < grp.count; ++k) {
      fixedOffset[p].push_back(at);
      at += fields_[static_cast<std::size_t>(grp.first + k)].size;
    }
  }
  std::vector<std::int32_t> length, offset;

  std::int32_t n = subset->CurLength();
  SearchProgress progress(n);
  std::int32_t done = 0, hits = 0;
  struct StopScan {
    Subset& s;
    ~StopScan() { s.SeqStop(); }
  } stopScan{*subset};
  std::int32_t r = subset->SeqInitBase(0);
  while (r >= 0) {
    if (progress.Step(done, hits)) {
      subset->SeqStop();
      subset->ExcludeRange(r, subset->MaxLength() - r);
      return hits;
    }
    if (r >= recordCount_) Raise(903);
    criteria->Reset();
    std::int32_t s = slots_.SlotOf(r);
    for (std::size_t p = 0; p < plans.size(); ++p) {
      GroupPlan& plan = plans[p];
      const NativeGroup& grp = groups_[static_cast<std::size_t>(plan.g)];
      if (grp.allFixed) {
        const std::uint8_t* data =
            plan.stream->Get(static_cast<std::int64_t>(s) * grp.totalSize, grp.totalSize, r);
        for (const Wanted& w : plan.fields) {
          const NativeField& f = fields_[static_cast<std::size_t>(grp.first + w.member)];
          record[w.field].Decode(kNativeBase, data + fixedOffset[p][static_cast<std::size_t>(w.member)],
                                 f.size, w.param);
        }
        continue;
      }
      std::int64_t address = ResolveAddress(plan.g, s, nullptr);
      if (address < 0) {
        // No data in this group: every field reads as its empty value.
        for (const Wanted& w : plan.fields) {
          const ByteBlock& empty = EmptyBody(grp.first + w.member);
          record[w.field].Decode(kNativeBase, empty.Data(), empty.Count(), w.param);
        }
        continue;
      }
      // The size header: a base-128 length for each variable field.
      std::int64_t avail = plan.stream->Available(address);
      if (avail <= 0) plan.stream->Damaged(r);
      std::int32_t headMax = static_cast<std::int32_t>(
          std::min<std::int64_t>(4 * static_cast<std::int64_t>(plan.varCount), avail));
      const std::uint8_t* head = plan.stream->Get(address, headMax, r);
      length.assign(static_cast<std::size_t>(grp.count), 0);
      offset.assign(static_cast<std::size_t>(grp.count), 0);
      std::int32_t pos = 0;
      for (std::int32_t k = 0; k < grp.count; ++k) {
        const NativeField& f = fields_[static_cast<std::size_t>(grp.first + k)];
        if (f.kind == kStorageFixed) {
          length[static_cast<std::size_t>(k)] = f.size;
          continue;
        }
        std::uint32_t v = 0;
        for (std::int32_t b = 0;; ++b) {
          if (b >= 4 || pos >= headMax) plan.stream->Damaged(r);
          std::uint8_t c = head[pos++];
          v |= static_cast<std::uint32_t>(c & 0x7F) << (7 * b);
          if ((c & 0x80) == 0) break;
        }
        length[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(v);
      }
      std::int64_t total = 0;
      for (std::int32_t k = 0; k < grp.count; ++k) {
        offset[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(total);
        total += length[static_cast<std::size_t>(k)];
      }
      if (total > 0x7FFFFFFF - pos || total + pos > avail) plan.stream->Damaged(r);
      const std::uint8_t* body = plan.stream->Get(address + pos, static_cast<std::int32_t>(total), r);
      for (const Wanted& w : plan.fields) {
        record[w.field].Decode(kNativeBase, body + offset[static_cast<std::size_t>(w.member)],
                               length[static_cast<std::size_t>(w.member)], w.param);
      }
    }
    ++done;
    if (criteria->Matches()) {
      ++hits;
      r = subset->SeqNext();
    } else {
      r = subset->SeqNextExclude();
    }
  }
  return hits;
}

}  // namespace ludrex
