#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app_model/app.h"
#include "app_model/internal/app_internal.h"
#include "support/files.h"
#include "support/fixture_app.h"
#include "support/render_afresh.h"
#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"

namespace {

using Drelm::DAttribute;
using Drelm::DLayer;
using Drelm::dMake;
using Drelm::DObject;
using Drelm::DValue;
using Ombrix::OApp;

// Under the model's "Life": Base (X, Y), Work << Base (X, Y with states Hover
// and Press, Dep linked to X), Next (W), and Derived << Work (X). Bases are resolved,
// nothing is finalized.
struct Life {
  std::unique_ptr<OApp> app;
  // Reached without the model, as callbacks run also while it is destroyed.
  Drelm::DEngine* engine = nullptr;
  support::TempDir styles;

  DLayer* life() { return engine->find_layer("Life"); }
  DLayer* layer(const char* name) { return engine->find_layer(std::string("Life/") + name); }
  DAttribute* attribute(const char* layer_name, const char* name) {
    DLayer* found = layer(layer_name);
    return found != nullptr ? found->find_attribute(name) : nullptr;
  }
};

std::unique_ptr<Life> make_life() {
  auto made = std::make_unique<Life>();
  made->styles.write("life.drl", "Life:\n    Title << Ombrix/Text:\n        Text: \"t\"\n");
  made->app = std::make_unique<OApp>();
  made->app->root_name = "Life";
  made->engine = &made->app->engine();
  EXPECT_TRUE(made->app->init(support::kFixtureApp + "/themes", support::kFixtureApp + "/styles",
                              "Dusk (North)", {made->styles.string()}));
  DLayer* life = made->life();
  const auto number = [](DAttribute* attribute, double value) {
    attribute->set_value(DValue(value));
    return attribute;
  };
  DLayer* base = dMake<DLayer>(life, "Base");
  number(dMake<DAttribute>(base, "X"), 1);
  number(dMake<DAttribute>(base, "Y"), 2);
  DLayer* work = dMake<DLayer>(life, "Work");
  work->set_base_path("Base");
  DAttribute* x = dMake<DAttribute>(work, "X");
  DAttribute* y = number(dMake<DAttribute>(work, "Y"), 5);
  number(dMake<DAttribute>(y, "Hover"), 6);
  number(dMake<DAttribute>(y, "Press"), 7);
  dMake<DAttribute>(work, "Dep")->create_link(x);
  number(dMake<DAttribute>(dMake<DLayer>(life, "Next"), "W"), 4);
  DLayer* derived = dMake<DLayer>(life, "Derived");
  derived->set_base_path("Work");
  dMake<DAttribute>(derived, "X");
  life->resolve_bases();
  return made;
}

// Destroys what `path` names below Life when called, found anew then, once.
std::function<void()> destroyer(Life& life, std::function<void(Life&)> victim) {
  return [&life, victim = std::move(victim), once = true]() mutable {
    if (std::exchange(once, false)) victim(life);
  };
}

void destroy_layer(Life& life, const char* name) {
  if (DLayer* found = life.layer(name)) found->parent()->destroy_child(found);
}

void destroy_attribute(Life& life, const char* layer, const char* name) {
  if (DAttribute* found = life.attribute(layer, name)) found->parent()->destroy_child(found);
}

TEST(Lifetime, callbacks_may_destroy_anything_during_any_operation) {
  struct Victim {
    const char* name;
    std::function<void(Life&)> destroy;
  };
  const Victim victims[] = {
      {"the attribute worked on", [](Life& l) { destroy_attribute(l, "Work", "X"); }},
      {"its layer", [](Life& l) { destroy_layer(l, "Work"); }},
      {"the next attribute", [](Life& l) { destroy_attribute(l, "Work", "Y"); }},
      {"the next state",
       [](Life& l) {
         if (DAttribute* y = l.attribute("Work", "Y")) {
           for (const auto& [name, state] : y->states(false)) {
             if (name == "Press") y->destroy_child(state);
           }
         }
       }},
      {"the next layer", [](Life& l) { destroy_layer(l, "Next"); }},
      {"the base", [](Life& l) { destroy_layer(l, "Base"); }},
      {"a derived layer", [](Life& l) { destroy_layer(l, "Derived"); }},
      {"everything under the root",
       [](Life& l) {
         DLayer* root = l.engine->root();
         while (!root->DObject::children().empty()) {
           root->destroy_child(root->DObject::children().front().get());
         }
       }},
  };
  // `arrange` attaches the destroying callback where the operation will run
  // it; `run` is the operation.
  struct Operation {
    const char* name;
    std::function<void(Life&, std::function<void()>)> arrange;
    std::function<void(Life&)> run;
  };
  const auto on_change_of = [](const char* layer, const char* name) {
    return [layer, name](Life& l, std::function<void()> callback) {
      l.attribute(layer, name)->on_change(std::move(callback));
    };
  };
  const auto on_theme_primary = [](Life& l, std::function<void()> callback) {
    l.app->engine().find_layer("Theme")->find_attribute("Primary")->on_change(std::move(callback));
  };
  const auto set_x = [](Life& l) { l.attribute("Work", "X")->set_value(DValue(9.0)); };
  support::TempDir reload;
  reload.write("again.drl",
               "Life:\n    Work:\n        X: 8\n        Y: 9\n    Next:\n        W: 3\n");
  const Operation operations[] = {
      {"set_value", on_change_of("Work", "X"), set_x},
      {"the notification walk", on_change_of("Work", "Dep"), set_x},
      {"create_link", on_change_of("Work", "X"),
       [](Life& l) { l.attribute("Work", "X")->create_link(l.attribute("Next", "W")); }},
      {"break_link",
       [](Life& l, std::function<void()> callback) {
         DAttribute* x = l.attribute("Work", "X");
         x->create_link(l.attribute("Next", "W"));
         x->on_link_change(std::move(callback));
       },
       [](Life& l) { l.attribute("Work", "X")->break_link(true); }},
      {"resolve_links of an attribute", on_change_of("Work", "X"),
       [](Life& l) { l.attribute("Work", "X")->resolve_links(); }},
      {"resolve_links of a state",
       [](Life& l, std::function<void()> callback) {
         l.attribute("Work", "Y")->states(false).at("Hover")->on_change(std::move(callback));
       },
       [](Life& l) { l.attribute("Work", "Y")->resolve_links(); }},
      {"resolve_links of a layer", on_change_of("Work", "X"),
       [](Life& l) { l.layer("Work")->resolve_links(); }},
      {"resolve_links of the engine", on_change_of("Work", "X"),
       [](Life& l) { l.app->engine().resolve_links(); }},
      {"resolve_bases", on_change_of("Work", "X"), [](Life& l) { l.life()->resolve_bases(); }},
      {"finalize", on_change_of("Work", "X"), [](Life& l) { l.layer("Work")->finalize(); }},
      {"finalize of a derived layer", on_change_of("Derived", "X"),
       [](Life& l) { l.layer("Derived")->finalize(); }},
      {"clone_to", on_change_of("Work", "X"),
       [set_x](Life& l) {
         l.layer("Work")->clone_to(l.layer("Next"));
         set_x(l);
       }},
      {"load_files", on_change_of("Work", "X"),
       [&reload](Life& l) { l.app->engine().load_files(reload.string(), ""); }},
      {"set_active_theme", on_theme_primary,
       [](Life& l) { EXPECT_TRUE(l.app->set_active_theme("Dawn (South)")); }},
      {"remove_theme", on_theme_primary,
       [](Life& l) { EXPECT_TRUE(l.app->remove_theme("Dusk (North)")); }},
      {"add_theme_json", on_theme_primary,
       [](Life& l) {
         l.app->add_theme_json(
             R"({"Dusk": {"_meta": {"publisher": "North"}, "Primary": "#111111"}})");
       }},
      {"init", on_change_of("Work", "X"),
       [&reload](Life& l) {
         EXPECT_TRUE(l.app->init(support::kFixtureApp + "/themes", support::kFixtureApp + "/styles",
                                 "Dawn (South)", {reload.string()}));
       }},
      {"destroy_child",
       [](Life& l, std::function<void()> callback) {
         l.attribute("Work", "Y")->on_destroyed(std::move(callback));
       },
       [](Life& l) { destroy_layer(l, "Work"); }},
      {"dispatch",
       [](Life& l, std::function<void()> callback) {
         l.app->click_handlers["Life/Title"] = std::move(callback);
       },
       [](Life& l) { l.app->dispatch("Life/Title", "click"); }},
      {"the engine's destruction",
       [](Life& l, std::function<void()> callback) {
         l.attribute("Work", "Y")->on_destroyed(std::move(callback));
       },
       [](Life& l) { l.app.reset(); }},
  };
  for (const Operation& operation : operations) {
    for (const Victim& victim : victims) {
      SCOPED_TRACE(std::string(operation.name) + " destroying " + victim.name);
      auto life = make_life();
      operation.arrange(*life, destroyer(*life, victim.destroy));
      operation.run(*life);
      if (!life->app) continue;
      life->app->render_patches();
      EXPECT_EQ(Ombrix::node_to_json(*life->app->previous_tree).dump(),
                Ombrix::node_to_json(support::render_afresh(*life->app)).dump());
    }
  }
}

TEST(Lifetime, walks_go_on_past_what_their_callbacks_destroy) {
  const auto number = [](DLayer* layer, const char* name, double value) {
    DAttribute* made = dMake<DAttribute>(layer, name);
    made->set_value(DValue(value));
    return made;
  };
  const auto destroys = [](DObject* parent, DObject* child) {
    return [parent, child, once = true]() mutable {
      if (std::exchange(once, false)) parent->destroy_child(child);
    };
  };
  {
    SCOPED_TRACE("finalize: D << B << C, B's empty x destroys D");
    DLayer root;
    DLayer* d = dMake<DLayer>(&root, "D");
    DLayer* b = dMake<DLayer>(&root, "B");
    DLayer* c = dMake<DLayer>(&root, "C");
    d->set_base_path("B");
    b->set_base_path("C");
    number(c, "x", 1);
    dMake<DAttribute>(b, "x")->on_change(destroys(&root, d));
    root.resolve_bases();
    root.finalize();
    EXPECT_EQ(root.find_layer("D"), nullptr);
    EXPECT_EQ(std::get<double>(b->find_attribute("x")->value()), 1.0);
  }
  {
    SCOPED_TRACE("finalize: D << B, D's empty x destroys D before y is handed over");
    DLayer root;
    DLayer* d = dMake<DLayer>(&root, "D");
    DLayer* b = dMake<DLayer>(&root, "B");
    d->set_base_path("B");
    number(b, "x", 1);
    number(b, "y", 2);
    dMake<DAttribute>(d, "x")->on_change(destroys(&root, d));
    dMake<DAttribute>(d, "y");
    root.resolve_bases();
    d->finalize();
    EXPECT_EQ(root.find_layer("D"), nullptr);
  }
  {
    SCOPED_TRACE("resolve_links: callbacks destroy the next attribute, a later layer, their own");
    DLayer root;
    DLayer* l = dMake<DLayer>(&root, "L");
    DLayer* later = dMake<DLayer>(&root, "Later");
    number(later, "z", 3);
    DAttribute* x = number(l, "x", 1);
    DAttribute* y = number(l, "y", 2);
    x->on_change(destroys(l, y));
    root.resolve_links();
    EXPECT_EQ(l->find_attribute("y"), nullptr);
    l->find_attribute("x")->on_change(destroys(&root, later));
    root.resolve_links();
    EXPECT_EQ(root.find_layer("Later"), nullptr);
    l->find_attribute("x")->on_change(destroys(&root, l));
    root.resolve_links();
    EXPECT_TRUE(root.DObject::children().empty());
  }
  {
    SCOPED_TRACE("resolve_links: a state's callback destroys its attribute, or a later state");
    DLayer root;
    DLayer* l = dMake<DLayer>(&root, "L");
    DAttribute* x = number(l, "x", 1);
    DAttribute* hover = dMake<DAttribute>(x, "Hover");
    DAttribute* press = dMake<DAttribute>(x, "Press");
    hover->on_change(destroys(x, press));
    x->resolve_links();
    EXPECT_EQ(x->states(false).size(), 1U);
    hover->on_change(destroys(l, x));
    l->resolve_links();
    EXPECT_EQ(l->find_attribute("x"), nullptr);
  }
  {
    SCOPED_TRACE("load_files: Theme/Primary's callback destroys Theme during a second load");
    support::TempDir first;
    support::TempDir second;
    first.write("a.drl", "Theme:\n    Primary: 1\n    Secondary: 2\n");
    second.write("b.drl", "Theme:\n    Primary: 3\n    Secondary: 4\n");
    Drelm::DEngine engine;
    engine.load_files(first.string(), "");
    DLayer* theme = engine.find_layer("Theme");
    ASSERT_NE(theme, nullptr);
    theme->find_attribute("Primary")->on_change(destroys(engine.root(), theme));
    engine.load_files(second.string(), "");
    EXPECT_EQ(engine.find_layer("Theme"), nullptr);
  }
  {
    SCOPED_TRACE("on_destroyed sees its layer whole");
    DLayer root;
    DLayer* l = dMake<DLayer>(&root, "L");
    number(l, "x", 1);
    dMake<DLayer>(l, "Inner");
    std::string path;
    std::string name;
    double x = 0;
    std::size_t attributes = 0;
    std::size_t children = 0;
    l->on_destroyed([&] {
      path = l->path();
      name = l->object_name();
      x = std::get<double>(l->find_attribute("x")->value());
      attributes = l->attributes().size();
      children = l->children().size();
    });
    root.destroy_child(l);
    EXPECT_EQ(path, "L");
    EXPECT_EQ(name, "L");
    EXPECT_EQ(x, 1.0);
    EXPECT_EQ(attributes, 1U);
    EXPECT_EQ(children, 1U);
    // And so does a root destroyed by its owner.
    auto own = std::make_unique<DLayer>("Own");
    number(own.get(), "x", 2);
    DLayer* raw = own.get();
    own->on_destroyed([&] { x = std::get<double>(raw->find_attribute("x")->value()); });
    own.reset();
    EXPECT_EQ(x, 2.0);
  }
}

}  // namespace
