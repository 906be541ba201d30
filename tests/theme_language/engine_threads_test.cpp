#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <type_traits>
#include <variant>

#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"

namespace Drelm {
namespace {

const std::string kStyle = std::string(OMBRIX_FIXTURES_DIR) + "/drelm/style";
const std::string kExtra = std::string(OMBRIX_FIXTURES_DIR) + "/drelm/extra";

std::string value_text(const DValue& value) {
  return std::visit(
      [](const auto& held) -> std::string {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "-";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return '"' + held + '"';
        } else {
          return std::to_string(held);
        }
      },
      value);
}

// Every object below `object`, one line each: path, base or value, link.
void describe(const DObject& object, std::string& out) {
  for (const auto& child : object.children()) {
    if (const auto* layer = dynamic_cast<const DLayer*>(child.get())) {
      out += layer->path() + " << " + (layer->base() ? layer->base()->path() : "") + "\n";
    } else if (const auto* attribute = dynamic_cast<const DAttribute*>(child.get())) {
      out += attribute->path() + " = " + value_text(attribute->value()) +
             (attribute->link() ? " -> " + attribute->link()->path : "") + "\n";
    }
    describe(*child, out);
  }
}

// Loads clean fixtures as the application does: widgets, mounts, extra styles.
std::string load_and_describe() {
  DEngine engine;
  engine.load_files(kStyle + "/widgets/buttons", "Ombrix");
  engine.load_files(kStyle + "/widgets/_parts", "Ombrix");
  engine.load_files(kStyle + "/mounts", "");
  engine.load_files(kExtra, "");
  std::string out;
  describe(*engine.root(), out);
  return out;
}

TEST(EngineThreads, two_engines_load_at_once_on_two_threads_into_whole_trees) {
  const std::string expected = load_and_describe();
  ASSERT_NE(expected.find("App"), std::string::npos);
  std::string first;
  std::string second;
  std::thread one([&first] { first = load_and_describe(); });
  std::thread two([&second] { second = load_and_describe(); });
  one.join();
  two.join();
  EXPECT_EQ(first, expected);
  EXPECT_EQ(second, expected);
}

}  // namespace
}  // namespace Drelm
