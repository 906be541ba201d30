#pragma once

// The fixture model under tests/fixtures/app, and look-ups of rendered
// children by name.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_model/app.h"

namespace support {

inline const std::string kFixtureApp = std::string(OMBRIX_FIXTURES_DIR) + "/app";

// The fixture styles and themes with "Dusk (North)" active, rendering from root.
inline std::unique_ptr<Ombrix::OApp> load_app(const std::string& root) {
  auto app = std::make_unique<Ombrix::OApp>();
  app->root_name = root;
  EXPECT_TRUE(app->init(kFixtureApp + "/themes", kFixtureApp + "/styles", "Dusk (North)", {}));
  EXPECT_TRUE(app->engine().unresolved_links().empty());
  return app;
}

inline const Ombrix::RenderNode* child(const Ombrix::RenderNode& node, const std::string& name) {
  for (const Ombrix::RenderNode& c : node.children) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

// The node reached by following child names; throws when one is missing.
inline const Ombrix::RenderNode& at(const Ombrix::RenderNode& node,
                                    const std::vector<std::string>& names) {
  const Ombrix::RenderNode* current = &node;
  for (const std::string& name : names) {
    current = child(*current, name);
    if (current == nullptr) throw std::runtime_error("no node " + name);
  }
  return *current;
}

inline std::vector<std::string> child_names(const Ombrix::RenderNode& node) {
  std::vector<std::string> names;
  for (const Ombrix::RenderNode& c : node.children) names.push_back(c.name);
  return names;
}

}  // namespace support
