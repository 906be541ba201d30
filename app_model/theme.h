#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "theme_language/attribute.h"

namespace Ombrix {

using ThemeValues = std::map<std::string, Drelm::DValue, std::less<>>;

// A theme: named colours and gradient stops, with its meta data.
struct OTheme {
  std::string name;
  std::string publisher;
  std::string uuid;
  std::string type;
  ThemeValues values;

  OTheme() = default;
  OTheme(const std::string& name, const nlohmann::ordered_json& body);

  // name, then " (" publisher or uuid ")" when one is set.
  std::string display_id() const;
  const Drelm::DValue* value(std::string_view key) const;
  // The stored text; "" when absent or of another kind.
  std::string color(std::string_view key) const;

  // The keys written into the "Theme" layer, in order, with their defaults.
  static const std::vector<std::pair<std::string, Drelm::DValue>>& canonical_defaults();
};

// Expands the legacy two-stop "Gradient" array into its four keys; false when
// the value is not such an array (then nothing is written).
bool expand_legacy_gradient(const nlohmann::ordered_json& value, ThemeValues& values);

}  // namespace Ombrix
