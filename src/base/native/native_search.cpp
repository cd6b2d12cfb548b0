// The native base's own search: only the groups that hold a field with a criterion are read,
// each streamed through a large window in slot order, and each field tests its own bytes as it
// decodes them (a library field decides by record number, without its library).
#include <algorithm>
#include <cstring>
#include <memory>
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
    if (at >= start_ && at + n <= start_ + valid_) return buf_.data() + (at - start_);
    return Load(at, n, record);
  }

  const std::uint8_t* Load(std::int64_t at, std::int32_t n, std::int32_t record) {
    GroupFiles& gf = base_.groupFiles_[static_cast<std::size_t>(g_)];
    if (gf.fast) {
      if (at < 0 || at + n > static_cast<std::int64_t>(gf.memData.size())) Damaged(record);
      return gf.memData.data() + at;
    }
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
  std::int64_t valid_ = 0;
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

  // Every field that has a native test is tested on its bytes; the others decode through their
  // hook (UnpackAndTest) and keep their results themselves.
  const bool native = criteria->AllNative();
  std::unique_ptr<bool[]> resA(new bool[static_cast<std::size_t>(fieldCount) + 1]),
      resB(new bool[static_cast<std::size_t>(fieldCount) + 1]);
  bool* ra = resA.get();
  bool* rb = resB.get();
  std::fill(ra, ra + fieldCount, true);
  std::fill(rb, rb + fieldCount, true);
  auto test = [&](const Wanted& w, const std::uint8_t* bytes, std::int32_t len) {
    if (native) {
      criteria->NativeTest(w.field)->Test(bytes, len, ra[w.field], rb[w.field]);
    } else {
      record[w.field].Decode(kNativeBase, bytes, len, w.param);
    }
  };

  struct Flat {
    const NativeFieldTest* test;
    std::int32_t field, offset, size;
  };
  std::vector<Flat> flat;
  const bool oneFixed =
      native && plans.size() == 1 && groups_[static_cast<std::size_t>(plans[0].g)].allFixed;
  GroupStream* stream0 = plans.empty() ? nullptr : plans[0].stream.get();
  const std::int32_t rowSize =
      plans.empty() ? 0 : groups_[static_cast<std::size_t>(plans[0].g)].totalSize;
  if (oneFixed) {
    const NativeGroup& grp = groups_[static_cast<std::size_t>(plans[0].g)];
    for (const Wanted& w : plans[0].fields) {
      flat.push_back(Flat{criteria->NativeTest(w.field), w.field,
                          fixedOffset[0][static_cast<std::size_t>(w.member)],
                          fields_[static_cast<std::size_t>(grp.first + w.member)].size});
    }
  }

  // The members are decided a mask byte at a time and written back at the end.
  const std::int32_t n = subset->CurLength();
  const std::int32_t maskBytes = subset->MaskBytes();
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskBytes));
  subset->GetMaskBytes(0, mask.data(), maskBytes);
  SearchProgress progress(n);
  const std::int32_t granularity = progress.Granularity();
  const std::vector<std::uint8_t>& slotBits = slots_.Bytes();
  std::int32_t done = 0, hits = 0, lastStep = 0;
  std::int32_t prevRecord = -2, prevSlot = -1;
  bool stopped = false;
  for (std::int32_t byte = 0; byte < maskBytes && !stopped; ++byte) {
    std::uint8_t bits = mask[static_cast<std::size_t>(byte)];
    if (bits == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      std::uint8_t m = static_cast<std::uint8_t>(0x80 >> bit);
      if ((bits & m) == 0) continue;
      std::int32_t r = byte * 8 + bit;
      if (done - lastStep >= granularity) {
        lastStep = done;
        if (progress.Step(done, hits)) {
          // The current member and all after it go.
          bits = static_cast<std::uint8_t>(bits & ~(0xFF >> bit));
          std::fill(mask.begin() + byte + 1, mask.end(), 0);
          stopped = true;
          break;
        }
      }
      if (r >= recordCount_) Raise(903);
      // The slot: the next record slot after the last one, or looked up after a gap.
      std::int32_t s;
      if (r == prevRecord + 1) {
        s = prevSlot + 1;
        while ((slotBits[static_cast<std::size_t>(s >> 3)] & (0x80 >> (s & 7))) == 0) ++s;
      } else {
        s = slots_.SlotOf(r);
      }
      prevRecord = r;
      prevSlot = s;
      if (oneFixed) {
        // The common case: every field in one fixed-size group, all tested natively.
        const std::uint8_t* data =
            stream0->Get(static_cast<std::int64_t>(s) * rowSize, rowSize, r);
        for (const Flat& f : flat) f.test->Test(data + f.offset, f.size, ra[f.field], rb[f.field]);
        ++done;
        // Branch-free: whether a game matches is as good as random to the processor.
        unsigned match = criteria->MatchesResults(ra, rb) ? 1u : 0u;
        hits += static_cast<std::int32_t>(match);
        bits = static_cast<std::uint8_t>(bits & ~(m & (0u - (match ^ 1u))));
        continue;
      }
      if (!native) criteria->Reset();
      for (std::size_t p = 0; p < plans.size(); ++p) {
        GroupPlan& plan = plans[p];
        const NativeGroup& grp = groups_[static_cast<std::size_t>(plan.g)];
        if (grp.allFixed) {
          const std::uint8_t* data =
              plan.stream->Get(static_cast<std::int64_t>(s) * grp.totalSize, grp.totalSize, r);
          for (const Wanted& w : plan.fields) {
            const NativeField& f = fields_[static_cast<std::size_t>(grp.first + w.member)];
            test(w, data + fixedOffset[p][static_cast<std::size_t>(w.member)], f.size);
          }
          continue;
        }
        std::int64_t address = ResolveAddress(plan.g, s, nullptr, r);
        if (address < 0) {
          // No data in this group: every field reads as its empty value.
          for (const Wanted& w : plan.fields) {
            const ByteBlock& empty = EmptyBody(grp.first + w.member);
            test(w, empty.Data(), empty.Count());
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
        const std::uint8_t* body =
            plan.stream->Get(address + pos, static_cast<std::int32_t>(total), r);
        for (const Wanted& w : plan.fields) {
          test(w, body + offset[static_cast<std::size_t>(w.member)],
               length[static_cast<std::size_t>(w.member)]);
        }
      }
      ++done;
      bool match = native ? criteria->MatchesResults(ra, rb) : criteria->Matches();
      if (match) {
        ++hits;
      } else {
        bits = static_cast<std::uint8_t>(bits & ~m);
      }
    }
    mask[static_cast<std::size_t>(byte)] = bits;
  }
  subset->PutMaskBytes(0, mask.data(), maskBytes);
  return hits;
}

}  // namespace ludrex
