#include "theme_language/attribute.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "theme_language/internal/attribute_impl.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/tree_access.h"
#include "theme_language/layer.h"
#include "theme_language/logger.h"

namespace Drelm {

namespace {

DLayer* nearest_layer(DObject* object) {
  if (object == nullptr) return nullptr;
  return as_layer(find_up(object->parent(), [](DObject* up) { return as_layer(up) != nullptr; }));
}

}  // namespace

// ---- Impl: dependents and notification -------------------------------------

bool DAttribute::Impl::has_dependent(const DAttribute* dependent) const {
  // By address only: the one asked about may have been destroyed meanwhile.
  if (dependent == nullptr) return false;
  return std::find(dependents.begin(), dependents.end(), dependent) != dependents.end();
}

void DAttribute::Impl::add_dependent(DAttribute* dependent) {
  dependents.push_back(dependent);
  of(*dependent).dependent_slot = dependents.size() - 1;
  ++dependents_version;
}

void DAttribute::Impl::remove_dependent(DAttribute* dependent) {
  ++dependents_version;
  const std::size_t slot = of(*dependent).dependent_slot;
  if (slot < dependents.size() && dependents[slot] == dependent) {
    dependents[slot] = nullptr;
    ++vacant_dependents;
  } else {
    for (DAttribute*& entry : dependents) {
      if (entry != dependent) continue;
      entry = nullptr;
      ++vacant_dependents;
    }
  }
  while (!dependents.empty() && dependents.back() == nullptr) {
    dependents.pop_back();
    --vacant_dependents;
  }
  if (vacant_dependents * 2 > dependents.size()) compact_dependents();
}

void DAttribute::Impl::compact_dependents() {
  std::size_t kept = 0;
  for (DAttribute* dependent : dependents) {
    if (dependent == nullptr) continue;
    of(*dependent).dependent_slot = kept;
    dependents[kept++] = dependent;
  }
  dependents.resize(kept);
  vacant_dependents = 0;
}

void DAttribute::Impl::call_all(Callbacks CallbackLists::*map) {
  Callbacks& callbacks = (*this->callbacks).*map;
  std::vector<DConnectionID> ids;
  ids.reserve(callbacks.size());
  for (const auto& entry : callbacks) ids.push_back(entry.first);
  const Watch self(*this);
  // A destroyed attribute's own teardown still tells its callbacks.
  const bool destroyed = dead(*owner);
  for (const DConnectionID& id : ids) {
    // The attribute's callbacks went with it.
    if (!destroyed && self.alive() == nullptr) return;
    auto it = callbacks.find(id);
    if (it == callbacks.end()) continue;
    // Held while it runs, so the callback may disconnect itself or others.
    const std::shared_ptr<std::function<void()>> callback = it->second;
    (*callback)();
  }
}

// A callback that destroys the attribute ends the walk: its dependents left with it.
void DAttribute::Impl::notify_all() {
  const Watch self(*this);
  call_change();
  if (self.alive() != nullptr) for_each_dependent([](Impl& dependent) { dependent.call_change(); });
}

void DAttribute::Impl::update_link_dependencies() {
  const Watch self(*this);
  call_link_change();
  if (self.alive() != nullptr) {
    for_each_dependent([](Impl& dependent) { dependent.call_link_change(); });
  }
}

std::vector<DAttribute*> DAttribute::Impl::dependents_of(bool recursive) const {
  std::vector<DAttribute*> result;
  result.reserve(dependents.size() - vacant_dependents);
  for (DAttribute* direct : dependents) {
    if (direct != nullptr) result.push_back(direct);
  }
  if (!recursive) return result;
  // Each attribute's direct dependents, then each one's whole list in turn;
  // walked with an explicit stack so a long chain cannot exhaust the stack.
  std::vector<std::pair<const Impl*, std::size_t>> frames{{this, 0}};
  while (!frames.empty()) {
    auto& [owner, next] = frames.back();
    while (next < owner->dependents.size() && owner->dependents[next] == nullptr) ++next;
    if (next == owner->dependents.size()) {
      frames.pop_back();
      continue;
    }
    const Impl* child = owner->dependents[next++]->impl.get();
    for (DAttribute* direct : child->dependents) {
      if (direct != nullptr) result.push_back(direct);
    }
    frames.emplace_back(child, 0);
  }
  return result;
}

// ---- Impl: links -------------------------------------------------------------

void DAttribute::Impl::break_link(bool notify) {
  raise_tree_answers(*owner);
  if (link->target != nullptr) {
    // Keep what the chain read, so the attribute shows no jump in value.
    store(*owner, owner->value());
    of(*link->target).remove_dependent(owner);
    link->target = nullptr;
  }
  link.reset();
  const Watch self(*this);
  call_link_change();
  if (notify && self.alive() != nullptr) notify_all();
}

void DAttribute::Impl::forget_link() {
  if (link) raise_tree_answers(*owner);
  if (link && link->target != nullptr) of(*link->target).remove_dependent(owner);
  link.reset();
}

void DAttribute::Impl::resolve_own_link() {
  if (link) {
    raise_tree_answers(*owner);
    // found->in_link_chain(owner), at the cost of the shorter of two walks:
    // the owner lies on the chain from `found` exactly when `found` is the
    // owner or lies among the owner's dependents, transitively. So the chain
    // is walked up from `found` and the dependents down from the owner, a
    // step of each in turn. The walk up answers yes when it meets the owner
    // (the walk down could not meet `found` sooner: it passes every link
    // between them first) and no when its chain ends; the walk down answers
    // no once it has seen every dependent. A chain resolved in order meets
    // an owner without dependents, one resolved in reverse order a target
    // whose own link is not resolved yet: either way the answer comes at
    // once, where the walk up alone made long chains quadratic.
    const auto reaches_owner = [this](const DAttribute* found) {
      const DAttribute* up = found;
      // Most chains are short: a few steps up need no list for the walk down.
      for (int step = 0; step < 8; ++step) {
        if (up == nullptr) return false;
        if (up == owner) return true;
        up = target_of(*up);
      }
      std::vector<std::pair<const Impl*, std::size_t>> down{{this, 0}};
      while (true) {
        if (up == nullptr) return false;
        if (up == owner) return true;
        up = target_of(*up);
        // One dependent further down, or one list finished.
        if (down.empty()) return false;
        auto& [holder, next] = down.back();
        const std::vector<DAttribute*>& list = holder->dependents;
        while (next < list.size() &&
               (list[next] == nullptr || target_of(*list[next]) != holder->owner)) {
          ++next;
        }
        if (next == list.size()) {
          down.pop_back();
          continue;
        }
        const DAttribute* dependent = list[next++];
        if (dependent->impl && !dependent->impl->dependents.empty()) {
          down.emplace_back(dependent->impl.get(), 0);
        }
      }
    };
    DAttribute* found = find_link_target(owner, link->path);
    // The target resolved before cannot lead back, as resolved links form no
    // loop: resolving a chain again costs no walk at all.
    const char* problem = nullptr;
    if (found == nullptr) {
      link->cyclic = false;
      problem = "unresolved";
    } else if (found != link->target && reaches_owner(found)) {
      // Leaving this one without target keeps the resolved links free of loops.
      link->cyclic = true;
      if (link->target != nullptr) {
        of(*link->target).remove_dependent(owner);
        link->target = nullptr;
      }
      problem = "cyclic";
    } else {
      link->cyclic = false;
      if (found != link->target) {
        if (link->target != nullptr) of(*link->target).remove_dependent(owner);
        // Set only once registered: a failed registration must not leave a
        // target that does not list this attribute.
        link->target = nullptr;
        of(*found).add_dependent(owner);
        link->target = found;
      }
    }
    if (problem != nullptr && !link->path.empty()) {
      log(std::string("engine: ") + problem + " link `" + link->path + "` on attribute `" +
          owner->path() + "`.");
    }
  }
}

// ---- DAttribute: write side ----------------------------------------------------

DAttribute::~DAttribute() {
  if (DObjectAccess::retire_in_destructor(*this)) {
    retire_attribute(*this);
  } else if (!DObjectAccess::dying(*this)) {
    DObjectAccess::destroy_unretired(*this);
  }
  forget_kind();
}

namespace {

// The links into and out of `attribute`, broken; apart from the cheap test
// below, as most attributes have none and a teardown meets every attribute.
// Impl is the attribute's record type, which only its friend may name.
template <typename Impl>
[[gnu::noinline]] void retire_links(DAttribute& attribute, Impl& own) {
  const std::vector<DAttribute*> snapshot = own.dependents;
  // Raised by this loop's own removals too; any other change means that a
  // callback changed the list, maybe by destroying a later dependent.
  std::size_t version = own.dependents_version;
  for (DAttribute* dependent : snapshot) {
    if (dependent == nullptr) continue;
    if (own.dependents_version != version && !own.has_dependent(dependent)) continue;
    Impl& other = Impl::of(*dependent);
    // Only links that still lead here: one that a callback moved elsewhere
    // during this loop is not this attribute's to break.
    if (!other.link || other.link->target != &attribute) continue;
    Impl::store(*dependent, dependent->value());
    const bool untouched = own.dependents_version == version;
    own.remove_dependent(dependent);
    if (untouched) version = own.dependents_version;
    other.link->target = nullptr;
    other.link.reset();
    other.call_link_change();
  }
  // The value read through the link is kept only for link-change callbacks
  // that may read it; without them the copy would be thrown away unseen.
  if (own.link && own.callbacks && !own.callbacks->link_change_callbacks.empty()) {
    own.break_link(false);
  }
  own.forget_link();
  // A callback above may have linked something here again; cut those links
  // quietly (more callbacks could relink forever) so none outlives this one.
  for (DAttribute* dependent : own.dependents) {
    if (dependent == nullptr) continue;
    Impl& other = Impl::of(*dependent);
    if (!other.link || other.link->target != &attribute) continue;
    Impl::store(*dependent, dependent->value());
    other.link.reset();
  }
}

}  // namespace

void retire_attribute(DAttribute& attribute) {
  // Most attributes never had a link, callback or dependent, and most
  // records only hold callbacks or state entries.
  if (attribute.impl && (!attribute.impl->dependents.empty() || attribute.impl->link)) {
    retire_links(attribute, *attribute.impl);
  }
}

void DAttribute::set_value(const DValue& value) {
  if (Impl::linked(*this)) {
    // Copied first: the value may be the one read through the link.
    DValue stored = value;
    const DOperation operation(*this);
    const Impl::Watch self(*impl);
    impl->break_link(false);
    // A link-change callback destroyed this attribute.
    if (self.alive() == nullptr) return;
    Impl::store(*this, std::move(stored));
    impl->notify_all();
    return;
  }
  if (Impl::stored(*this) == value) return;
  Impl::store(*this, value);
  if ((states_flags & Impl::kValueKept) != 0) raise_tree_answers(*this);
  // Only callbacks, own or of dependents, can change the tree from here.
  if (impl && (impl->callbacks || !impl->dependents.empty())) {
    const DOperation operation(*this);
    impl->notify_all();
  }
}

void set_shared_value(DAttribute& attribute, const DSharedValue& value) {
  using Impl = DAttribute::Impl;
  const DOperation operation(attribute);
  if (Impl::linked(attribute)) {
    const Impl::Watch self(*attribute.impl);
    attribute.impl->break_link(false);
    // A link-change callback destroyed the attribute.
    if (self.alive() == nullptr) return;
    Impl::store_shared(attribute, value);
    attribute.impl->notify_all();
    return;
  }
  if ((attribute.states_flags & Impl::kSharedValue) != 0 &&
      attribute.impl->shared_value.same_record(value)) {
    return;
  }
  if (Impl::stored(attribute) == value.value()) return;
  Impl::store_shared(attribute, value);
  if ((attribute.states_flags & Impl::kValueKept) != 0) raise_tree_answers(attribute);
  attribute.impl->notify_all();
}

DSharedValue shared_value_of(const DAttribute& attribute) {
  if ((attribute.states_flags & DAttribute::Impl::kSharedValue) == 0) return DSharedValue();
  return attribute.impl->shared_value;
}

void DAttribute::Impl::store(DAttribute& attribute, DValue value) {
  if (worth_sharing(value)) {
    store_shared(attribute, DSharedValue(std::move(value)));
    return;
  }
  if ((attribute.states_flags & kSharedValue) != 0) {
    attribute.states_flags &= static_cast<std::uint8_t>(~kSharedValue);
    attribute.impl->shared_value = DSharedValue();
  }
  attribute.own_value = std::move(value);
}

void DAttribute::Impl::store_shared(DAttribute& attribute, const DSharedValue& value) {
  of(attribute).shared_value = value;
  attribute.own_value = DValue();
  attribute.states_flags |= kSharedValue;
}

void DAttribute::set_value(const char* text) {
  if (text == nullptr) throw std::logic_error("DAttribute::set_value: text is null");
  set_value(DValue(std::string(text)));
}

const DLink* DAttribute::link() const { return Impl::linked(*this) ? &*impl->link : nullptr; }

bool DAttribute::create_link(DAttribute* target) {
  if (target == nullptr || target->in_link_chain(this)) return false;
  const DOperation operation(*this);
  const DOperation target_operation(*target);
  // Destroying the target's tree breaks this link and tells this attribute.
  if (&tree_root(*target) != &tree_root(*this)) DObjectAccess::note_calls_out(*target);
  Impl& record = Impl::of(*this);
  Impl::store(*this, DValue());
  if (record.link) {
    const Impl::Watch self(record);
    const Impl::Watch aim(Impl::of(*target));
    impl->break_link(false);
    // A link-change callback may have destroyed either one, or linked the
    // target back to this one.
    if (self.alive() == nullptr || aim.alive() == nullptr) return false;
    if (target->in_link_chain(this)) return false;
    impl->forget_link();
  }
  // Built and registered before it is stored: a failure on the way leaves no
  // target that does not list this attribute.
  DLink made{target->path(), target, false};
  Impl& target_record = Impl::of(*target);
  target_record.add_dependent(this);
  record.link = std::move(made);
  raise_tree_answers(*this);
  const Impl::Watch self(record);
  target_record.update_link_dependencies();
  if (self.alive() != nullptr) record.notify_all();
  return true;
}

bool DAttribute::create_link(const std::string& path) {
  if (path.empty()) return false;
  const DOperation operation(*this);
  Impl& record = Impl::of(*this);
  Impl::store(*this, DValue());
  const Impl::Watch self(record);
  if (record.link) {
    record.break_link(false);
    if (self.alive() == nullptr) return false;
    record.forget_link();
  }
  record.link = DLink{path, nullptr, false};
  raise_tree_answers(*this);
  record.update_link_dependencies();
  if (self.alive() != nullptr) record.notify_all();
  return true;
}

void DAttribute::break_link(bool notify) {
  if (!Impl::linked(*this)) return;
  const DOperation operation(*this);
  impl->break_link(notify);
}

void DAttribute::resolve_links() {
  const DOperation operation(*this);
  resolve_links_within(*this);
}

void resolve_links_within(DAttribute& attribute) {
  // Each attribute's own link, then its states', then its change callbacks:
  // a frame per attribute on a stack of its own, as states nest as deep as
  // calls make them.
  // Most attributes have no states, and most states none of their own:
  // resolved without the stack.
  const auto resolve_leaf = [](DAttribute& leaf) {
    if (leaf.impl) leaf.impl->resolve_own_link();
    if (leaf.impl && !dead(leaf)) leaf.impl->call_change();
  };
  if (attribute.children().empty()) {
    resolve_leaf(attribute);
    return;
  }
  if (std::all_of(
          attribute.children().begin(), attribute.children().end(),
          [](const std::unique_ptr<DObject>& child) { return child->children().empty(); })) {
    if (attribute.impl) attribute.impl->resolve_own_link();
    for (DAttribute* state : own_states_by_name(attribute)) {
      // A callback destroyed a later state, or this attribute with them.
      if (!dead(*state)) resolve_leaf(*state);
    }
    if (attribute.impl && !dead(attribute)) attribute.impl->call_change();
    return;
  }
  struct Frame {
    DAttribute* attribute;
    std::vector<DAttribute*> states;
    std::size_t next = 0;
  };
  std::vector<Frame> frames;
  const auto enter = [&frames](DAttribute& next) {
    if (next.impl) next.impl->resolve_own_link();
    frames.push_back(Frame{&next, own_states_by_name(next), 0});
  };
  enter(attribute);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next < frame.states.size()) {
      DAttribute* state = frame.states[frame.next++];
      // A callback destroyed a later state, or this attribute with them.
      if (!dead(*state)) enter(*state);
      continue;
    }
    DAttribute& done = *frame.attribute;
    frames.pop_back();
    if (done.impl && !dead(done)) done.impl->call_change();
  }
}

bool DAttribute::in_link_chain(const DAttribute* other) const {
  if (other == nullptr) return false;
  for (const DAttribute* current = this; current != nullptr;) {
    if (current == other) return true;
    current = Impl::target_of(*current);
  }
  return false;
}

std::vector<DAttribute*> DAttribute::dependents(bool recursive) const {
  return impl ? impl->dependents_of(recursive) : std::vector<DAttribute*>{};
}

void DAttribute::update_link_dependencies() {
  if (!impl) return;
  const DOperation operation(*this);
  impl->update_link_dependencies();
}

DConnectionID DAttribute::on_change(std::function<void()> callback) {
  Impl::CallbackLists& lists = Impl::of(*this).callback_lists();
  lists.change_callbacks[lists.next_change_id] =
      std::make_shared<std::function<void()>>(std::move(callback));
  return lists.next_change_id++;
}

DConnectionID DAttribute::on_link_change(std::function<void()> callback) {
  DObjectAccess::note_calls_out(*this);
  Impl::CallbackLists& lists = Impl::of(*this).callback_lists();
  lists.link_change_callbacks[lists.next_link_change_id] =
      std::make_shared<std::function<void()>>(std::move(callback));
  return lists.next_link_change_id++;
}

void DAttribute::disconnect_change(const DConnectionID& id) {
  if (impl && impl->callbacks) impl->callbacks->change_callbacks.erase(id);
}

void DAttribute::disconnect_link_change(const DConnectionID& id) {
  if (impl && impl->callbacks) impl->callbacks->link_change_callbacks.erase(id);
}

void DAttribute::clone_to(DObject* parent) const {
  const DOperation operation(*parent);
  clone_attribute(*this, parent, copy_place(*this, *parent));
  raise_tree_generation(*parent);
}

void clone_attribute(const DAttribute& source, DObject* parent, const DCopyPlace& place) {
  // A copy placed among the states would be copied again with them, its copy
  // too, and so on: then the copy is made aside first, while it cannot land
  // there, and copied in its turn. Only states are copied, so only a parent
  // reached through state attributes lies inside; a layer ends the walk at once.
  const DObject* inside = find_up<const DObject>(parent, [&source](const DObject* up) {
    return up == &source || as_attribute(up) == nullptr;
  });
  if (inside == &source) {
    DObject aside;
    const DAttribute* copy = DAttribute::Impl::copy_tree(source, &aside, DCopyPlace{});
    DAttribute::Impl::copy_tree(*copy, parent, DCopyPlace{false, place.pool});
    return;
  }
  DAttribute::Impl::copy_tree(source, parent, place);
}

// Out of line: most values are short and copied in place.
void DAttribute::Impl::copy_shared(DAttribute& copy, const DAttribute& source,
                                   const DCopyPlace& place) {
  if (place.share_names) {
    // Names are shared exactly where the counts allow values to be.
    store_shared(copy, source.impl->shared_value);
  } else {
    store(copy, source.impl->shared_value.value());
  }
}

namespace {

// Calls take(state) for each state of `original` in the order its copy holds
// them, with room made in `copy` for them all. States held in name order, each
// name once, as a copy's always are, are what own_states_by_name would list:
// taken straight from the child list.
template <typename Take>
void states_in_copy_order(const DAttribute& original, DAttribute& copy, Take take) {
  const auto& children = original.children();
  bool in_order = true;
  const DAttribute* previous = nullptr;
  for (const auto& child : children) {
    const DAttribute* state = as_attribute(child.get());
    if (state == nullptr ||
        (previous != nullptr && !(previous->object_name() < state->object_name()))) {
      in_order = false;
      break;
    }
    previous = state;
  }
  if (in_order) {
    reserve_children(copy, children.size());
    for (const auto& child : children) take(static_cast<const DAttribute*>(child.get()));
    return;
  }
  const std::vector<DAttribute*> states = own_states_by_name(original);
  reserve_children(copy, states.size());
  for (const DAttribute* state : states) take(state);
}

}  // namespace

DAttribute* DAttribute::Impl::copy_tree(const DAttribute& source, DObject* parent,
                                        const DCopyPlace& place) {
  // Each attribute, then its states in order, each with its own: on a stack
  // of its own, as states nest as deep as calls make them. The copy lies
  // outside the source, so its child lists stay as they are.
  // Most attributes have no states, and most states none of their own:
  // copied without the stack.
  if (source.children().empty()) return copy_one(source, *parent, place);
  if (std::all_of(
          source.children().begin(), source.children().end(),
          [](const std::unique_ptr<DObject>& child) { return child->children().empty(); })) {
    DAttribute* const copy = copy_one(source, *parent, place);
    states_in_copy_order(source, *copy,
                         [&](const DAttribute* state) { copy_one(*state, *copy, place); });
    return copy;
  }
  DAttribute* top = nullptr;
  std::vector<std::pair<const DAttribute*, DObject*>> pending{{&source, parent}};
  while (!pending.empty()) {
    const auto [original, into] = pending.back();
    pending.pop_back();
    DAttribute* const copy = copy_one(*original, *into, place);
    if (top == nullptr) top = copy;
    if (original->children().empty()) continue;
    const std::size_t first = pending.size();
    states_in_copy_order(*original, *copy,
                         [&](const DAttribute* state) { pending.emplace_back(state, copy); });
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
  }
  return top;
}

DAttribute* DAttribute::Impl::copy_one(const DAttribute& source, DObject& parent,
                                       const DCopyPlace& place) {
  DAttribute* copy;
  if (place.share_names) {
    auto made = make_pooled<DAttribute>(place.pool, std::string());
    share_name(*made, source);
    copy = made.get();
    append_copy(parent, std::move(made));
  } else {
    auto made = make_pooled<DAttribute>(place.pool, source.object_name());
    copy = made.get();
    append_copy(parent, std::move(made));
  }
  if (Impl::linked(source) && !source.impl->link->path.empty()) {
    // What create_link(path) does to an attribute that has no value, link,
    // callbacks or dependents yet; the copy operation raises the tree's
    // counter once when it ends.
    of(*copy).link = DLink{source.impl->link->path, nullptr, false};
  } else if ((source.states_flags & kSharedValue) == 0) {
    copy->own_value = source.own_value;
  } else {
    copy_shared(*copy, source, place);
  }
  return copy;
}

// ---- Link targets ------------------------------------------------------------

DAttribute* find_link_target(DAttribute* attribute, const std::string& link_path) {
  if (link_path.empty()) return nullptr;
  DLayer* layer = nearest_layer(attribute);
  if (layer == nullptr) return nullptr;
  // The path's pieces as split() cuts them: layer names, then the attribute's.
  std::string_view name;
  bool has_traversal = false;
  for_each_piece(link_path, '/', [&](std::string_view piece) {
    has_traversal = has_traversal || piece.data() != link_path.data();
    name = piece;
  });
  if (!has_traversal) {
    // The nearest enclosing declaration wins.
    DAttribute* found = nullptr;
    find_up(layer, [&](DLayer* scope) { return (found = scope->find_attribute(name)) != nullptr; });
    return found;
  }
  // Walks the layer names, every piece but the last, from `start`.
  const auto walk = [&link_path](DLayer* start) {
    DLayer* current = start;
    bool pending = false;
    std::string_view previous;
    for_each_piece(link_path, '/', [&](std::string_view piece) {
      if (pending && current != nullptr) current = find_child_layer(*current, previous);
      previous = piece;
      pending = true;
    });
    return current;
  };
  DLayer* found = walk(layer->namespace_root());
  if (found == nullptr) found = walk(layer->root());
  if (found == nullptr) return nullptr;
  return found->find_attribute(name);
}

}  // namespace Drelm
