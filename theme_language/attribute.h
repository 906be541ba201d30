#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "theme_language/connections.h"
#include "theme_language/object.h"

namespace Drelm {

// Value of an attribute or of a theme entry. No operation converts between
// the alternatives; colours are text "#aarrggbb".
using DValue = std::variant<std::monostate, double, bool, std::string>;

class DAttribute;
struct DValueSource;
struct DCopyPlace;
class DSharedValue;
struct DTreeStates;

// A link to another attribute, by path; target is null while unresolved or cyclic.
struct DLink {
  std::string path;
  DAttribute* target = nullptr;
  bool cyclic = false;
};

// One named value of the layer tree. Child attributes are state attributes,
// named by their sorted condition names joined with ":".
class DAttribute : public DObject {
 public:
  // Made with dMake under a layer or, as a state attribute, under an attribute.
  explicit DAttribute(const std::string& name);
  ~DAttribute() override;

  // Read side: the path, the value, and the value for a set of active states.
  std::string path() const;
  // The own value of the attribute at the end of the resolved link chain.
  const DValue& value() const;
  std::map<std::string, DAttribute*, std::less<>> states(bool inherited) const;
  bool has_states() const;
  // Best matching state attribute for the active names, or null.
  DAttribute* state(const std::vector<std::string>& active);
  // Value for the active states when it holds exactly T (double, bool or std::string).
  template <typename T>
  const T* as_if(const std::vector<std::string>& active);
  template <typename T>
  T as(const std::vector<std::string>& active);

  // Write side: a value of its own replaces a link.
  void set_value(const DValue& value);
  // REQUIRES: text is not null. Stored as a string, never parsed.
  void set_value(const char* text);

  // Links to another attribute, by pointer or by a path resolved later; null
  // from link() while the attribute holds a value of its own.
  const DLink* link() const;
  bool create_link(DAttribute* target);
  bool create_link(const std::string& path);
  void break_link(bool notify);
  void resolve_links();
  bool in_link_chain(const DAttribute* other) const;
  std::vector<DAttribute*> dependents(bool recursive) const;
  void update_link_dependencies();

  // Callbacks: on_change when the value read through this attribute may have
  // changed, on_link_change when a link on its chain changed.
  DConnectionID on_change(std::function<void()> callback);
  DConnectionID on_link_change(std::function<void()> callback);
  void disconnect_change(const DConnectionID& id);
  void disconnect_link_change(const DConnectionID& id);

  // Copies the attribute, its value or link path and its own state attributes under parent.
  void clone_to(DObject* parent) const;

 private:
  struct Impl;
  friend DValueSource value_source(DAttribute& attribute, const std::vector<std::string>& active);
  friend const DValue& value_for(DAttribute& attribute, const std::vector<std::string>& active);
  friend void clone_attribute(const DAttribute& source, DObject* parent, const DCopyPlace& place);
  friend DSharedValue shared_value_of(const DAttribute& attribute);
  friend void set_shared_value(DAttribute& attribute, const DSharedValue& value);
  friend std::size_t copied_bytes(const DObject& object);
  friend DAttribute* find_own_state(const DAttribute& attribute, std::string_view name);
  friend void retire_attribute(DAttribute& attribute);
  friend void resolve_links_within(DAttribute& attribute);

  // Small fields first, so that they fill the end of the DObject part.
  // kStateEntries: impl holds the state entries; kForeignTrees: they also
  // depend on the counters of other trees. Most attributes have neither.
  // kValueKept: a caller of value_source keeps a copy of the own value.
  // kSharedValue: the own value is held in impl's shared record, own_value
  // is empty.
  std::uint8_t states_flags = 0;
  // How far the state look-up may trust what it found: the record of the tree
  // whose counter it was checked against (null before the first look-up), and
  // the counter's value then. The entries' condition ids are that record's.
  std::uint32_t states_checked_at = 0;
  DTreeStates* states_tree = nullptr;
  // The link, callbacks, dependents and state entries; made on first use, as
  // most attributes never need them.
  std::unique_ptr<Impl> impl;
  DValue own_value;
};

extern template const double* DAttribute::as_if<double>(const std::vector<std::string>&);
extern template const bool* DAttribute::as_if<bool>(const std::vector<std::string>&);
extern template const std::string* DAttribute::as_if<std::string>(const std::vector<std::string>&);
extern template double DAttribute::as<double>(const std::vector<std::string>&);
extern template bool DAttribute::as<bool>(const std::vector<std::string>&);
extern template std::string DAttribute::as<std::string>(const std::vector<std::string>&);

}  // namespace Drelm
