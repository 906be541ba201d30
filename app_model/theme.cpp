#include "app_model/theme.h"

#include <cstdlib>

#include <nlohmann/json.hpp>

namespace Ombrix {

namespace {

// Keys of the legacy two-stop "Gradient" array: position and colour of each stop.
constexpr const char* kLegacyGradientKeys[2][2] = {
    {"Gradient.Start", "Gradient.Start Color"},
    {"Gradient.End", "Gradient.End Color"},
};

Drelm::DValue to_value(const nlohmann::ordered_json& json) {
  if (json.is_string()) return json.get<std::string>();
  if (json.is_boolean()) return json.get<bool>();
  if (json.is_number()) return json.get<double>();
  return std::monostate{};
}

void copy_meta_string(const nlohmann::ordered_json& meta, const char* key, std::string& field) {
  auto it = meta.find(key);
  if (it != meta.end() && it->is_string()) field = it->get<std::string>();
}

}  // namespace

OTheme::OTheme(const std::string& name, const nlohmann::ordered_json& body) : name(name) {
  if (!body.is_object()) return;
  for (auto it = body.begin(); it != body.end(); ++it) {
    const std::string& key = it.key();
    const nlohmann::ordered_json& member = it.value();
    if (key == "_meta") {
      if (member.is_object()) {
        copy_meta_string(member, "publisher", publisher);
        copy_meta_string(member, "uuid", uuid);
        copy_meta_string(member, "type", type);
      }
      continue;
    }
    if (key == "Gradient" && expand_legacy_gradient(member, values)) continue;
    // Later members replace earlier ones, the expanded legacy gradient included.
    values.insert_or_assign(key, to_value(member));
  }
}

std::string OTheme::display_id() const {
  if (!publisher.empty()) return name + " (" + publisher + ")";
  if (!uuid.empty()) return name + " (" + uuid + ")";
  return name;
}

const Drelm::DValue* OTheme::value(std::string_view key) const {
  auto it = values.find(key);
  return it == values.end() ? nullptr : &it->second;
}

std::string OTheme::color(std::string_view key) const {
  const Drelm::DValue* stored = value(key);
  if (!stored) return "";
  const std::string* text = std::get_if<std::string>(stored);
  return text ? *text : "";
}

const std::vector<std::pair<std::string, Drelm::DValue>>& OTheme::canonical_defaults() {
  static const std::vector<std::pair<std::string, Drelm::DValue>> defaults = {
      {"Foreground", Drelm::DValue{std::string("#e3e3e3")}},
      {"Gradient.Start", Drelm::DValue{0.0}},
      {"Gradient.Start Color", Drelm::DValue{std::string("#3a3c42")}},
      {"Gradient.End", Drelm::DValue{1.0}},
      {"Gradient.End Color", Drelm::DValue{std::string("#42454d")}},
      {"Primary", Drelm::DValue{std::string("#36393f")}},
      {"Secondary", Drelm::DValue{std::string("#2f3136")}},
      {"Tertiary", Drelm::DValue{std::string("#25272b")}},
  };
  return defaults;
}

bool expand_legacy_gradient(const nlohmann::ordered_json& value, ThemeValues& values) {
  if (!value.is_array() || value.size() != 2) return false;
  double positions[2] = {0, 0};
  std::string colors[2];
  for (std::size_t i = 0; i < 2; ++i) {
    const nlohmann::ordered_json& stop = value[i];
    if (!stop.is_string()) return false;
    const std::string& text = stop.get_ref<const std::string&>();
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    positions[i] = std::strtod(text.substr(0, colon).c_str(), nullptr);
    colors[i] = text.substr(colon + 1);
  }
  // Both stops are valid: only now is anything written.
  for (std::size_t i = 0; i < 2; ++i) {
    values.insert_or_assign(kLegacyGradientKeys[i][0], Drelm::DValue{positions[i]});
    values.insert_or_assign(kLegacyGradientKeys[i][1], Drelm::DValue{std::move(colors[i])});
  }
  return true;
}

}  // namespace Ombrix
