// The calls on the application model: themes, events, renders, the window,
// handlers, the model's data and loads into its engine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "app_model/app.h"
#include "app_model/theme.h"
#include "fuzz/calls_runner.h"
#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"

namespace fuzz {
namespace calls {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Keys a moved or copied handler lands on: places that events reach.
constexpr std::array<const char*, 5> kNodePathsForHandlers = {"Page/Swap", "Page/Agree",
                                                              "Render/Choice", "Binds/Add", "A"};

constexpr std::array<const char*, 6> kThemeNames = {"Dawn", "Dusk", "Noon", "Extra", "Zed", "0"};
std::string theme_json(std::uint8_t name, std::uint8_t variant) {
  const std::string key = std::string("\"") + kThemeNames[name % kThemeNames.size()] + "\"";
  switch (variant % 6) {
    case 0:
      return "{" + key +
             ": {\"_meta\": {\"publisher\": \"South\"}, \"Foreground\": \"#101010\", "
             "\"Primary\": \"#202020\", \"Secondary\": \"#303030\", \"Tertiary\": \"#404040\"}}";
    case 1:
      return "{" + key + ": {\"Primary\": true, \"Foreground\": 3}}";
    case 2:
      return "{" + key + ": {\"Gradient\": [\"#ff0000\", \"#00ff00\"]}}";
    case 3:
      return "{" + key + ": {\"_meta\": {\"publisher\": \"P\"}, \"Tertiary\": \"#050505\"}}";
    case 4:
      return "[{\"Primary\": \"#777777\"}]";
    default:
      return "not a theme";
  }
}

constexpr std::array<const char*, 12> kEvents = {
    "click",     "input:",  "input:text", "select:a",        "select:b", "select:aa",
    "scan:code", "select:", "Click",      "scanstatus:busy", "click ",   "",
};

}  // namespace

void Runner::apply_proxy(std::uint8_t k) {
  if (app->themes.empty()) return;
  // A copy: the call's own callbacks may remove the installed theme.
  const Ombrix::OTheme theme = std::next(app->themes.begin(), k % app->themes.size())->second;
  app->apply_theme_to_proxy(theme);
}

void Runner::dispatch(std::uint8_t source, std::uint8_t k, std::uint8_t event) {
  const std::string path = node_path(source, k);
  // A theme button switches the theme as set_active_theme does. Nothing
  // else in a dispatch puts the layer back in step after a handler's calls,
  // so only a dispatch whose handlers made none is checked.
  const bool showed = shows_active_theme();
  const std::uint64_t calls_before = calls_made;
  changed();
  app->dispatch(path, kEvents[event % kEvents.size()]);
  changed();
  check_theme_shown(showed, calls_before, 1, "dispatch");
}

void Runner::render(std::uint8_t kind) {
  if (renders_left-- <= 0) return;
  switch (kind % 4) {
    case 0:
      (void)app->render_patches();
      break;
    case 1:
      (void)app->render_patches_json();
      break;
    case 2:
      (void)app->render_tree_json();
      break;
    default:
      (void)app->build_render_tree();
      break;
  }
}

void Runner::window(std::uint8_t what, std::uint8_t a, std::uint8_t b) {
  static constexpr std::array<double, 6> widths = {300, 600, 700, 900.5, 1200, -1};
  static constexpr std::array<double, 4> heights = {0, 300.4, 801.5, -5};
  static constexpr std::array<double, 6> scrolls = {31, -31, 10, -40, kNaN, kInfinity};
  switch (what % 7) {
    case 0:
      (void)app->set_viewport_width(widths[a % widths.size()]);
      break;
    case 1:
      (void)app->set_viewport_height(heights[a % heights.size()]);
      break;
    case 2:
      (void)app->on_scroll(scrolls[a % scrolls.size()]);
      break;
    case 3:
      (void)app->set_controls_hidden((a & 1) != 0);
      break;
    case 4:
      (void)app->set_maximized((a & 1) != 0);
      break;
    case 5:
      app->toggle_state(node_path(a, b), kNames[b % kNames.size()]);
      break;
    default: {
      static constexpr std::array<const char*, 3> globals = {"Mobile", "Desktop", "Selected"};
      const std::string state = globals[a % globals.size()];
      if (!app->states.erase(state)) app->states.insert(state);
      break;
    }
  }
}

void Runner::add_handler(std::uint8_t kind, std::uint8_t source, std::uint8_t k, std::size_t begin,
                         std::size_t end) {
  Ombrix::OApp& model = *app;
  const int which = kind % kHandlerKinds;
  const std::string key = which == kAction ? action_name(k) : node_path(source, k);
  if (!may_change_handler(which, key)) return;
  // Each handler counts its calls after its program ran, as a stateful
  // handler of a host would.
  const auto text_handler = [&](int handler) {
    return [this, handler, key, begin, end, calls = 0](const std::string&) mutable {
      handle(handler, key, begin, end);
      ++calls;
    };
  };
  switch (which) {
    case kClick:
      model.click_handlers[key] = [this, key, begin, end, calls = 0]() mutable {
        handle(kClick, key, begin, end);
        ++calls;
      };
      break;
    case kInput:
      model.input_handlers[key] = text_handler(kInput);
      break;
    case kSelectHandler:
      model.select_handlers[key] = text_handler(kSelectHandler);
      break;
    case kScan:
      model.scan_handlers[key] = text_handler(kScan);
      break;
    case kAction:
      model.action_handlers[key] = [this, key, begin, end, calls = 0](const std::string&,
                                                                      const std::string&,
                                                                      const std::string&) mutable {
        handle(kAction, key, begin, end);
        ++calls;
      };
      break;
    case kDefaultAction:
      model.default_action_handler = [this, begin, end, calls = 0](const std::string&,
                                                                   const std::string&,
                                                                   const std::string&) mutable {
        handle(kDefaultAction, "", begin, end);
        ++calls;
      };
      break;
    case kScanStatus:
      model.on_scan_status = [this, begin, end, calls = 0](const std::string&,
                                                           const std::string&) mutable {
        handle(kScanStatus, "", begin, end);
        ++calls;
      };
      break;
    default:
      model.on_theme_changed = [this, begin, end, calls = 0](const std::string&) mutable {
        handle(kThemeChanged, "", begin, end);
        ++calls;
      };
      break;
  }
}

void Runner::erase_handler(std::uint8_t kind, std::uint8_t source, std::uint8_t k) {
  Ombrix::OApp& model = *app;
  const int which = kind % kHandlerKinds;
  const std::string key = which == kAction ? action_name(k) : node_path(source, k);
  if (const int post = kind >> 5; post >= 4) {
    // Mostly a running handler posting itself, as one waiting for a reply would.
    if ((source & 8) != 0 && !running.empty()) {
      const auto [self, self_key] = running.back();
      post_handler(self, self_key, post & 3);
    } else {
      post_handler(which, key, post & 3);
    }
    return;
  }
  if (!may_change_handler(which, key)) return;
  if (const int how = kind / kHandlerKinds % 4; how != 0) {
    move_handler(which, key, how, k);
    return;
  }
  switch (which) {
    case kClick:
      model.click_handlers.erase(key);
      break;
    case kInput:
      model.input_handlers.erase(key);
      break;
    case kSelectHandler:
      model.select_handlers.erase(key);
      break;
    case kScan:
      model.scan_handlers.erase(key);
      break;
    case kAction:
      model.action_handlers.erase(key);
      break;
    case kDefaultAction:
      model.default_action_handler = nullptr;
      break;
    case kScanStatus:
      model.on_scan_status = nullptr;
      break;
    default:
      model.on_theme_changed = nullptr;
      break;
  }
}

// Moves (how 1) or copies (how 2) the entry of key to another key, as a
// handler re-keying its own entry after a rename would; how 3 copies it into
// another map of the same handler type.
void Runner::move_handler(int which, const std::string& key, int how, std::uint8_t k) {
  Ombrix::OApp& model = *app;
  const std::string to_key = which == kAction ? action_name(k + 1) : kNodePathsForHandlers[k % 5];
  const int to_which = how != 3                  ? which
                       : which == kInput         ? kSelectHandler
                       : which == kSelectHandler ? kScan
                       : which == kScan          ? kInput
                       : which == kDefaultAction ? kAction
                                                 : which;
  if (!may_change_handler(to_which, to_key)) return;
  note("  " + std::string(how == 1 ? "move " : "copy ") + key + " to " + to_key);
  const auto relocate = [&](auto& from, auto& to) {
    const auto it = from.find(key);
    if (it == from.end()) return;
    if (how != 1) {
      auto copy = it->second;
      to[to_key] = std::move(copy);
      return;
    }
    auto moved = std::move(it->second);
    from.erase(it);
    to[to_key] = std::move(moved);
  };
  const auto text_map = [&](int kind) -> Ombrix::TextHandlers& {
    return kind == kInput  ? model.input_handlers
           : kind == kScan ? model.scan_handlers
                           : model.select_handlers;
  };
  switch (which) {
    case kClick:
      relocate(model.click_handlers, model.click_handlers);
      break;
    case kInput:
    case kSelectHandler:
    case kScan:
      relocate(text_map(which), text_map(to_which));
      break;
    case kAction:
      relocate(model.action_handlers, model.action_handlers);
      break;
    case kDefaultAction:
      // The hook into a named entry: the hook keeps its copy unless moved.
      if (how == 1) {
        model.action_handlers[to_key] = std::move(model.default_action_handler);
        model.default_action_handler = nullptr;
      } else {
        model.action_handlers[to_key] = model.default_action_handler;
      }
      break;
    default:
      break;
  }
}

// Keeps a copy of the entry of key in a callback posted to the host's loop:
// how 0 takes the entry out and puts it back later, 1 calls a copy later, 2
// keeps a copy that is dropped later, 3 takes the entry out, calls it later
// and drops it.
void Runner::post_handler(int which, const std::string& key, int how) {
  Ombrix::OApp& model = *app;
  const bool take = how == 0 || how == 3;
  if (take && !may_change_handler(which, key)) return;
  note("  post " + key + " " + std::to_string(how));
  // find finds the entry, locate finds or makes it in the model that the
  // callback runs in; call calls a handler as the model would.
  const auto keep = [&](auto find, auto locate, auto erase, auto call) {
    auto* const found = find(model);
    if (found == nullptr || !*found) return;
    auto& place = *found;
    std::remove_reference_t<decltype(place)> self;
    if (take) {
      self = std::move(place);
      erase(model);
    } else {
      self = place;
    }
    switch (how) {
      case 0:
        model.post([this, locate, self] { locate(*app) = self; });
        break;
      case 2:
        model.post([self] {});
        break;
      default:
        model.post([call, self] { call(self); });
        break;
    }
  };
  const auto in_map = [&](auto member, auto call) {
    keep(
        [key, member](Ombrix::OApp& m) {
          const auto it = (m.*member).find(key);
          return it == (m.*member).end() ? nullptr : &it->second;
        },
        [ key, member ](Ombrix::OApp & m) -> auto& { return (m.*member)[key]; },
        [key, member](Ombrix::OApp& m) { (m.*member).erase(key); }, call);
  };
  const auto hook = [&](auto member, auto call) {
    keep([member](Ombrix::OApp& m) { return &(m.*member); },
         [member](Ombrix::OApp & m) -> auto& { return m.*member; },
         [member](Ombrix::OApp& m) { m.*member = nullptr; }, call);
  };
  const auto text_call = [](const auto& handler) { handler("text"); };
  switch (which) {
    case kClick:
      in_map(&Ombrix::OApp::click_handlers, [](const auto& handler) { handler(); });
      break;
    case kInput:
      in_map(&Ombrix::OApp::input_handlers, text_call);
      break;
    case kSelectHandler:
      in_map(&Ombrix::OApp::select_handlers, text_call);
      break;
    case kScan:
      in_map(&Ombrix::OApp::scan_handlers, text_call);
      break;
    case kAction:
      in_map(&Ombrix::OApp::action_handlers,
             [](const auto& handler) { handler("act", "arg", "data"); });
      break;
    case kDefaultAction:
      hook(&Ombrix::OApp::default_action_handler,
           [](const auto& handler) { handler("items", "a", "add"); });
      break;
    case kScanStatus:
      hook(&Ombrix::OApp::on_scan_status,
           [](const auto& handler) { handler("Render/Code", "busy"); });
      break;
    default:
      hook(&Ombrix::OApp::on_theme_changed, [this](const auto& handler) {
        // A copy: the call may switch the theme.
        const std::string id = app->active_theme;
        handler(id);
      });
      break;
  }
}

// Whether the "Theme" layer shows the theme that active_theme names, when
// that one is installed: each key it has holds the theme's value, unlinked.
bool Runner::shows_active_theme() {
  const auto active = app->themes.find(app->active_theme);
  if (active == app->themes.end()) return true;
  DLayer* proxy = app->engine().find_layer("Theme");
  if (proxy == nullptr) return true;
  for (const auto& [key, fallback] : Ombrix::OTheme::canonical_defaults()) {
    const DAttribute* attribute = proxy->find_attribute(std::string_view(key));
    if (attribute == nullptr) continue;
    const DValue* stored = active->second.value(key);
    if (attribute->link() != nullptr || attribute->value() != (stored ? *stored : fallback)) {
      return false;
    }
  }
  return true;
}

void Runner::theme_call(Op op, std::uint8_t a, std::uint8_t b) {
  const bool showed = shows_active_theme();
  const std::uint64_t calls_before = calls_made;
  const char* call = "set_active_theme";
  if (op == kSetTheme) {
    (void)app->set_active_theme(theme_id(a));
  } else if (op == kRemoveTheme) {
    call = "remove_theme";
    (void)app->remove_theme(theme_id(a));
  } else {
    call = "add_theme_json";
    (void)app->add_theme_json(theme_json(a, b));
  }
  // The model writes the active theme a few rounds at most.
  check_theme_shown(showed, calls_before, 8, call);
}

// A theme call leaves the "Theme" layer showing the active theme, whatever
// its callbacks did. Checked when the layer showed it before the call, and
// when callbacks made fewer calls than calm_calls: more may outlast the
// rounds in which the model writes the theme until it stays.
void Runner::check_theme_shown(bool showed, std::uint64_t calls_before, std::uint64_t calm_calls,
                               const char* call) {
  if (!showed || tearing_down || calls_made - calls_before >= calm_calls) return;
  if (!shows_active_theme()) {
    std::fprintf(stderr, "%s returned with the \"Theme\" layer out of step with \"%s\"\n", call,
                 app->active_theme.c_str());
    std::abort();
  }
}

void Runner::data(std::uint8_t what, std::uint8_t a, std::uint8_t b) {
  Ombrix::OApp& model = *app;
  const std::string path = node_path(a, b);
  const std::string text = kNames[b % kNames.size()];
  switch (what % 8) {
    case 0:
      model.texts[path] = text;
      break;
    case 1:
      if (!model.hidden_paths.erase(path)) model.hidden_paths.insert(path);
      break;
    case 2:
      if (model.combo_options[path].size() < 8) {
        model.combo_options[path].push_back({(b & 1) ? "aa" : "a", text});
      }
      break;
    case 3: {
      auto& rows = model.lists[kLists[a % kLists.size()]];
      if ((b & 1) != 0 && !rows.empty()) {
        rows.pop_back();
      } else if (rows.size() < 6) {
        rows.push_back({"n" + std::to_string(rows.size()), {{"title", text}, {"flag", "1"}}});
      }
      break;
    }
    case 4:
      model.pending_editor_values.emplace_back(path, text);
      break;
    case 5:
      model.qr_data[path] = text;
      break;
    case 6:
      model.hrefs[path] = text;
      break;
    default:
      model.heights[path] = b % 16 == 15 ? kNaN : double(b);
      break;
  }
}

void Runner::load(std::uint8_t dir, std::uint8_t ns) {
  if (loads_left <= 0) return;
  static constexpr std::array<const char*, 4> dirs = {"/styles/widgets", "/styles/mounts",
                                                      "/themes", "/styles"};
  static constexpr std::array<const char*, 4> spaces = {"", "Ombrix", "Extra", "Theme"};
  // The load resolves every base still open and finalizes what it reaches:
  // count each open base as the largest layer there is.
  const auto [total, largest] = estimate_all();
  std::size_t open_bases = 0;
  for (DObject* object : all) {
    if (DLayer* candidate = as_layer(object); candidate && candidate->has_unresolved_base()) {
      ++open_bases;
    }
  }
  if (total.size + (open_bases + 64) * (largest + 1) > kLoadObjects || total.height > kDepth) {
    return;
  }
  if (OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS && has_base_around_it()) return;
  --loads_left;
  changed();
  ++merging;
  app->engine().load_files(model + dirs[dir % dirs.size()], spaces[ns % spaces.size()]);
  --merging;
  changed();
}

void Runner::engine(std::uint8_t what, std::uint8_t a) {
  switch (what % 3) {
    case 0:
      ++resolving;
      app->engine().resolve_links();
      --resolving;
      break;
    case 1:
      note("  unresolved " + std::to_string(app->engine().unresolved_links().size()));
      break;
    default:
      put(a, app->engine().find_layer(kPaths[a % kPaths.size()]));
      break;
  }
}

}  // namespace calls
}  // namespace fuzz
