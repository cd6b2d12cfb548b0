#include "base/base.h"

#include "base/tree_hooks.h"

#include "frame/error.h"
#include "search/search_plan.h"
#include "search/subset.h"

namespace ludrex {

void Unsupported() { Raise(907); }

Base::Base(std::int32_t type, const String& name)
    : type_(type), name_(String::Copy(name.Text(), name.Length())) {}

Base::~Base() = default;

Base* Base::OpenEmbedded(const String&) { Unsupported(); }
Base* Base::CreateEmbedded(const String&, const RecordPattern&) { Unsupported(); }
void Base::Update() {}
void Base::SetInfo(const BaseInfo&) { Unsupported(); }
int Base::IsSorted() { return 0; }
std::int32_t Base::UnsortedFromSorted(std::int32_t position) { return position; }
std::int32_t Base::Write(std::int32_t, Record&) { Unsupported(); }
int Base::IsDeleted(std::int32_t) { return 0; }
Subset* Base::GetDeletedSubset() { return nullptr; }
void Base::ToggleDelete(std::int32_t, std::int32_t) { Warn(907); }
// The shared search: each member read in turn into the search record, whose fields test
// themselves as they are decoded.
std::int32_t Base::SearchByRecords(Subset* subset, CriteriaList* criteria, std::int32_t) {
  if (subset == nullptr || criteria == nullptr) Raise(805);
  return SearchRecordByRecord(*subset, *criteria,
                              [this](std::int32_t n, Record& record) { Read(n, record); });
}
std::int32_t Base::Search(Subset* subset, CriteriaList* criteria, std::int32_t flags) {
  return SearchByRecords(subset, criteria, flags);
}
std::intptr_t Base::TreeOperation(std::intptr_t, std::intptr_t, std::intptr_t) { Unsupported(); }
void* Base::GetPositionStats(Subset*, Subset*, const void*, std::int32_t) { Unsupported(); }
void Base::TreeSearchLine(Subset*, Subset*, Field*) { Unsupported(); }
void Base::SetModified(std::int32_t) { Unsupported(); }
void Base::Reserved23(std::intptr_t, std::intptr_t, std::intptr_t) { Unsupported(); }
namespace {
const TreeOperations* g_treeOperations = nullptr;
}  // namespace

void SetTreeOperations(const TreeOperations* operations) { g_treeOperations = operations; }
const TreeOperations* GetTreeOperations() { return g_treeOperations; }

int Base::CheckTree() { return g_treeOperations != nullptr ? g_treeOperations->check(*this) : 0; }
Base* Base::BuildTree() {
  if (g_treeOperations == nullptr) Unsupported();
  g_treeOperations->build(*this);
  return this;
}
Base* Base::DeleteTree() {
  if (g_treeOperations == nullptr) Unsupported();
  g_treeOperations->remove(*this);
  return this;
}
Array* Base::OpenTreeData() {
  return g_treeOperations != nullptr ? g_treeOperations->openData(*this) : nullptr;
}
Array* Base::OpenTreeIndex() {
  return g_treeOperations != nullptr ? g_treeOperations->openIndex(*this) : nullptr;
}
void Base::Reserved29() { Unsupported(); }
std::int32_t Base::EmbeddedBaseCount() { return 0; }
String Base::LibraryNameOf(const Field&) { return String(static_cast<const char*>(nullptr)); }
String Base::EmbeddedBaseName(std::int32_t index) {
  if (index >= EmbeddedBaseCount() || index < 0) Raise(908);
  return String(static_cast<const char*>(nullptr));
}
void Base::GetEmbeddedShortInfo(ShortInfo& out, const String&) {
  out.text = String(static_cast<const char*>(nullptr));
  out.count = -1;
}
void Base::Reserved34(std::intptr_t) { Unsupported(); }
void Base::EnableFastAccess(const RecordPattern*) {}
void Base::DisableFastAccess() {}
void* Base::GetFastAccess() { return nullptr; }

}  // namespace ludrex
