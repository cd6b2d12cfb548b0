// An in-memory base type for testing the registry, the dispatch and the shared operations. Its
// records are kept as each field's native bytes in a store that outlives the objects, keyed by
// the base's full name; a base may hold embedded bases (one level), listed in its store.
#pragma once

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/dispatch.h"
#include "frame/error.h"
#include "record/pattern.h"
#include "record/record.h"
#include "search/subset.h"

namespace ludrex::testing {

struct FakeStore {
  RecordPattern pattern;
  std::string description;
  std::vector<std::vector<std::string>> records;
  std::vector<bool> deleted;
  std::vector<std::string> embedded;  // names of embedded bases
};

inline std::map<std::string, FakeStore>& Stores() {
  static std::map<std::string, FakeStore> stores;
  return stores;
}

inline int& LiveFakeBases() {
  static int live = 0;
  return live;
}

class FakeBase : public Base {
 public:
  FakeBase(std::int32_t type, const std::string& name)
      : Base(type, String(name.c_str())), key_(name) {
    if (Stores().count(name) == 0) return;  // open_ stays 0: the dispatch discards the object
    open_ = 1;
    recordCount_ = static_cast<std::int32_t>(Store().records.size());
    ++LiveFakeBases();
  }
  ~FakeBase() override {
    if (open_) --LiveFakeBases();
  }

  FakeStore& Store() { return Stores()[key_]; }

  void GetInfo(BaseInfo& info) override {
    info.description = String::Copy(Store().description.data(),
                                    static_cast<std::uint32_t>(Store().description.size()));
    info.fullName = String::Copy(key_.data(), static_cast<std::uint32_t>(key_.size()));
    info.secondFullName = String::Copy(key_.data(), static_cast<std::uint32_t>(key_.size()));
    info.type = type_;
  }
  void SetInfo(const BaseInfo& info) override {
    Store().description.assign(info.description.Text(), info.description.Length());
  }
  void Read(std::int32_t n, Record& record) override {
    if (n < 0 || n >= recordCount_) Raise(903);
    const auto& fields = Store().records[static_cast<std::size_t>(n)];
    const RecordPattern& p = Store().pattern;
    for (std::int32_t i = 0; i < record.Count() && i < static_cast<std::int32_t>(fields.size()); ++i) {
      const std::string& b = fields[static_cast<std::size_t>(i)];
      record[i].Unpack(0, reinterpret_cast<const std::uint8_t*>(b.data()),
                       static_cast<std::int32_t>(b.size()), ParamFor(p, i));
    }
  }
  std::int32_t Write(std::int32_t n, Record& record) override {
    const RecordPattern& p = Store().pattern;
    std::vector<std::string> fields;
    for (std::int32_t i = 0; i < record.Count(); ++i) {
      ByteBlock b = record[i].Pack(0, ParamFor(p, i));
      fields.emplace_back(reinterpret_cast<const char*>(b.Data()), static_cast<std::size_t>(b.Count()));
    }
    auto& recs = Store().records;
    if (n == kAppendRecord || n == kAppendSortedRecord) {
      std::int32_t key = record.KeyIndex();
      if (key >= 0) {
        for (std::size_t k = 0; k < recs.size(); ++k) {
          if (recs[k][static_cast<std::size_t>(key)] == fields[static_cast<std::size_t>(key)]) {
            return static_cast<std::int32_t>(k);
          }
        }
      }
      recs.push_back(fields);
      Store().deleted.push_back(false);
      recordCount_ = static_cast<std::int32_t>(recs.size());
      return recordCount_ - 1;
    }
    if (n < 0 || n >= recordCount_) Raise(903);
    recs[static_cast<std::size_t>(n)] = fields;
    return n;
  }
  const RecordPattern& GetRecordPattern() override { return Store().pattern; }
  int IsDeleted(std::int32_t n) override { return Store().deleted.at(static_cast<std::size_t>(n)) ? 1 : 0; }
  void ToggleDelete(std::int32_t n, std::int32_t count) override {
    for (std::int32_t i = n; i < n + count; ++i) Store().deleted.at(static_cast<std::size_t>(i)).flip();
  }
  std::int32_t EmbeddedBaseCount() override { return static_cast<std::int32_t>(Store().embedded.size()); }
  String EmbeddedBaseName(std::int32_t i) override {
    if (i < 0 || i >= EmbeddedBaseCount()) Raise(908);
    return String::Copy(Store().embedded[static_cast<std::size_t>(i)].c_str(),
                        static_cast<std::uint32_t>(Store().embedded[static_cast<std::size_t>(i)].size()));
  }
  Base* OpenEmbedded(const String& name) override {
    auto* b = new FakeBase(type_, key_ + "," + std::string(name.Text(), name.Length()));
    if (!b->IsOpen()) {
      delete b;
      Raise(909);
    }
    return b;
  }
  Base* CreateEmbedded(const String& name, const RecordPattern& pattern) override {
    if (key_.find(',') != std::string::npos) Raise(915);
    std::string n(name.Text(), name.Length());
    FakeStore& s = Stores()[key_ + "," + n];
    s = FakeStore{};
    s.pattern = pattern;
    Store().embedded.push_back(n);
    return new FakeBase(type_, key_ + "," + n);
  }
  String LibraryNameOf(const Field& field) override {
    const RecordPattern& p = Store().pattern;
    for (std::int32_t i = 0; i < p.Count(); ++i) {
      if (p[i].type == 0 && p[i].name == field.Name()) {
        return String::Copy(p[i].param.Text(), p[i].param.Length());
      }
    }
    return String(static_cast<const char*>(nullptr));
  }

 private:
  // A library field's bytes are bound to the library's full name; other fields get their Param.
  String ParamFor(const RecordPattern& p, std::int32_t i) {
    if (p[i].type != 0) return String::Copy(p[i].param.Text(), p[i].param.Length());
    std::string full = key_ + "," + std::string(p[i].param.Text(), p[i].param.Length());
    return String::Copy(full.data(), static_cast<std::uint32_t>(full.size()));
  }

  std::string key_;
};

// Serves base type `type` with FakeBase; the main file must exist for an open, so create makes
// an empty one.
inline void InstallFakeFormat(std::int32_t type, const std::string& extension) {
  static std::string ext;
  static std::int32_t fakeType;
  ext = extension;
  fakeType = type;
  BaseFormat f{};
  f.open = [](const String& name) -> Base* {
    return new FakeBase(fakeType, std::string(name.Text(), name.Length()));
  };
  f.create = [](const String& name, const RecordPattern& pattern) -> Base* {
    std::string n(name.Text(), name.Length());
    std::ofstream(n + ext).put('\0');
    FakeStore& s = Stores()[n];
    s = FakeStore{};
    s.pattern = pattern;
    return new FakeBase(fakeType, n);
  };
  f.shortInfo = [](const String& name, ShortInfo& out) {
    auto it = Stores().find(std::string(name.Text(), name.Length()));
    if (it == Stores().end()) return false;
    out.text = String::Copy(it->second.description.data(),
                            static_cast<std::uint32_t>(it->second.description.size()));
    out.count = static_cast<std::int32_t>(it->second.records.size());
    return true;
  };
  SetBaseFormat(type, f);
}

}  // namespace ludrex::testing
