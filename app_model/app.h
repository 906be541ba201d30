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

  Drelm::DEngine theme_engine;
  std::string active_theme;
  ThemeMap themes;
  std::function<void(const std::string& theme_id)> on_theme_changed;
  std::string root_name;
  StringMap texts;
  StringMap media_sources;
  StringMap hrefs;
  StringMap qr_data;
  DoubleMap heights;
  ClickHandlers click_handlers;
  StringMap input_values;
  std::vector<std::pair<std::string, std::string>> pending_editor_values;
  TextHandlers input_handlers;
  TextHandlers scan_handlers;
  ComboOptionsMap combo_options;
  StringMap combo_selected;
  TextHandlers select_handlers;
  std::function<void(const std::string& path, const std::string& status)> on_scan_status;
  NodeStatesMap node_states;
  StringSet states;
  double mobile_size_scale = 1.5;
  double mobile_font_scale = 1.25;
  double mobile_spacing_scale = 1.25;
  double scroll_accumulator = 0.0;
  double viewport_height = 0.0;
  // Derived from the last render.
  mutable bool uses_viewport_heights = false;
  StringSet hidden_paths;
  mutable StringMap theme_buttons;
  mutable StringSet checkbox_paths;
  ListMap lists;
  std::map<std::string, std::function<void(const std::vector<ListEntry>&)>, std::less<>>
      list_change_handlers;
  ActionHandler default_action_handler;
  std::map<std::string, ActionHandler, std::less<>> action_handlers;
  mutable ListActionMap list_actions;
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
  std::function<void(std::int32_t delay_ms, std::function<void()>)> timer;
  std::function<void(std::function<void()>)> post;
  std::function<void()> request_render;
  StringMap store;
  std::string app_version;
  std::function<void(const std::string& key, const std::string& value)> on_store_changed;
  std::unique_ptr<RenderNode> previous_tree;

  Drelm::DEngine& engine() { return theme_engine; }

  // Window state; true when the render tree may differ.
  bool set_viewport_width(double width);
  bool set_viewport_height(double height);
  bool on_scroll(double delta);
  bool set_controls_hidden(bool hidden);
  bool set_maximized(bool maximized);
  void toggle_state(const std::string& path, const std::string& state);

  // Start-up and themes.
  bool init(const std::string& themes_dir, const std::string& styles_dir,
            const std::string& theme_id, const std::vector<std::string>& extra_style_dirs);
  void apply_theme_to_proxy(const OTheme& theme);
  bool set_active_theme(const std::string& id);
  void record_active_theme(const std::string& id);
  bool remove_theme(const std::string& id);
  std::string add_theme_json(const std::string& text);

  // Events from the renderer.
  void dispatch(const std::string& path, const std::string& event);

  // Rendering.
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
