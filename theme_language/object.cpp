#include "theme_language/object.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/object_pool.h"
#include "theme_language/layer.h"

namespace Drelm {
namespace {

// A name, reference counted: a copy shares its source's, and a rename writes
// in place only while nobody else holds it. Counted without atomics, so only
// objects of one tree share one (trees only ever join, and a tree is used by
// one thread at a time). An object points at the text, the base, and the
// count is found from there.
struct SharedName : std::string {
  std::size_t count;
};

std::string* new_name(const std::string& text) {
  return text.empty() ? nullptr : new SharedName{{text}, 1};
}

std::size_t& holders(std::string* name) { return static_cast<SharedName*>(name)->count; }

void release_name(std::string* name) {
  if (name != nullptr && --holders(name) == 0) delete static_cast<SharedName*>(name);
}

}  // namespace

struct DObject::Extra {
  DConnectionID next_destroyed_id;
  std::map<DConnectionID, std::function<void()>> destroyed_callbacks;
  // Raised by set_object_name of any child.
  std::uint32_t child_renames = 0;
  // Made for a root once a look-up asks for it; its counter is kept up to
  // date only while this object is a root.
  std::unique_ptr<DTreeStates> tree;
  // Names this object held before a rename while others shared them: a
  // reference object_name() handed out stays valid while the object lives.
  std::vector<std::string*> old_names;
  // Made for a root once a creation path asks for it. The objects it holds
  // all lie in this object's subtree, which is gone before this record.
  std::unique_ptr<DObjectPool> pool;
  // Of a root: the operations running on its tree, and the objects destroyed
  // meanwhile, whose memory waits for the outermost one to return (DOperation).
  // After the pool, so that they go first.
  std::uint32_t operations = 0;
  std::vector<std::unique_ptr<DObject>> retired;
  // Of a root: whether destroying part of the tree may run code of the
  // program's (destroy or link-change callbacks, links from other trees).
  // Without, and with no operation running, a destruction releases as it
  // goes, in one walk.
  bool calls_out = false;
};

void* DObject::operator new(std::size_t size) { return DObjectPool::heap_object(size); }

void* DObject::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return DObjectPool::heap_object(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Over-aligned objects never come from a pool and carry no header.
void* DObject::operator new(std::size_t size, std::align_val_t alignment) {
  return ::operator new(size, alignment);
}

void* DObject::operator new(std::size_t size, std::align_val_t alignment,
                            const std::nothrow_t& tag) noexcept {
  return ::operator new(size, alignment, tag);
}

void DObject::operator delete(void* object, std::size_t size) noexcept {
  DObjectPool::release_object(object, size);
}

// Unsized: not every compiler declares the sized forms by default.
void DObject::operator delete(void* object, std::size_t, std::align_val_t alignment) noexcept {
  ::operator delete(object, alignment);
}

void DObject::operator delete(void* object, const std::nothrow_t&) noexcept {
  DObjectPool::release_heap_object(object);
}

void DObject::operator delete(void* object, std::align_val_t alignment,
                              const std::nothrow_t&) noexcept {
  ::operator delete(object, alignment);
}

const std::string DObject::no_name;

DObject::DObject() = default;

DObject::DObject(DKind kind) : object_kind(kind) {}

DObject::DObject(DKind kind, const std::string& name)
    : name_text(new_name(name)), object_kind(kind) {}

std::size_t DObject::child_renames() const { return extra ? extra->child_renames : 0; }

DObject::~DObject() {
  // Most objects come here retired, without children or record: for them
  // this is a few tests, without a call.
  if (life == 0 || !child_list.empty() || extra) DObjectAccess::destroy_rest(*this);
  release_name(name_text);
}

void DObjectAccess::destroy_rest(DObject& object) {
  // A derived class runs this first, while its part is whole; a plain object
  // gets here unretired.
  if (object.life == 0) destroy_unretired(object);
  if (!object.child_list.empty()) destroy_children(object);
  if (auto& extra = object.extra) {
    if (!extra->retired.empty()) release_all(std::move(extra->retired));
    for (std::string* old : extra->old_names) release_name(old);
    extra.reset();
  }
}

void DObjectAccess::run_destroyed_callbacks(DObject& object) {
  auto& callbacks = object.extra->destroyed_callbacks;
  std::vector<DConnectionID> ids;
  ids.reserve(callbacks.size());
  for (const auto& entry : callbacks) ids.push_back(entry.first);
  for (const auto& id : ids) {
    auto it = callbacks.find(id);
    if (it == callbacks.end()) continue;
    auto callback = it->second;  // a copy: the callback may disconnect itself
    if (callback) callback();
  }
  callbacks.clear();
}

void DObjectAccess::destroy_children(DObject& object) {
  // Everything observable has happened: what is left is memory.
  auto doomed = std::move(object.child_list);
  object.child_list.clear();
  release_all(std::move(doomed));
}

void DObjectAccess::release_all(std::vector<std::unique_ptr<DObject>> objects) {
  // With a stack of its own, as a program can nest layers deeper than the
  // call stack reaches: each object before its children, first to last, and
  // deleted after them, as a root's pool must outlast what it holds. Each is
  // marked dead first, so that no destructor runs a callback: those ran when
  // the objects were destroyed, or there are none.
  struct Frame {
    DObject* object;
    std::size_t next;
  };
  std::vector<Frame> stack;
  // Unretired only where nothing can run code of the program's: retired
  // here, before its children, as a destruction would.
  const auto retire_once = [](DObject* object) {
    if ((object->life & kDead) == 0) {
      object->life = kDying | kDead;
      retire(*object);
    }
  };
  for (auto& top : objects) {
    DObject* object = top.release();
    if (object == nullptr) continue;
    retire_once(object);
    if (object->child_list.empty()) {
      delete object;
      continue;
    }
    stack.push_back(Frame{object, 0});
    while (!stack.empty()) {
      DObject* parent = stack.back().object;
      auto& children = parent->child_list;
      std::size_t next = stack.back().next;
      // Most objects have no children and go in this loop, without a frame.
      DObject* deeper = nullptr;
      while (deeper == nullptr && next < children.size()) {
        DObject* child = children[next++].release();
        if (child == nullptr) continue;
        if (!child->child_list.empty()) {
          retire_once(child);
          deeper = child;
          continue;
        }
        // Retired by its destructor, which runs next: one call for both.
        if ((child->life & kDead) == 0) child->life = kDying | kDead | kRetireInDestructor;
        delete child;
      }
      if (deeper != nullptr) {
        stack.back().next = next;
        stack.push_back(Frame{deeper, 0});
        continue;
      }
      stack.pop_back();
      children.clear();
      delete parent;
    }
  }
}

void DObjectAccess::destroy_subtree(DObject& top) {
  // Each object's callbacks before its descendants', children first to
  // last, each once: an object that another destruction reached meanwhile
  // keeps its turn there. Nothing is released while this runs. The objects
  // met, in that order, serve the retiring below while no callback ran.
  std::vector<DObject*> met;
  std::vector<DObject*> pending{&top};
  bool called = false;
  while (!pending.empty()) {
    DObject* object = pending.back();
    pending.pop_back();
    met.push_back(object);
    if ((object->life & kDying) == 0) {
      object->life |= kDying;
      if (object->extra && !object->extra->destroyed_callbacks.empty()) {
        called = true;
        run_destroyed_callbacks(*object);
      }
    }
    const auto& children = object->child_list;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      if (*it) pending.push_back(it->get());
    }
  }
  // A callback destroyed what holds it, and it with that.
  if ((top.life & kDead) != 0) return;
  // All dead first, so that the callbacks below find none of it alive.
  if (called) {
    met.assign(1, &top);
    for (std::size_t i = 0; i < met.size(); ++i) {
      for (const auto& child : met[i]->child_list) {
        if (child && (child->life & kDead) == 0) met.push_back(child.get());
      }
    }
  }
  for (DObject* object : met) object->life = kDying | kDead;
  for (DObject* object : met) retire(*object);
}

void DObjectAccess::retire(DObject& object) {
  if (object.kind() == DObject::DKind::LAYER) {
    retire_layer(*static_cast<DLayer*>(&object));
  } else if (object.kind() == DObject::DKind::ATTRIBUTE) {
    retire_attribute(*static_cast<DAttribute*>(&object));
  }
}

bool DObjectAccess::quiet(const DObject& root) {
  return !root.extra || (!root.extra->calls_out && root.extra->operations == 0);
}

void DObjectAccess::note_calls_out(const DObject& object) {
  DObject& root = tree_root(object);
  if (!root.extra) root.extra = std::make_unique<DObject::Extra>();
  root.extra->calls_out = true;
}

void DObjectAccess::destroy_unretired(DObject& object) {
  // Nothing to call and nobody holding it: the children are retired as they
  // are released.
  if (object.parent_object == nullptr && quiet(object)) {
    object.life = kDying | kDead;
    retire(object);
    return;
  }
  const DOperation operation(object);
  destroy_subtree(object);
}

DObject& DObjectAccess::open_operation(const DObject& object) {
  DObject& root = tree_root(object);
  if (!root.extra) root.extra = std::make_unique<DObject::Extra>();
  ++root.extra->operations;
  return root;
}

void DObjectAccess::close_operation(DObject& root) {
  DObject* at = &root;
  // Handed over when the root was placed under a parent.
  if (at->extra == nullptr || at->extra->operations == 0) at = &tree_root(root);
  if (at->extra == nullptr || at->extra->operations == 0) return;
  if (--at->extra->operations != 0) return;
  while (!at->extra->retired.empty()) {
    auto retired = std::move(at->extra->retired);
    at->extra->retired.clear();
    release_all(std::move(retired));
  }
}

void DObject::set_object_name(const std::string& name) {
  if (name_text != nullptr && holders(name_text) == 1) {
    *name_text = name;
  } else if (name_text != nullptr) {
    if (!extra) extra = std::make_unique<Extra>();
    extra->old_names.push_back(name_text);
    name_text = new_name(name);
  } else {
    name_text = new_name(name);
  }
  if (parent_object != nullptr) {
    if (!parent_object->extra) parent_object->extra = std::make_unique<Extra>();
    ++parent_object->extra->child_renames;
  }
  raise_tree_generation(*this);
}

DObject* DObject::add_child(std::unique_ptr<DObject> child) {
  if (child == nullptr) return nullptr;
  // The child was a root until now: caches that hold its counter must not
  // trust it any more.
  if (child->extra && child->extra->tree) ++child->extra->tree->generation;
  DObject& root = tree_root(*this);
  // A layer learns its root as it joins, so that what is made below it finds
  // the root without a walk.
  if (child->kind() == DKind::LAYER) *layer_root_hint(*child) = &root;
  // Operations running on the child's tree now run on this one.
  if (child->extra && (child->extra->operations != 0 || !child->extra->retired.empty() ||
                       child->extra->calls_out)) {
    if (!root.extra) root.extra = std::make_unique<Extra>();
    root.extra->calls_out = root.extra->calls_out || child->extra->calls_out;
    root.extra->operations += child->extra->operations;
    child->extra->operations = 0;
    for (auto& retired : child->extra->retired) root.extra->retired.push_back(std::move(retired));
    child->extra->retired.clear();
  }
  child->parent_object = this;
  DObject* raw = child.get();
  child_list.push_back(std::move(child));
  ++version;
  if (root.extra && root.extra->tree) ++root.extra->tree->generation;
  return raw;
}

void DObject::destroy_child(DObject* child) {
  auto& list = child_list;
  auto it = std::find_if(list.begin(), list.end(),
                         [child](const std::unique_ptr<DObject>& c) { return c.get() == child; });
  if (it == list.end()) return;
  if (DObjectAccess::quiet(tree_root(*this))) {
    std::unique_ptr<DObject> doomed = std::move(*it);
    list.erase(it);
    ++version;
    raise_tree_generation(*this);
    std::vector<std::unique_ptr<DObject>> one;
    one.push_back(std::move(doomed));
    DObjectAccess::release_all(std::move(one));
    return;
  }
  const DOperation operation(*this);
  // Out of the list first, so that no look-up hands it out to a callback; it
  // keeps its parent, so that it still answers for its path. Its memory goes
  // to the tree's root until the outermost operation returns.
  std::unique_ptr<DObject> doomed = std::move(*it);
  list.erase(it);
  ++version;
  raise_tree_generation(*this);
  DObject& root = tree_root(*this);
  if (!root.extra) root.extra = std::make_unique<Extra>();
  root.extra->retired.push_back(std::move(doomed));
  DObjectAccess::destroy_subtree(*child);
}

void DObject::reorder_children(const std::vector<DObject*>& order) {
  // Named children leave their places; the k-th vacant place takes order[k].
  // Entries that are no child, and repeats, are passed over: filling a place
  // with them would drop a child or leave the place empty. `at[j]` is where
  // order[j] stands, or kNone when it is passed over.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // Merges name a layer's child layers, mostly a few: those are found by
  // scanning, without a heap allocation.
  constexpr std::size_t kFew = 8;
  const std::size_t count = order.size();
  std::size_t few_at[kFew];
  std::size_t few_places[kFew];
  std::vector<std::size_t> many_at;
  std::vector<std::size_t> many_places;
  std::size_t* at = few_at;
  std::size_t* places = few_places;
  if (count > kFew) {
    many_at.resize(count);
    many_places.resize(count);
    at = many_at.data();
    places = many_places.data();
  }
  std::fill(at, at + count, kNone);
  if (count <= kFew) {
    for (std::size_t i = 0; i < child_list.size(); ++i) {
      for (std::size_t j = 0; j < count; ++j) {
        if (order[j] != child_list[i].get()) continue;
        at[j] = i;  // the first entry naming it; later ones are repeats
        break;
      }
    }
  } else {
    std::vector<std::pair<const DObject*, std::size_t>> keys;
    keys.reserve(count);
    for (std::size_t j = 0; j < count; ++j) keys.emplace_back(order[j], j);
    std::sort(keys.begin(), keys.end());
    for (std::size_t i = 0; i < child_list.size(); ++i) {
      const DObject* child = child_list[i].get();
      auto it = std::lower_bound(keys.begin(), keys.end(), std::pair{child, std::size_t{0}});
      if (it != keys.end() && it->first == child) at[it->second] = i;
    }
  }
  std::size_t vacant = 0;
  for (std::size_t j = 0; j < count; ++j) {
    if (at[j] != kNone) places[vacant++] = at[j];
  }
  std::sort(places, places + vacant);
  // Only the order of the owning pointers changes: each leaves its place and
  // order[j] itself is the one that the next place takes.
  for (std::size_t k = 0; k < vacant; ++k) static_cast<void>(child_list[places[k]].release());
  std::size_t k = 0;
  for (std::size_t j = 0; j < count; ++j) {
    if (at[j] != kNone) child_list[places[k++]].reset(order[j]);
  }
  ++version;
  raise_tree_generation(*this);
}

DConnectionID DObject::on_destroyed(std::function<void()> callback) {
  DObjectAccess::note_calls_out(*this);
  if (!extra) extra = std::make_unique<Extra>();
  extra->destroyed_callbacks[extra->next_destroyed_id] = std::move(callback);
  return extra->next_destroyed_id++;
}

void DObject::disconnect_destroyed(const DConnectionID& id) {
  if (extra) extra->destroyed_callbacks.erase(id);
}

namespace {

// The layer's hint when it may lead further up than its parent: set, and not
// the layer itself.
DObject* hint_above(DObject& object) {
  if (object.kind() != DObject::DKind::LAYER) return nullptr;
  DObject* hint = *layer_root_hint(object);
  return hint != &object ? hint : nullptr;
}

// tree_root when the nearest layer's hint is missing or no root any more:
// climbs by parents and hints (a hint, even one gone stale, names an
// ancestor), then writes the root into every hint met on the way, so that
// the next look-up from anywhere along it is one step.
DObject& find_root(DObject& start) {
  DObject* up = &start;
  while (up->parent() != nullptr) {
    DObject* hint = hint_above(*up);
    up = hint != nullptr ? hint : up->parent();
  }
  DObject* root = up;
  for (up = &start; up != root;) {
    DObject* hint = hint_above(*up);
    DObject* next = hint != nullptr ? hint : up->parent();
    if (up->kind() == DObject::DKind::LAYER) *layer_root_hint(*up) = root;
    up = next;
  }
  return *root;
}

}  // namespace

DObject& tree_root(const DObject& object) {
  // Objects of a tree are never const themselves; only the caller's view is.
  DObject* up = const_cast<DObject*>(&object);
  // Attributes and states lie a step or two below a layer.
  up = find_up(up, [](const DObject* at) {
    return at->parent() == nullptr || at->kind() == DObject::DKind::LAYER;
  });
  if (up->parent() == nullptr) return *up;
  // Trees only ever join: a hint that still has no parent is the root.
  DObject* hint = *layer_root_hint(*up);
  if (hint != nullptr && hint->parent() == nullptr) return *hint;
  return find_root(*up);
}

DTreeStates& DObjectAccess::tree_states(const DObject& object) {
  DObject& root = tree_root(object);
  if (!root.extra) root.extra = std::make_unique<DObject::Extra>();
  if (!root.extra->tree) root.extra->tree = std::make_unique<DTreeStates>();
  return *root.extra->tree;
}

void DObjectAccess::raise_tree_generation(DObject& object) {
  const DObject& root = tree_root(object);
  // Without a record nobody holds the counter yet.
  if (root.extra && root.extra->tree) ++root.extra->tree->generation;
}

void DObjectAccess::raise_tree_answers(const DObject& object) {
  const DObject& root = tree_root(object);
  if (root.extra && root.extra->tree) ++root.extra->tree->answers;
}

DObjectPool* DObjectAccess::object_pool(DObject& object) {
  if constexpr (!DObjectPool::kEnabled) {
    return nullptr;
  } else {
    DObject& root = tree_root(object);
    if (!root.extra) root.extra = std::make_unique<DObject::Extra>();
    if (!root.extra->pool) root.extra->pool = std::make_unique<DObjectPool>();
    return root.extra->pool.get();
  }
}

DCopyPlace copy_place(const DObject& source, DObject& parent) {
  DObject& root = tree_root(parent);
  return DCopyPlace{&tree_root(source) == &root, object_pool(root)};
}

void DObjectAccess::reserve_children(DObject& object, std::size_t count) {
  object.child_list.reserve(count);
}

DObject* DObjectAccess::append_copy(DObject& parent, std::unique_ptr<DObject> copy) {
  copy->parent_object = &parent;
  DObject* raw = copy.get();
  parent.child_list.push_back(std::move(copy));
  ++parent.version;
  return raw;
}

void DObjectAccess::share_name(DObject& copy, const DObject& source) {
  std::string* name = source.name_text;
  if (name != nullptr) ++holders(name);
  release_name(copy.name_text);
  copy.name_text = name;
}

}  // namespace Drelm
