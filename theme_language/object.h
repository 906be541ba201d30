#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "theme_language/connections.h"

namespace Drelm {

// Base of the theme-language object tree. Each object owns its children; the
// parent pointer is non-owning.
class DObject {
 public:
  // Which class of the theme language an object is, so that hot paths can
  // tell layers and attributes apart without a dynamic_cast.
  enum class DKind : std::uint8_t { OBJECT, LAYER, ATTRIBUTE };

  // An unnamed object without parent or children. Not copied: it owns its
  // children alone.
  DObject();
  virtual ~DObject();
  DObject(const DObject&) = delete;
  DObject& operator=(const DObject&) = delete;

  // Allocation. An object that the library makes for a tree may come from
  // that tree's pool; a word before each object tells where it came from, so
  // that a plain delete (or unique_ptr) by whoever holds it frees it right.
  // Every form is declared because declaring one hides the global others.
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t size, std::align_val_t alignment);
  static void* operator new(std::size_t size, std::align_val_t alignment,
                            const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t, void* place) noexcept { return place; }
  static void operator delete(void* object, std::size_t size) noexcept;
  static void operator delete(void* object, std::size_t size, std::align_val_t alignment) noexcept;
  static void operator delete(void* object, const std::nothrow_t&) noexcept;
  static void operator delete(void* object, std::align_val_t alignment,
                              const std::nothrow_t&) noexcept;
  static void operator delete(void*, void*) noexcept {}

  // The owned children, the name and the owner.
  const std::vector<std::unique_ptr<DObject>>& children() const;
  // Raised by every change of the child list; caches compare it.
  std::size_t children_version() const;
  const std::string& object_name() const;
  void set_object_name(const std::string& name);
  DObject* parent() const;

  // Changing the children; each raises children_version.
  // REQUIRES: child is not null. Takes ownership and returns the child.
  DObject* add_child(std::unique_ptr<DObject> child);
  void destroy_child(DObject* child);
  // REQUIRES: the entries are distinct current children of this object.
  void reorder_children(const std::vector<DObject*>& order);

  // Callbacks run first thing when the object is destroyed, in the order
  // registered, while it and its subtree are still whole.
  DConnectionID on_destroyed(std::function<void()> callback);
  void disconnect_destroyed(const DConnectionID& id);

  // OBJECT once the derived part has been torn down, as dynamic_cast sees it.
  DKind kind() const;

  // Appends the children of `object` that are a T, in pre-order when recursive.
  template <typename T>
  void find_children_helper(const DObject* object, std::vector<T*>& out, bool recursive) const {
    // With a stack of its own: a tree may be as deep as calls make it.
    std::vector<std::pair<const DObject*, std::size_t>> pending{{object, 0}};
    while (!pending.empty()) {
      auto& [holder, next] = pending.back();
      const auto& children = holder->children();
      if (next == children.size()) {
        pending.pop_back();
        continue;
      }
      DObject* child = children[next++].get();
      if (auto* typed = dynamic_cast<T*>(child)) out.push_back(typed);
      if (recursive) pending.emplace_back(child, 0);
    }
  }

 protected:
  // For the derived classes: their kind, and what their look-up caches check.
  explicit DObject(DKind kind);
  // Named from the start: an object without a parent needs none of the
  // bookkeeping of a rename.
  DObject(DKind kind, const std::string& name);
  // Called last in a derived destructor: what remains is a plain DObject, so
  // the kind casts no longer hand out a layer or attribute whose part is gone.
  void forget_kind();
  // Raised whenever a child is renamed: a name index that is only extended on
  // appends must start over after a rename.
  std::size_t child_renames() const;

 private:
  // The library's own ways in (internal/object_access.h): tree records,
  // pools, copies that skip the bookkeeping, shared names.
  friend struct DObjectAccess;
  // The rarely used parts (destroyed callbacks, rename count, the structure
  // counter of a tree's root, names left by renames); made on first use.
  struct Extra;

  // What object_name() hands out for an object without a name.
  static const std::string no_name;

  // First, so that it outlasts the children: its pool may hold them.
  mutable std::unique_ptr<Extra> extra;
  // Null while the name is empty. Copies within one tree may share one text,
  // counted by object.cpp; a rename writes in place only while it is unshared.
  std::string* name_text = nullptr;
  std::vector<std::unique_ptr<DObject>> child_list;
  DObject* parent_object = nullptr;
  std::size_t version = 0;
  // Lets hot paths tell layers and attributes apart without a dynamic_cast;
  // set by the derived constructor, back to OBJECT once that part is gone.
  DKind object_kind = DKind::OBJECT;
  // Where the object stands in its destruction (object.cpp); fills padding.
  std::uint8_t life = 0;
};

// Inline: the render walk, the look-ups and the copies ask them of every object.
inline DObject::DKind DObject::kind() const { return object_kind; }
// Inline too: every derived destructor calls it.
inline void DObject::forget_kind() { object_kind = DKind::OBJECT; }
inline const std::vector<std::unique_ptr<DObject>>& DObject::children() const { return child_list; }
inline std::size_t DObject::children_version() const { return version; }
inline const std::string& DObject::object_name() const {
  return name_text != nullptr ? *name_text : no_name;
}
inline DObject* DObject::parent() const { return parent_object; }

// Creates a T under `parent`, which owns it. REQUIRES: parent is not null.
template <typename T, typename... Args>
T* dMake(DObject* parent, Args&&... args) {
  auto object = std::make_unique<T>(std::forward<Args>(args)...);
  T* raw = object.get();
  parent->add_child(std::move(object));
  return raw;
}

}  // namespace Drelm
