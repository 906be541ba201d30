// The calls on the layer tree, and the bounds that keep what they may grow
// to small enough for every input to stay well under a second.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "fuzz/calls_runner.h"
#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/object.h"

namespace fuzz {
namespace calls {
namespace {

constexpr std::size_t kSaturated = std::size_t(1) << 40;

const std::vector<std::string>& active_states(std::uint8_t which) {
  static const std::array<std::vector<std::string>, 6> lists = {
      std::vector<std::string>{},
      std::vector<std::string>{"Hover"},
      std::vector<std::string>{"Hover", "Pressed"},
      std::vector<std::string>{"Selected"},
      std::vector<std::string>{"Checked", "Hover", "Selected"},
      std::vector<std::string>{"", "First", "Last"},
  };
  return lists[which % lists.size()];
}

DValue value_of(std::uint8_t which) {
  switch (which % 20) {
    case 0:
      return DValue{};
    case 1:
      return DValue{0.0};
    case 2:
      return DValue{-0.0};
    case 3:
      return DValue{1.0};
    case 4:
      return DValue{12.5};
    case 5:
      return DValue{std::numeric_limits<double>::quiet_NaN()};
    case 6:
      return DValue{true};
    case 7:
      return DValue{false};
    case 8:
      return DValue{std::string()};
    case 9:
      return DValue{std::string("#ff102030")};
    case 10:
      return DValue{std::string("List:items")};
    case 11:
      return DValue{std::string("ThemeList")};
    case 12:
      return DValue{std::string("Field:title; State:Selected:flag")};
    case 13:
      return DValue{std::string("list:add:items")};
    case 14:
      return DValue{std::string("list:remove")};
    case 15:
      return DValue{std::string("x")};
    case 16:
      return DValue{std::string("a value long enough to live outside the inline buffer")};
    case 17:
      return DValue{1e308};
    case 18:
      return DValue{-1.0};
    default:
      return DValue{std::string("column")};
  }
}

}  // namespace

std::size_t Runner::depth_of(const DObject* object) {
  std::size_t levels = 0;
  for (const DObject* up = object->parent(); up != nullptr; up = up->parent()) ++levels;
  return levels;
}

void Runner::subtree(DObject* top, std::unordered_set<const DObject*>& out) {
  std::vector<DObject*> open = {top};
  while (!open.empty()) {
    DObject* object = open.back();
    open.pop_back();
    out.insert(object);
    for (const auto& child : object->children()) open.push_back(child.get());
  }
}

std::pair<std::size_t, std::size_t> Runner::size_and_height(const DObject* top) {
  std::size_t size = 0;
  std::size_t height = 0;
  std::vector<std::pair<const DObject*, std::size_t>> open = {{top, 1}};
  while (!open.empty()) {
    const auto [object, level] = open.back();
    open.pop_back();
    ++size;
    height = std::max(height, level);
    for (const auto& child : object->children()) open.emplace_back(child.get(), level + 1);
  }
  return {size, height};
}

bool Runner::inside(const DObject* object, const DObject* top) const {
  for (const DObject* up = object; up != nullptr; up = up->parent()) {
    if (up == top) return true;
  }
  return false;
}

Runner::Growth Runner::estimate(DObject* object, std::unordered_map<const DObject*, Growth>& memo,
                                std::unordered_set<const DObject*>& open) {
  if (const auto it = memo.find(object); it != memo.end()) return it->second;
  if (open.count(object) != 0) return {};
  open.insert(object);
  Growth growth{1, 1};
  for (const auto& child : object->children()) {
    const Growth part = estimate(child.get(), memo, open);
    growth.size = std::min(growth.size + part.size, kSaturated);
    growth.height = std::max(growth.height, part.height + 1);
  }
  if (DLayer* layer = as_layer(object); layer != nullptr && is_alive(layer->base())) {
    const Growth part = estimate(layer->base(), memo, open);
    growth.size = std::min(growth.size + part.size, kSaturated);
    growth.height = std::max(growth.height, part.height);
  }
  open.erase(object);
  memo.emplace(object, growth);
  return growth;
}

// Largest estimate of any layer, and the estimate of all trees together.
std::pair<Runner::Growth, std::size_t> Runner::estimate_all() {
  list_objects();
  std::unordered_map<const DObject*, Growth> memo;
  std::unordered_set<const DObject*> open;
  Growth total;
  std::size_t largest = 0;
  std::vector<DObject*> tops = {root()};
  for (const auto& object : detached) tops.push_back(object.get());
  for (DObject* top : tops) {
    const Growth part = estimate(top, memo, open);
    total.size = std::min(total.size + part.size, kSaturated);
    total.height = std::max(total.height, part.height);
  }
  for (DObject* object : all) {
    if (as_layer(object) != nullptr) largest = std::max(largest, memo[object].size);
  }
  return {total, largest};
}

// A layer whose base contains it, as a copy placed inside its base has.
bool Runner::has_base_around_it() {
  list_objects();
  return std::any_of(all.begin(), all.end(), [&](DObject* object) {
    DLayer* candidate = as_layer(object);
    return candidate != nullptr && candidate->base() != nullptr &&
           inside(candidate, candidate->base());
  });
}

// ---- the layer tree ----

void Runner::select(std::uint8_t r, std::uint8_t mode, std::uint8_t a) {
  list_objects();
  switch (mode % 8) {
    case 0:
      put(r, all[(std::size_t(a) * 131 + mode) % all.size()]);
      break;
    case 1: {
      const std::string path = kPaths[a % kPaths.size()];
      if (path.empty()) {
        put(r, root());
      } else if ((mode & 8) != 0) {
        put(r, app->engine().find_layer(Drelm::split<std::deque<std::string>>(path, '/')));
      } else {
        put(r, app->engine().find_layer(path));
      }
      break;
    }
    case 2:
      if (DObject* parent = reg(a)) {
        const auto& children = parent->children();
        if (!children.empty()) put(r, children[(a >> 3) % children.size()].get());
      }
      break;
    case 3:
      if (DObject* object = reg(a)) put(r, object->parent());
      break;
    case 4:
      if (DLayer* object = layer(a)) put(r, object->base());
      break;
    case 5:
      if (DLayer* object = layer(a)) {
        const char* name = kNames[(a >> 3) % kNames.size()];
        switch (mode >> 3 & 3) {
          case 0:
            put(r, object->find_attribute(std::string_view(name)));
            break;
          case 1:
            put(r, object->find_attribute(std::string(name)));
            break;
          default:
            put(r, object->find_attribute(name));
            break;
        }
      }
      break;
    case 6:
      if (DAttribute* object = attribute(a)) {
        if ((mode & 8) != 0) {
          put(r, Drelm::find_link_target(object, kPaths[(a >> 3) % kPaths.size()]));
        } else if (const Drelm::DLink* link = object->link()) {
          put(r, link->target);
        }
      }
      break;
    default:
      if (DAttribute* object = attribute(a)) {
        put(r, object->state(active_states(mode >> 3)));
      } else if (DLayer* object = layer(a)) {
        put(r, (mode & 8) != 0 ? object->namespace_root() : object->root());
      }
      break;
  }
}

void Runner::make(std::uint8_t r, std::uint8_t p, std::uint8_t name, bool make_layer) {
  DObject* parent = reg(p);
  if (parent == nullptr || all.size() >= kObjects || depth_of(parent) + 1 > kDepth) return;
  const char* text = kNames[name % kNames.size()];
  if (make_layer) {
    if (as_layer(parent) == nullptr) return;
    changed();
    put(r, Drelm::dMake<DLayer>(parent, text));
  } else {
    changed();
    put(r, Drelm::dMake<DAttribute>(parent, text));
  }
}

void Runner::make_detached(std::uint8_t r, std::uint8_t kind, std::uint8_t name) {
  list_objects();
  if (all.size() >= kObjects || detached.size() >= 8) return;
  changed();
  switch (kind % 4) {
    case 0:
      detached.push_back(std::make_unique<DLayer>(kNames[name % kNames.size()]));
      break;
    case 1:
      detached.push_back(std::make_unique<DLayer>());
      break;
    case 2:
      detached.push_back(std::make_unique<DAttribute>(kNames[name % kNames.size()]));
      break;
    default: {
      // A tree as a program builds one to copy from: a widget with a state
      // value and a layer derived from it, its bases resolved. Copies of
      // "Thing" keep their base here, in another tree.
      auto top = std::make_unique<DLayer>();
      DLayer* widget = Drelm::dMake<DLayer>(top.get(), kNames[name % kNames.size()]);
      DAttribute* fill = Drelm::dMake<DAttribute>(widget, "Fill");
      fill->set_value(value_of(name));
      Drelm::dMake<DAttribute>(fill, "Hover")->set_value(value_of(name >> 3));
      DLayer* thing = Drelm::dMake<DLayer>(top.get(), "Thing");
      thing->set_base_path(widget->object_name());
      Drelm::dMake<DAttribute>(thing, "Text")->set_value(value_of(kind >> 2));
      top->resolve_bases();
      detached.push_back(std::move(top));
      put(static_cast<std::uint8_t>(r + 1), thing);
      break;
    }
  }
  put(r, detached.back().get());
}

void Runner::adopt(std::uint8_t p, std::uint8_t c) {
  DObject* parent = reg(p);
  DObject* child = reg(c);
  if (parent == nullptr || child == nullptr || inside(parent, child)) return;
  if (as_layer(child) != nullptr && as_layer(parent) == nullptr) return;
  const auto it = std::find_if(detached.begin(), detached.end(),
                               [&](const auto& object) { return object.get() == child; });
  if (it == detached.end()) return;
  if (depth_of(parent) + 1 + size_and_height(child).second > kDepth) return;
  std::unique_ptr<DObject> owned = std::move(*it);
  detached.erase(it);
  changed();
  (void)parent->add_child(std::move(owned));
}

void Runner::destroy(std::uint8_t p, std::uint8_t c, std::uint8_t how) {
  DObject* parent = reg(p);
  DObject* child = reg(c);
  if ((how & 1) != 0 && child != nullptr && child->parent() == nullptr) {
    // The owner of a parentless object destroys it.
    const auto it = std::find_if(detached.begin(), detached.end(),
                                 [&](const auto& object) { return object.get() == child; });
    if (it == detached.end()) return;
    std::unique_ptr<DObject> doomed = std::move(*it);
    detached.erase(it);
    changed();
    ++destroying;
    doomed.reset();
    --destroying;
    return;
  }
  // Bases, their attributes and whole trees go too: whoever derives from them
  // or looks their states up must forget them.
  if (parent == nullptr) return;
  changed();
  ++destroying;
  parent->destroy_child(child);  // a non-child (or null) changes nothing
  --destroying;
}

void Runner::reorder(std::uint8_t p, std::uint8_t count, std::uint8_t first, Reader& in) {
  DObject* parent = reg(p);
  if (parent == nullptr) return;
  const auto& children = parent->children();
  std::vector<DObject*> order;
  std::uint8_t pick = first;
  for (std::uint8_t i = 0; i < count % 6; ++i) {
    if (i > 0) pick = in.u8();
    if (children.empty()) continue;
    DObject* child = children[pick % children.size()].get();
    if (std::find(order.begin(), order.end(), child) == order.end()) order.push_back(child);
  }
  changed();
  parent->reorder_children(order);
}

void Runner::finalize(std::uint8_t l) {
  DLayer* target = layer(l);
  if (target == nullptr) return;
  const auto [total, largest] = estimate_all();
  (void)largest;
  if (total.size > kObjects || total.height > kDepth) return;
  if (OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS && has_base_around_it()) return;
  changed();
  ++merging;
  target->finalize();
  --merging;
  changed();
}

void Runner::clone(std::uint8_t s, std::uint8_t d) {
  DObject* source = reg(s);
  DObject* parent = reg(d);
  if (source == nullptr || parent == nullptr) return;
#if OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS
  if (inside(parent, source)) return;
#endif
  const auto [size, height] = size_and_height(source);
  if (all.size() + size > kObjects || depth_of(parent) + 1 + height > kDepth) return;
  if (DLayer* original = as_layer(source)) {
    if (as_layer(parent) == nullptr) return;
    changed();
    original->clone_to(parent);
  } else if (DAttribute* original = as_attribute(source)) {
    changed();
    original->clone_to(parent);
  }
  changed();
}

void Runner::resolve_links(std::uint8_t o, std::uint8_t which) {
  ++resolving;
  if (DAttribute* target = attribute(o)) {
    target->resolve_links();
  } else if (DLayer* target = layer(o)) {
    if ((which & 1) != 0) {
      app->engine().resolve_links();
    } else {
      target->resolve_links();
    }
  }
  --resolving;
}

void Runner::set_value(std::uint8_t a, std::uint8_t v) {
  DAttribute* target = attribute(a);
  if (target == nullptr) return;
  const DValue value = value_of(v);
  if ((v & 0x80) != 0 && std::holds_alternative<std::string>(value)) {
    target->set_value(std::get<std::string>(value).c_str());
  } else {
    target->set_value(value);
  }
}

void Runner::on_change(std::uint8_t a, std::uint8_t kind, std::size_t begin, std::size_t end) {
  DAttribute* target = attribute(a);
  if (target == nullptr || connections.size() >= 64) return;
  // The callback keeps a count of its own: state that must survive its calls.
  auto callback = [this, target, begin, end, calls = 0]() mutable {
    fire(begin, end, target);
    ++calls;
  };
  const bool link_change = (kind & 1) != 0;
  const Drelm::DConnectionID id =
      link_change ? target->on_link_change(callback) : target->on_change(callback);
  connections.push_back({target, id, link_change});
}

void Runner::disconnect(std::uint8_t k, std::uint8_t also) {
  if (connections.empty()) return;
  const Connection connection = connections[k % connections.size()];
  if (!is_alive(connection.attribute) || as_attribute(connection.attribute) == nullptr) return;
  const Drelm::DConnectionID id = (also & 1) != 0 ? Drelm::DConnectionID(also >> 1) : connection.id;
  if (connection.link_change) {
    connection.attribute->disconnect_link_change(id);
  } else {
    connection.attribute->disconnect_change(id);
  }
}

void Runner::on_destroyed(std::uint8_t o, std::uint8_t k, std::size_t begin, std::size_t end) {
  DObject* object = reg(o);
  if (object == nullptr) return;
  if ((k & 1) == 0 && destroy_connections.size() < 64) {
    // Destroy callbacks may destroy more, a child that a register holds, or
    // run a program: destroy, rename, switch themes, change handlers.
    destroy_connections.emplace_back(object, object->on_destroyed([this, k, begin, end] {
      ++destroyed_seen;
      if (tearing_down) return;
      if (begin != end) fire(begin, end);
      if ((k & 2) == 0 || tearing_down) return;
      ++calls_made;
      DObject* doomed = reg(static_cast<std::uint8_t>(k >> 2));
      if (doomed == nullptr || doomed->parent() == nullptr) return;
      note("  destroy callback destroys r" + std::to_string(k >> 2));
      changed();
      doomed->parent()->destroy_child(doomed);
      changed();
    }));
  } else if (!destroy_connections.empty()) {
    const auto [owner, id] = destroy_connections[(k >> 1) % destroy_connections.size()];
    if (is_alive(owner)) owner->disconnect_destroyed(id);
  }
}

void Runner::read(std::uint8_t o, std::uint8_t what, std::uint8_t c) {
  std::size_t sink = 0;
  const std::vector<std::string>& active = active_states(c);
  if (DAttribute* target = attribute(o)) {
    switch (what % 10) {
      case 0:
        sink += target->value().index();
        break;
      case 1:
        sink += target->as_if<double>(active) != nullptr;
        break;
      case 2:
        sink += target->as_if<bool>(active) != nullptr;
        break;
      case 3:
        sink += target->as_if<std::string>(active) != nullptr;
        break;
      case 4:
        sink += std::size_t(target->as<bool>(active)) + target->as<std::string>(active).size() +
                std::size_t(target->as<double>(active) > 0);
        break;
      case 5:
        sink += target->states((c & 1) != 0).size() + target->has_states();
        break;
      case 6:
        sink += target->path().size();
        break;
      case 7:
        sink += target->dependents((c & 1) != 0).size();
        break;
      case 8:
        sink += target->in_link_chain(attribute(c));
        break;
      default:
        if (const Drelm::DLink* link = target->link()) sink += link->path.size() + link->cyclic;
        break;
    }
  } else if (DLayer* target = layer(o)) {
    switch (what % 8) {
      case 0:
        sink += target->path().size() + target->base_path().size();
        break;
      case 1:
        sink += target->has_unresolved_base() + target->dependencies().size();
        break;
      case 2:
        sink += target->children().size() + target->attributes().size();
        break;
      case 3:
        sink += target->find_layer(std::string(kPaths[c % kPaths.size()])) != nullptr;
        break;
      case 4: {
        std::vector<DAttribute*> found;
        target->find_children_helper<DAttribute>(target, found, (c & 1) != 0);
        sink += found.size();
        break;
      }
      case 5: {
        std::vector<DLayer*> found;
        target->find_children_helper<DLayer>(target, found, (c & 1) != 0);
        sink += found.size();
        break;
      }
      case 6:
        sink += target->children_version() + target->object_name().size();
        break;
      default:
        sink += Drelm::split<std::deque<std::string>>(kPaths[c % kPaths.size()], '/').size();
        break;
    }
  }
  if (trace != nullptr) note("  = " + std::to_string(sink));
}

}  // namespace calls
}  // namespace fuzz
