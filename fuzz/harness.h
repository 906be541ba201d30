#pragma once

// What each fuzz target does with one input, header-only so that the
// regression tests replay saved inputs through exactly the same steps.

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app_model/app.h"
#include "theme_language/layer.h"
#include "theme_language/object.h"

namespace fuzz {

// A fresh model loaded from model_dir's styles and themes (plus extra style
// directories) with root as its screen, rendered once. Fresh per input, so that
// a saved input replays alone.
inline std::unique_ptr<Ombrix::OApp> fixture_model(const std::string& model_dir,
                                                   const std::string& root,
                                                   const std::vector<std::string>& extra = {},
                                                   bool render = true) {
  auto app = std::make_unique<Ombrix::OApp>();
  app->root_name = root;
  app->lists["items"] = {
      {"a", {{"title", "A"}, {"flag", "1"}, {"icon", "a.svg"}, {"url", "https://a"}}},
      {"b", {{"title", "B"}, {"pic", "b.png"}, {"mw", "40"}, {"op", "0.5"}}},
      {"c", {{"title", "C"}, {"ar", "x"}, {"g", "-1"}, {"ind", "1e308"}}},
  };
  app->lists["rows"] = {{"r1", {{"label", "one"}}}, {"r2", {{"label", "two"}}}};
  app->init(model_dir + "/themes", model_dir + "/styles", "", extra);
  if (render) (void)app->render_patches();
  return app;
}

// A source may legitimately make a few hundred thousand objects before the load
// bounds apply; rendering that many takes far longer than an input may. Such a
// tree is loaded and checked but not rendered.
inline constexpr std::size_t kMaxRenderedObjects = 20000;

inline bool small_enough_to_render(const Drelm::DObject& root) {
  std::size_t count = 0;
  std::vector<const Drelm::DObject*> pending{&root};
  while (!pending.empty()) {
    const Drelm::DObject* object = pending.back();
    pending.pop_back();
    count += object->children().size();
    if (count > kMaxRenderedObjects) return false;
    for (const auto& child : object->children()) pending.push_back(child.get());
  }
  return true;
}

// The input is one ".drl" file of a user's styles, written to work_dir and
// loaded over the model; the screen is "App".
inline void run_load(std::string_view input, const std::string& model_dir,
                     const std::filesystem::path& work_dir) {
  {
    std::ofstream out(work_dir / "input.drl", std::ios::binary | std::ios::trunc);
    out.write(input.data(), std::streamsize(input.size()));
  }
  auto app = fixture_model(model_dir, "App", {work_dir.string()}, false);
  (void)app->engine().unresolved_links();
  if (!small_enough_to_render(*app->engine().root())) return;
  (void)app->render_patches();
  (void)app->render_tree_json();
  (void)app->render_patches_json();
  // A second render under other states and sizes diffs against the first.
  app->set_viewport_width(500);
  app->set_viewport_height(300);
  app->toggle_state("App", "Selected");
  app->set_active_theme("Noon");
  (void)app->render_patches_json();
}

// The input is theme JSON, added, activated, rendered, added again and removed.
inline void run_theme(std::string_view input, const std::string& model_dir) {
  // "Binds" shows theme names, publishers and generated theme buttons; "Page"
  // links a fill to the theme's colours.
  auto app = fixture_model(model_dir, "Binds");
  const std::string text(input);
  const std::string id = app->add_theme_json(text);
  if (id.empty()) return;
  app->set_active_theme(id);
  (void)app->render_patches_json();
  app->root_name = "Page";
  (void)app->render_tree_json();
  (void)app->render_patches_json();
  (void)app->add_theme_json(text);
  (void)app->render_patches();
  if (app->themes.size() > 1) app->remove_theme(id);
  (void)app->render_patches_json();
}

namespace detail {

// What a host does with list intents: action is the list, arg the row, data the verb.
inline void edit_list(Ombrix::OApp& app, const std::string& list_name, const std::string& row,
                      const std::string& verb) {
  auto& rows = app.lists[list_name];
  const auto it = std::find_if(rows.begin(), rows.end(),
                               [&](const Ombrix::ListEntry& entry) { return entry.id == row; });
  if (verb == "add") {
    if (rows.size() < 16) rows.push_back({"n" + std::to_string(rows.size()), {{"title", "new"}}});
  } else if (verb == "remove" && it != rows.end()) {
    rows.erase(it);
  } else if (verb == "move:up" && it != rows.end() && it != rows.begin()) {
    std::iter_swap(it, it - 1);
  }
  if (const auto handler = app.list_change_handlers.find(list_name);
      handler != app.list_change_handlers.end() && handler->second) {
    handler->second(rows);
  }
}

inline void wire_model(Ombrix::OApp& app) {
  app.combo_options["Render/Choice"] = {{"a", "A"}, {"b", "B"}};
  app.texts["Render/Title"] = "title";
  app.qr_data["Render/Code"] = "qr";
  app.default_action_handler = [&app](const std::string& action, const std::string& arg,
                                      const std::string& data) {
    edit_list(app, action, arg, data);
  };
  app.list_change_handlers["items"] = [&app](const std::vector<Ombrix::ListEntry>& rows) {
    app.texts["Binds/Current Name"] = std::to_string(rows.size());
  };
  // Handlers that change the model under the dispatch: a new screen, editor
  // text, states, a render from inside the handler.
  app.click_handlers["Page/Swap"] = [&app] { app.root_name = "Other Page"; };
  app.click_handlers["Other Page/Swap"] = [&app] { app.root_name = "Page"; };
  app.click_handlers["Render/Text"] = [&app] {
    app.toggle_state("Render", "Selected");
    (void)app.render_patches();
  };
  app.input_handlers["Page/Note"] = [&app](const std::string& text) {
    app.pending_editor_values.emplace_back("Page/Note", text + "!");
  };
  app.scan_handlers["Render/Code"] = [&app](const std::string& text) {
    app.qr_data["Render/Code"] = text;
  };
  app.select_handlers["Render/Choice"] = [&app](const std::string& id) {
    app.combo_options["Render/Choice"].push_back({id + id, id});
  };
  app.on_scan_status = [&app](const std::string& path, const std::string& status) {
    app.texts[path] = status;
  };
  app.on_theme_changed = [&app](const std::string& id) { app.store["theme"] = id; };
}

inline std::pair<std::string_view, std::string_view> split_line(std::string_view line) {
  const std::size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return {line, {}};
  return {line.substr(0, tab), line.substr(tab + 1)};
}

}  // namespace detail

// The input is lines of "path\tevent"; the first path's first layer name picks
// the screen ("Binds", "Page", "Render", ...). Returns the last patch JSON.
inline std::string run_dispatch(std::string_view input, const std::string& model_dir) {
  const std::string_view first_path = detail::split_line(input.substr(0, input.find('\n'))).first;
  auto app = fixture_model(model_dir, std::string(first_path.substr(0, first_path.find('/'))));
  detail::wire_model(*app);
  (void)app->render_patches();
  int events = 0;
  while (!input.empty() && events++ < 64) {
    const std::size_t end = input.find('\n');
    const auto [path, event] = detail::split_line(input.substr(0, end));
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    app->dispatch(std::string(path), std::string(event));
    // Every other render is written as JSON, so editor texts reach the writer.
    if (events % 2 == 0) {
      (void)app->render_patches_json();
    } else {
      (void)app->render_patches();
    }
  }
  (void)app->render_tree_json();
  return app->render_patches_json();
}

}  // namespace fuzz
