#include "theme_language/object.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace Drelm {

struct DObject::Impl {
  std::string name;
  std::vector<std::unique_ptr<DObject>> children;
  std::size_t children_version = 0;
  DObject* parent = nullptr;
  DConnectionID next_destroyed_id;
  std::map<DConnectionID, std::function<void()>> destroyed_callbacks;
  // Lets hot paths tell layers and attributes apart without a dynamic_cast;
  // set by the derived constructor, back to OBJECT once that part is gone.
  DKind kind = DKind::OBJECT;
  // Raised by set_object_name of any child.
  std::size_t child_renames = 0;
};

DObject::DObject() : impl(std::make_unique<Impl>()) {}

DObject::DObject(DKind kind) : impl(std::make_unique<Impl>()) { impl->kind = kind; }

DObject::DKind DObject::kind() const { return impl->kind; }

void DObject::forget_kind() { impl->kind = DKind::OBJECT; }

std::size_t DObject::child_renames() const { return impl->child_renames; }

DObject::~DObject() {
  std::vector<DConnectionID> ids;
  ids.reserve(impl->destroyed_callbacks.size());
  for (const auto& entry : impl->destroyed_callbacks) ids.push_back(entry.first);
  for (const auto& id : ids) {
    auto it = impl->destroyed_callbacks.find(id);
    if (it == impl->destroyed_callbacks.end()) continue;
    auto callback = it->second;  // a copy: the callback may disconnect itself
    if (callback) callback();
  }
  impl->destroyed_callbacks.clear();
  // First child first; each child tears down its own subtree. Taken out of the
  // list first, so that a child's callback never meets a deleted sibling there.
  auto doomed = std::move(impl->children);
  impl->children.clear();
  for (auto& child : doomed) child.reset();
}

const std::vector<std::unique_ptr<DObject>>& DObject::children() const { return impl->children; }

std::size_t DObject::children_version() const { return impl->children_version; }

const std::string& DObject::object_name() const { return impl->name; }

void DObject::set_object_name(const std::string& name) {
  impl->name = name;
  if (impl->parent != nullptr) ++impl->parent->impl->child_renames;
}

DObject* DObject::parent() const { return impl->parent; }

DObject* DObject::add_child(std::unique_ptr<DObject> child) {
  if (child == nullptr) return nullptr;
  child->impl->parent = this;
  DObject* raw = child.get();
  impl->children.push_back(std::move(child));
  ++impl->children_version;
  return raw;
}

void DObject::destroy_child(DObject* child) {
  auto& list = impl->children;
  auto it = std::find_if(list.begin(), list.end(),
                         [child](const std::unique_ptr<DObject>& c) { return c.get() == child; });
  if (it == list.end()) return;
  // Detach and raise the version before deleting, so that a callback run by
  // the child's destructor sees a consistent list and no cache hands it out.
  std::unique_ptr<DObject> doomed = std::move(*it);
  list.erase(it);
  ++impl->children_version;
  doomed.reset();
}

void DObject::reorder_children(const std::vector<DObject*>& order) {
  // Named children leave their places; the k-th vacant place takes order[k].
  std::unordered_map<const DObject*, std::unique_ptr<DObject>> pulled;
  pulled.reserve(order.size());
  for (const DObject* wanted : order) pulled.emplace(wanted, nullptr);
  std::vector<std::size_t> vacant;
  vacant.reserve(order.size());
  for (std::size_t i = 0; i < impl->children.size(); ++i) {
    auto it = pulled.find(impl->children[i].get());
    if (it == pulled.end()) continue;
    it->second = std::move(impl->children[i]);
    vacant.push_back(i);
  }
  // Entries that are no child, and repeats, are passed over: filling a place
  // with them would drop a child or leave the place empty.
  std::size_t k = 0;
  for (const DObject* wanted : order) {
    auto it = pulled.find(wanted);
    if (it == pulled.end() || it->second == nullptr) continue;
    impl->children[vacant[k++]] = std::move(it->second);
  }
  ++impl->children_version;
}

DConnectionID DObject::on_destroyed(std::function<void()> callback) {
  impl->destroyed_callbacks[impl->next_destroyed_id] = std::move(callback);
  return impl->next_destroyed_id++;
}

void DObject::disconnect_destroyed(const DConnectionID& id) { impl->destroyed_callbacks.erase(id); }

}  // namespace Drelm
