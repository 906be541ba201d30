#include "benchmarks/collisions.h"

#include <string>
#include <vector>

namespace bench {

namespace {

std::string theme_of(const std::vector<std::string>& names, bool nested) {
  std::string text = nested ? "{\"Scaled\": {\"Primary\": \"#36393f\", \"Nested\": {"
                            : "{\"Scaled\": {\"Primary\": \"#36393f\"";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0 || !nested) text += ", ";
    text += '"' + names[i] + "\": \"#10203040\"";
  }
  return text + (nested ? "}}}" : "}}");
}

std::vector<std::string> plain_names(int count) {
  std::vector<std::string> names;
  names.reserve(count);
  for (int i = 0; i < count; ++i) names.push_back("Member.Name." + std::to_string(i));
  return names;
}

}  // namespace

std::string theme_members(int count) { return theme_of(plain_names(count), false); }

std::string theme_members_colliding(int count) {
  return theme_of(names_colliding_in_std_hash(count), false);
}

std::string theme_members_nested(int count) { return theme_of(plain_names(count), true); }

std::string theme_members_nested_colliding(int count) {
  return theme_of(names_colliding_in_std_hash(count), true);
}

std::string layer_names_colliding(int count) {
  std::string source = "Colliding:\n";
  for (const std::string& name : names_colliding_in_name_hash(count)) source += " " + name + "\n";
  return source;
}

std::string attribute_names_colliding(int count) {
  std::string source = "Colliding:\n";
  for (const std::string& name : names_colliding_in_name_hash(count)) {
    source += " " + name + ": 1\n";
  }
  return source;
}

}  // namespace bench
