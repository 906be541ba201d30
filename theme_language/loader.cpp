#include "theme_language/loader.h"

#include <algorithm>
#include <cstddef>
#include <set>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>

#include "theme_language/internal/load_limits.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/shared_value.h"
#include "theme_language/internal/tree_access.h"
#include "theme_language/layer.h"
#include "theme_language/object.h"

namespace Drelm {

struct DLoader::Impl {
  DLayer* target = nullptr;
  // State attributes set by an attribute's own state entry during the current
  // lower call; state-set blocks of the same file must not overwrite them.
  std::set<DAttribute*> touched;
  // While lower() runs: each long text of the file, held once for every
  // attribute that its expansions give it. Keyed by the text's place in the
  // parse tree, which stays put and unchanged until lower() returns; the
  // loader's own paths pass only texts of that tree.
  bool lowering = false;
  std::unordered_map<const std::string*, DSharedValue> shared_texts;

  // state() with the entry's parts apart, so that the value of a state-set
  // entry is read in the parse tree rather than copied.
  static DAttribute* state(DLoader& loader, const std::vector<std::string>& conditions,
                           const DExpression& value, DAttribute* attribute, bool from_state_set);
};

namespace {

// dMake with the object taken from the pool of the parent's tree. Looked up
// each time: the helpers may be given a parent in any tree.
template <typename T>
T* make_child(DObject* parent, const std::string& name) {
  auto made = make_pooled<T>(object_pool(*parent), name);
  T* raw = made.get();
  parent->add_child(std::move(made));
  return raw;
}

std::string state_key(std::vector<std::string> conditions) {
  std::sort(conditions.begin(), conditions.end());
  std::string key;
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    if (i > 0) key += ':';
    key += conditions[i];
  }
  return key;
}

// The text that expand() gives for a name written without alternatives: its
// non-empty parts joined by spaces. Empty text means expand() gives nothing.
// Returns false, leaving `text` unspecified, when a part has alternatives.
bool join_plain(const DName& name, std::string& text) {
  text.clear();
  for (const auto& part : name.parts) {
    if (part.size() != 1) return false;
    const std::string& word = part.front();
    if (word.empty()) continue;
    if (!text.empty()) text += ' ';
    text += word;
  }
  return true;
}

enum class DPlainTargets { EXPANDS, NONE, ONE };

// Nearly every declaration has no alternatives: its one target, if any, is
// made here without the lists that expand_declaration builds.
DPlainTargets plain_target(const DDeclaration& declaration, DTarget& target) {
  std::string group;
  if (!join_plain(declaration.group, group) || !join_plain(declaration.name, target.name)) {
    return DPlainTargets::EXPANDS;
  }
  target.layer_path.resize(declaration.traversal.size());
  for (std::size_t i = 0; i < declaration.traversal.size(); ++i) {
    if (!join_plain(declaration.traversal[i], target.layer_path[i])) return DPlainTargets::EXPANDS;
  }
  for (const auto& name : target.layer_path) {
    if (name.empty()) return DPlainTargets::NONE;
  }
  if (target.name.empty()) return DPlainTargets::NONE;
  if (!group.empty()) target.name.insert(0, group + '.');
  return DPlainTargets::ONE;
}

// Calls `lower` for each target of the declaration, in expand_declaration's order.
template <typename Lower>
void for_each_target(const DDeclaration& declaration, Lower&& lower) {
  DTarget target;
  switch (plain_target(declaration, target)) {
    case DPlainTargets::ONE:
      lower(target);
      return;
    case DPlainTargets::NONE:
      return;
    case DPlainTargets::EXPANDS:
      for (const auto& expanded : expand_declaration(declaration)) lower(expanded);
      return;
  }
}

}  // namespace

std::string flatten(const std::string& group, const std::string& name) {
  if (group.empty()) return name;
  return group + "." + name;
}

std::string reference_path(const DReference& reference) {
  std::string path;
  for (const auto& name : reference.traversal) {
    path += name;
    path += '/';
  }
  path += flatten(reference.group, reference.name);
  return path;
}

DValue to_variant(const DLiteral& literal) {
  return std::visit(
      [](const auto& value) -> DValue {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return DValue{};
        } else if constexpr (std::is_same_v<T, DColor>) {
          return DValue{to_string(value)};
        } else {
          return DValue{value};
        }
      },
      literal);
}

std::vector<std::string> expand(const DName& name) {
  if (name.parts.empty()) return {};
  std::vector<std::string> current{std::string()};
  for (const auto& part : name.parts) {
    std::vector<std::string> next;
    next.reserve(current.size() * part.size());
    for (const auto& text : current) {
      for (const auto& alternative : part) {
        if (alternative.empty()) {
          next.push_back(text);
        } else if (text.empty()) {
          next.push_back(alternative);
        } else {
          next.push_back(text + " " + alternative);
        }
      }
    }
    current = std::move(next);
  }
  std::erase_if(current, [](const std::string& text) { return text.empty(); });
  return current;
}

std::vector<std::vector<std::string>> expand_traversal(const std::vector<DName>& names) {
  std::vector<std::vector<std::string>> paths(1);
  for (const auto& name : names) {
    const auto expansions = expand(name);
    std::vector<std::vector<std::string>> next;
    next.reserve(paths.size() * expansions.size());
    for (const auto& path : paths) {
      for (const auto& expansion : expansions) {
        auto longer = path;
        longer.push_back(expansion);
        next.push_back(std::move(longer));
      }
    }
    paths = std::move(next);
  }
  return paths;
}

std::vector<DTarget> expand_declaration(const DDeclaration& declaration) {
  DTarget target;
  switch (plain_target(declaration, target)) {
    case DPlainTargets::ONE:
      return {std::move(target)};
    case DPlainTargets::NONE:
      return {};
    case DPlainTargets::EXPANDS:
      break;
  }
  auto groups = expand(declaration.group);
  if (groups.empty()) groups.emplace_back();
  const auto names = expand(declaration.name);
  const auto paths = expand_traversal(declaration.traversal);
  std::vector<DTarget> targets;
  targets.reserve(paths.size() * groups.size() * names.size());
  for (const auto& path : paths) {
    for (const auto& group : groups) {
      for (const auto& name : names) targets.push_back(DTarget{path, flatten(group, name)});
    }
  }
  return targets;
}

DLoader::DLoader(DLayer* target) : impl(std::make_unique<Impl>()) { impl->target = target; }

DLoader::~DLoader() = default;

void DLoader::lower(const DLayerNode& root) {
  const DOperation operation(*impl->target);
  impl->touched.clear();
  struct Lowering {
    explicit Lowering(Impl& impl) : impl(impl) { impl.lowering = true; }
    ~Lowering() {  // also when lowering throws
      impl.lowering = false;
      impl.shared_texts.clear();
    }
    Impl& impl;
  } lowering(*impl);
  lower_statements(root, impl->target);
  impl->touched.clear();
}

void DLoader::lower_statements(const DLayerNode& node, DLayer* layer) {
  static const std::vector<std::string> no_states;
  struct Lowering {
    DLoader& loader;
    DLayer* into;

    void attribute(const DAttributeNode& attribute_node, const DStateSet* set) {
      const std::vector<std::string>& states = set != nullptr ? set->conditions : no_states;
      for_each_target(attribute_node.declaration, [&](const DTarget& target) {
        loader.lower_attribute(attribute_node, target, into, states);
      });
    }
    void group_set(const DGroupSet& group_set, const DStateSet* set) {
      loader.lower_group_set(group_set, into, set != nullptr ? set->conditions : no_states);
    }
    void layer(const DLayerNode& layer_node) {
      for_each_target(layer_node.declaration, [&](const DTarget& target) {
        DLayer* declared = loader.layer(target.name, loader.layer(target.layer_path, into));
        // A callback destroyed where it would go.
        if (dead(*declared)) return;
        if (layer_node.inherits) declared->set_base_path(reference_path(*layer_node.inherits));
        loader.lower_statements(layer_node, declared);
      });
    }
  } lowering{*this, layer};
  for_each_statement<true>(node, lowering);
}

void DLoader::lower_attribute(const DAttributeNode& node, const DTarget& target, DLayer* layer,
                              const std::vector<std::string>& states) {
  DLayer* into = this->layer(target.layer_path, layer);
  // Change callbacks of what was lowered before may have destroyed it.
  if (dead(*into)) return;
  DAttribute* declared = attribute(target.name, into);
  if (states.empty()) {
    apply(declared, node.value);
    for (const auto& entry : node.states) {
      if (dead(*declared)) return;
      state(entry, declared, false);
    }
    return;
  }
  Impl::state(*this, states, node.value, declared, true);
}

void DLoader::lower_group_set(const DGroupSet& group_set, DLayer* layer,
                              const std::vector<std::string>& states) {
  const auto groups = expand(group_set.declaration.group);
  for (const auto& path : expand_traversal(group_set.declaration.traversal)) {
    for (const auto& group : groups) {
      for (const auto& attribute_node : group_set.attributes) {
        for (const auto& name : expand(attribute_node.declaration.name)) {
          lower_attribute(attribute_node, DTarget{path, flatten(group, name)}, layer, states);
        }
      }
    }
  }
}

DAttribute* DLoader::state(const DState& entry, DAttribute* attribute, bool from_state_set) {
  return Impl::state(*this, entry.conditions, entry.value, attribute, from_state_set);
}

DAttribute* DLoader::Impl::state(DLoader& loader, const std::vector<std::string>& conditions,
                                 const DExpression& value, DAttribute* attribute,
                                 bool from_state_set) {
  const std::string key = state_key(conditions);
  DAttribute* state_attribute = find_own_state(*attribute, key);
  if (state_attribute == nullptr) state_attribute = make_child<DAttribute>(attribute, key);
  if (from_state_set) {
    if (!loader.impl->touched.contains(state_attribute)) loader.apply(state_attribute, value);
  } else {
    loader.apply(state_attribute, value);
    loader.impl->touched.insert(state_attribute);
  }
  return state_attribute;
}

void DLoader::apply(DAttribute* attribute, const DExpression& expression) {
  if (const auto* reference = std::get_if<DReference>(&expression)) {
    attribute->create_link(reference_path(*reference));
    return;
  }
  if (attribute->link() != nullptr) attribute->break_link(false);
  const DLiteral& literal = std::get<DLiteral>(expression);
  const auto* text = std::get_if<std::string>(&literal);
  if (impl->lowering && text != nullptr && text->size() >= kSharedTextBytes) {
    DSharedValue& shared = impl->shared_texts[text];
    if (!shared) shared = DSharedValue(DValue(*text));
    set_shared_value(*attribute, shared);
    return;
  }
  attribute->set_value(to_variant(literal));
}

DAttribute* DLoader::attribute(const std::string& name, DLayer* layer) {
  if (DAttribute* existing = layer->find_attribute(name)) return existing;
  return make_child<DAttribute>(layer, name);
}

DLayer* DLoader::layer(const std::string& name, DLayer* layer) {
  // Nothing is made under a destroyed layer; the caller skips it.
  if (dead(*layer)) return layer;
  // The list form, so that a name is never read as a path.
  if (DLayer* existing = find_child_layer(*layer, name)) return existing;
  return make_child<DLayer>(layer, name);
}

DLayer* DLoader::layer(const std::vector<std::string>& names, DLayer* layer) {
  for (const auto& name : names) layer = this->layer(name, layer);
  return layer;
}

}  // namespace Drelm
