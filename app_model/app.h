#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app_model/render_node.h"
#include "app_model/theme.h"
#include "theme_language/engine.h"

namespace Ombrix {

// Records of the host services behind the hooks; the services themselves live in the host.
struct HttpRequest {
  std::string method;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

struct HttpResponse {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string error;  // empty on success
};

struct UploadResult {
  bool ok = false;
  int status = 0;
  std::string body;
  std::string error;
};

struct PickRequest {
  bool directory = false;
  std::string title;
  std::vector<std::string> filters;
};

// Stores keyed by node path; transparent comparison so look-ups take views.
using StringMap = std::map<std::string, std::string, std::less<>>;
using DoubleMap = std::map<std::string, double, std::less<>>;
using StringSet = std::set<std::string, std::less<>>;
using NodeStatesMap = std::map<std::string, StringSet, std::less<>>;
using ThemeMap = std::map<std::string, OTheme, std::less<>>;
using ListMap = std::map<std::string, std::vector<ListEntry>, std::less<>>;
using ListActionMap = std::map<std::string, ListAction, std::less<>>;
using ComboOptionsMap = std::map<std::string, std::vector<ComboOption>, std::less<>>;
using ClickHandlers = std::map<std::string, std::function<void()>, std::less<>>;
using TextHandlers = std::map<std::string, std::function<void(const std::string&)>, std::less<>>;
using ActionHandler =
    std::function<void(const std::string& action, const std::string& arg, const std::string& data)>;

struct StyleMemo;

// The application model: states, stores, handlers, hooks, themes and the last render.
class OApp {
 public:
  OApp() = default;
  OApp(const OApp&) = delete;
  OApp& operator=(const OApp&) = delete;

  // The theme-language engine with the whole layer tree; init loads into it.
  Drelm::DEngine theme_engine;
  // Installed themes by display id, the active one's id, and the hook told
  // whenever that id changes (the host persists it there).
  std::string active_theme;
  ThemeMap themes;
  std::function<void(const std::string& theme_id)> on_theme_changed;
  // The layer the render tree starts from; one that names nothing gives an
  // empty root.
  std::string root_name;
  // Content by node path, read by every render: texts, media sources, link
  // targets, QR payloads and fixed heights.
  StringMap texts;
  StringMap media_sources;
  StringMap hrefs;
  StringMap qr_data;
  DoubleMap heights;
  // Run by dispatch on "click" at that node path.
  ClickHandlers click_handlers;
  // Editor texts: the last one each editor sent, and those the application
  // wants shown, sent by the next render_patches.
  StringMap input_values;
  std::vector<std::pair<std::string, std::string>> pending_editor_values;
  // Run by dispatch on "input:" and "scan:" at that node path.
  TextHandlers input_handlers;
  TextHandlers scan_handlers;
  // Combo boxes by node path: their options, the selected option id, and the
  // handler run when a selection changes.
  ComboOptionsMap combo_options;
  StringMap combo_selected;
  TextHandlers select_handlers;
  // Run by dispatch on "scanstatus:".
  std::function<void(const std::string& path, const std::string& status)> on_scan_status;
  // State names the styles select on: per node path (Hover, Pressed, Focused,
  // Checked, ...), and for every node (Narrow, Medium, Desktop, Mobile, ...).
  NodeStatesMap node_states;
  StringSet states;
  // Factors of sizes, fonts and spacing while "Mobile" is set.
  double mobile_size_scale = 1.5;
  double mobile_font_scale = 1.25;
  double mobile_spacing_scale = 1.25;
  // Window state kept by on_scroll and set_viewport_height.
  double scroll_accumulator = 0.0;
  double viewport_height = 0.0;
  // Derived from the last render: whether a height follows the viewport's.
  mutable bool uses_viewport_heights = false;
  // Node paths the render leaves out, with their subtrees.
  StringSet hidden_paths;
  // Refilled by every render for dispatch: theme buttons (path to theme id)
  // and checkbox paths.
  mutable StringMap theme_buttons;
  mutable StringSet checkbox_paths;
  // Data lists for list binds by name, and the handlers their owners run
  // after publishing one.
  ListMap lists;
  std::map<std::string, std::function<void(const std::vector<ListEntry>&)>, std::less<>>
      list_change_handlers;
  // Handlers of list button actions: by action name, else the default.
  ActionHandler default_action_handler;
  std::map<std::string, ActionHandler, std::less<>> action_handlers;
  // Refilled by every render for dispatch: the action of each list button.
  mutable ListActionMap list_actions;
  // Host services, filled by the host for the application to call.
  std::function<void(const HttpRequest&, std::function<void(const HttpResponse&)>)> http_handler;
  std::function<void(const std::string& method, const std::string& accept, const std::string& url,
                     const std::vector<std::pair<std::string, std::string>>& headers,
                     const std::string& field_name, std::function<void(const UploadResult&)>)>
      upload_handler;
  std::function<void(const PickRequest&, std::function<void(const std::string& path)>)>
      file_pick_handler;
  std::function<void(const std::string& url)> open_url;
  std::function<void(const std::string& text)> copy_text;
  std::function<void(const std::string& name, const std::string& second, const std::string& content,
                     std::function<void(bool saved)>)>
      save_file;
  std::function<void(const std::vector<std::string>& argv,
                     std::function<void(const std::string& line)> on_line,
                     std::function<void(std::int32_t code)> on_exit)>
      process_runner;
  // Host event loop: run a callback after a delay, or soon.
  std::function<void(std::int32_t delay_ms, std::function<void()>)> timer;
  std::function<void(std::function<void()>)> post;
  // Set by the renderer: schedules one render; call it after asynchronous work.
  std::function<void()> request_render;
  // The persistent key/value store and the application's version; whoever
  // changes the store calls on_store_changed so that the host saves it.
  StringMap store;
  std::string app_version;
  std::function<void(const std::string& key, const std::string& value)> on_store_changed;
  // The last rendered tree, which render_patches compares with the new one
  // and then replaces; null before the first render.
  std::unique_ptr<RenderNode> previous_tree;

  // The theme engine, theme_engine.
  Drelm::DEngine& engine() { return theme_engine; }

  // Window state; true when the render tree may differ.
  bool set_viewport_width(double width);
  bool set_viewport_height(double height);
  bool on_scroll(double delta);
  bool set_controls_hidden(bool hidden);
  bool set_maximized(bool maximized);
  // Adds a state name to node_states at that path, or removes it.
  void toggle_state(const std::string& path, const std::string& state);

  // Start-up and themes. init loads the styles and themes and activates one;
  // false only when no theme could be installed.
  bool init(const std::string& themes_dir, const std::string& styles_dir,
            const std::string& theme_id, const std::vector<std::string>& extra_style_dirs);
  void apply_theme_to_proxy(const OTheme& theme);
  bool set_active_theme(const std::string& id);
  void record_active_theme(const std::string& id);
  bool remove_theme(const std::string& id);
  std::string add_theme_json(const std::string& text);

  // Events from the renderer: a node path and "click", "input:<text>", ...
  void dispatch(const std::string& path, const std::string& event);

  // Rendering: the tree itself, or the patches since the last render; each
  // also as JSON.
  RenderNode build_render_tree() const;
  std::vector<Patch> render_patches();
  std::string render_tree_json() const;
  std::string render_patches_json();

 private:
  // The styles of the last render, so that the next one reads from the layer
  // tree only what may have changed since. Not a part of the model's state.
  mutable std::shared_ptr<StyleMemo> style_memo;
};

}  // namespace Ombrix
