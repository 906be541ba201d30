#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app_model/app.h"

namespace Ombrix {
namespace {

using Calls = std::vector<std::string>;

TEST(Dispatch, input_stores_the_whole_value_and_runs_the_handler) {
  OApp app;
  Calls calls;
  app.input_handlers["A/Edit"] = [&](const std::string& text) { calls.push_back(text); };

  app.dispatch("A/Edit", "input:");
  app.dispatch("A/Edit", "input:a:b::");
  EXPECT_EQ(app.input_values.at("A/Edit"), "a:b::");
  EXPECT_EQ(calls, (Calls{"", "a:b::"}));

  // Stored even without a handler, and an empty handler is skipped.
  app.input_handlers["A/Empty"] = nullptr;
  app.dispatch("A/Other", "input:x");
  app.dispatch("A/Empty", "input:y");
  EXPECT_EQ(app.input_values.at("A/Other"), "x");
  EXPECT_EQ(app.input_values.at("A/Empty"), "y");
  EXPECT_EQ(calls.size(), 2u);
}

TEST(Dispatch, scan_and_scan_status_only_run_their_callbacks) {
  OApp app;
  Calls calls;
  app.scan_handlers["S"] = [&](const std::string& text) { calls.push_back("scan " + text); };
  app.dispatch("S", "scan:code:1");
  app.dispatch("S", "scanstatus:ready");  // no status callback yet
  app.on_scan_status = [&](const std::string& path, const std::string& status) {
    calls.push_back(path + " status " + status);
  };
  app.dispatch("S", "scanstatus:ready");
  app.dispatch("T", "scan:ignored");
  EXPECT_EQ(calls, (Calls{"scan code:1", "S status ready"}));
  EXPECT_TRUE(app.input_values.empty());
}

TEST(Dispatch, select_accepts_only_known_option_ids_that_change_the_selection) {
  OApp app;
  Calls calls;
  app.select_handlers["C"] = [&](const std::string& id) { calls.push_back(id); };
  app.select_handlers["Unlisted"] = [&](const std::string& id) { calls.push_back(id); };
  app.combo_options["C"] = {{"one", "One"}, {"two", "Two"}, {"", "None"}};

  app.dispatch("Unlisted", "select:one");
  EXPECT_FALSE(app.combo_selected.contains("Unlisted"));

  app.dispatch("C", "select:One");  // a label, not an id
  EXPECT_FALSE(app.combo_selected.contains("C"));

  app.dispatch("C", "select:two");
  app.dispatch("C", "select:two");
  app.dispatch("C", "select:three");
  EXPECT_EQ(app.combo_selected.at("C"), "two");
  app.dispatch("C", "select:");
  EXPECT_EQ(app.combo_selected.at("C"), "");
  EXPECT_EQ(calls, (Calls{"two", ""}));

  // An empty id on a fresh path matches the entry created empty: no change.
  app.combo_options["D"] = {{"", "None"}};
  app.select_handlers["D"] = [&](const std::string& id) { calls.push_back("D" + id); };
  app.dispatch("D", "select:");
  EXPECT_EQ(app.combo_selected.at("D"), "");
  EXPECT_EQ(calls.size(), 2u);
}

TEST(Dispatch, click_runs_theme_button_then_list_button_then_checkbox_and_handler) {
  OApp app;
  Calls calls;
  ASSERT_EQ(app.add_theme_json(R"({"Blue": {}})"), "Blue");
  app.on_theme_changed = [&](const std::string& id) { calls.push_back("theme " + id); };
  const auto record = [&](const std::string& tag) {
    return [&calls, tag] { calls.push_back(tag); };
  };

  // A theme button that is also a checkbox with a handler only switches the theme.
  app.theme_buttons["T/Blue"] = "Blue";
  app.checkbox_paths.insert("T/Blue");
  app.click_handlers["T/Blue"] = record("click T/Blue");
  app.dispatch("T/Blue", "click");
  EXPECT_EQ(calls, (Calls{"theme Blue"}));
  EXPECT_FALSE(app.node_states.contains("T/Blue"));
  calls.clear();

  // A button for a theme that is gone does nothing.
  app.theme_buttons["T/Gone"] = "Gone";
  app.dispatch("T/Gone", "click");
  EXPECT_TRUE(calls.empty());

  // A checkbox flips before its handler runs, and the handler sees it.
  app.checkbox_paths.insert("Box");
  app.click_handlers["Box"] = [&] {
    calls.push_back(app.node_states.at("Box").contains("Checked") ? "checked" : "unchecked");
  };
  app.dispatch("Box", "click");
  app.dispatch("Box", "click");
  EXPECT_EQ(calls, (Calls{"checked", "unchecked"}));
  EXPECT_TRUE(app.node_states.at("Box").empty());
  calls.clear();

  // A plain click handler, and events that are not exactly "click".
  app.click_handlers["Plain"] = record("plain");
  for (const char* event : {"click", "click ", "Click", "clicked", "", "select:x"}) {
    app.dispatch("Plain", event);
  }
  app.click_handlers["Unset"] = nullptr;
  app.dispatch("Unset", "click");
  app.dispatch("Nowhere", "click");
  EXPECT_EQ(calls, (Calls{"plain"}));
}

TEST(Dispatch, list_buttons_go_to_the_named_handler_else_the_default_one) {
  OApp app;
  Calls calls;
  const auto record = [&](const std::string& tag) {
    return
        [&calls, tag](const std::string& action, const std::string& arg, const std::string& data) {
          calls.push_back(tag + " " + action + "|" + arg + "|" + data);
        };
  };
  app.default_action_handler = record("default");
  app.action_handlers["open"] = record("named");
  app.action_handlers["muted"] = nullptr;
  app.list_actions["L/row1/Open"] = {"open", "row1", "x:y"};
  app.list_actions["L/row1/Mute"] = {"muted", "row1", ""};
  app.list_actions["L/row1/Other"] = {"other", "", "z"};
  for (const char* path : {"L/row1/Open", "L/row1/Mute", "L/row1/Other"}) {
    app.click_handlers[path] = [&calls] { calls.push_back("click handler"); };
    app.checkbox_paths.insert(path);
    app.dispatch(path, "click");
  }
  EXPECT_EQ(calls, (Calls{"named open|row1|x:y", "default other||z"}));
  EXPECT_TRUE(app.node_states.empty());

  app.default_action_handler = nullptr;
  calls.clear();
  app.dispatch("L/row1/Other", "click");
  EXPECT_TRUE(calls.empty());
}

TEST(Dispatch, handlers_may_drop_their_own_entries_while_they_run) {
  OApp app;
  int runs = 0;
  app.click_handlers["Once"] = [&] {
    app.click_handlers.erase("Once");
    ++runs;
  };
  app.list_actions["L/r/Remove"] = {"remove", "r", "payload"};
  std::string seen;
  app.action_handlers["remove"] = [&](const std::string&, const std::string& arg,
                                      const std::string& data) {
    // What a render would do to the maps while the action runs.
    app.list_actions.clear();
    app.action_handlers.clear();
    seen = arg + "/" + data;
  };
  app.input_handlers["E"] = [&](const std::string& text) {
    app.input_handlers.erase("E");
    seen += "/" + text;
  };

  app.dispatch("Once", "click");
  app.dispatch("Once", "click");
  app.dispatch("L/r/Remove", "click");
  app.dispatch("E", "input:typed");
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(seen, "r/payload/typed");
}

TEST(Dispatch, handlers_of_every_kind_keep_their_state_from_one_event_to_the_next) {
  using Counts = std::vector<int>;
  const auto counter = [](Counts& counts) {
    return [&counts, n = 0](const auto&...) mutable { counts.push_back(++n); };
  };
  // Counts, then at its first call moves (or copies) the entry `from` of
  // `handlers`, which holds it while it runs, to `to`.
  const auto moving = [](auto& handlers, std::string from, std::string to, bool copy, auto count) {
    return [&handlers, from, to, copy, count, first = true](const auto&... args) mutable {
      count(args...);
      if (!std::exchange(first, false)) return;
      if (copy) {
        handlers[to] = handlers[from];
      } else {
        handlers[to] = std::move(handlers[from]);
        handlers.erase(from);
      }
    };
  };
  struct Case {
    std::string kind;
    std::function<void(OApp&, Counts&)> install;
    std::vector<std::string> events;
    // The path of each event; "P" for all when empty.
    std::vector<std::string> paths = {};
  };
  const std::vector<std::string> clicks(3, "click");
  const std::vector<std::string> moved{"Old", "P", "P"};
  const Case cases[] = {
      {"click", [&](OApp& app, Counts& c) { app.click_handlers["P"] = counter(c); }, clicks},
      {"input",
       [&](OApp& app, Counts& c) { app.input_handlers["P"] = counter(c); },
       {"input:a", "input:a", "input:a"}},
      {"select",
       [&](OApp& app, Counts& c) {
         app.combo_options["P"] = {{"a", "A"}, {"b", "B"}};
         app.select_handlers["P"] = counter(c);
       },
       {"select:a", "select:b", "select:a"}},
      {"named action",
       [&](OApp& app, Counts& c) {
         app.list_actions["P"] = {"act", "", ""};
         app.action_handlers["act"] = counter(c);
       },
       clicks},
      {"default action",
       [&](OApp& app, Counts& c) {
         app.list_actions["P"] = {"act", "", ""};
         app.default_action_handler = counter(c);
       },
       clicks},
      {"scan",
       [&](OApp& app, Counts& c) { app.scan_handlers["P"] = counter(c); },
       {"scan:x", "scan:x", "scan:x"}},
      {"scan status",
       [&](OApp& app, Counts& c) { app.on_scan_status = counter(c); },
       {"scanstatus:x", "scanstatus:x", "scanstatus:x"}},
      // Handlers that re-key or copy their own entry while they run.
      {"click moved",
       [&](OApp& app, Counts& c) {
         app.click_handlers["Old"] = moving(app.click_handlers, "Old", "P", false, counter(c));
       },
       clicks, moved},
      {"click copied",
       [&](OApp& app, Counts& c) {
         app.click_handlers["Old"] = moving(app.click_handlers, "Old", "P", true, counter(c));
       },
       clicks, moved},
      {"input moved",
       [&](OApp& app, Counts& c) {
         app.input_handlers["Old"] = moving(app.input_handlers, "Old", "P", false, counter(c));
       },
       {"input:a", "input:a", "input:a"},
       moved},
      {"select copied",
       [&](OApp& app, Counts& c) {
         app.combo_options["Old"] = app.combo_options["P"] = {{"a", "A"}, {"b", "B"}};
         app.select_handlers["Old"] = moving(app.select_handlers, "Old", "P", true, counter(c));
       },
       {"select:a", "select:a", "select:b"},
       moved},
      {"named action moved",
       [&](OApp& app, Counts& c) {
         app.list_actions["Old"] = {"old", "", ""};
         app.list_actions["P"] = {"act", "", ""};
         app.action_handlers["old"] = moving(app.action_handlers, "old", "act", false, counter(c));
       },
       clicks, moved},
      {"default action copied to a named one",
       [&](OApp& app, Counts& c) {
         app.list_actions["Old"] = {"none", "", ""};
         app.list_actions["P"] = {"act", "", ""};
         app.default_action_handler = [&app, count = counter(c)](const auto&... args) mutable {
           count(args...);
           if (!app.action_handlers.contains("act")) {
             app.action_handlers["act"] = app.default_action_handler;
           }
         };
       },
       clicks, moved},
      {"scan moved",
       [&](OApp& app, Counts& c) {
         app.scan_handlers["Old"] = moving(app.scan_handlers, "Old", "P", false, counter(c));
       },
       {"scan:x", "scan:x", "scan:x"},
       moved},
      // Handlers that keep their own entry outside the maps while they run:
      // every copy shares the one handler, as it would without a stand-in.
      {"click disabled until a posted reply puts it back",
       [&](OApp& app, Counts& c) {
         app.click_handlers["P"] = [&app, count = counter(c)]() mutable {
           count();
           auto self = std::move(app.click_handlers["P"]);
           app.click_handlers.erase("P");
           app.post([&app, self] { app.click_handlers["P"] = self; });
         };
       },
       clicks},
      {"click copied into a posted callback that is dropped",
       [&](OApp& app, Counts& c) {
         app.click_handlers["P"] = [&app, count = counter(c)]() mutable {
           count();
           app.post([self = app.click_handlers["P"]] {});
         };
       },
       clicks},
      {"scan status taken out until a posted reply",
       [&](OApp& app, Counts& c) {
         app.on_scan_status = [&app, count = counter(c)](const auto&... args) mutable {
           count(args...);
           app.post([&app, self = std::move(app.on_scan_status)] { app.on_scan_status = self; });
         };
       },
       {"scanstatus:x", "scanstatus:x", "scanstatus:x"}},
      {"default action called from a copy kept in a posted callback",
       [&](OApp& app, Counts& c) {
         app.list_actions["P"] = {"act", "", ""};
         app.default_action_handler = [&app, count = counter(c),
                                       first = true](const auto&... args) mutable {
           count(args...);
           if (!std::exchange(first, false)) return;
           app.post([self = app.default_action_handler] { self("act", "", ""); });
         };
       },
       {"click", "click"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    // Posted callbacks run after each event, and may outlive the model.
    std::vector<std::function<void()>> posted;
    OApp app;
    app.post = [&posted](std::function<void()> callback) { posted.push_back(std::move(callback)); };
    Counts counts;
    c.install(app, counts);
    for (std::size_t i = 0; i < c.events.size(); ++i) {
      app.dispatch(c.paths.empty() ? "P" : c.paths[i], c.events[i]);
      for (auto& callback : std::exchange(posted, {})) callback();
    }
    EXPECT_EQ(counts, (Counts{1, 2, 3}));
  }
}

TEST(Dispatch, handlers_that_replace_or_clear_their_entry_throw_or_reenter_keep_the_change) {
  OApp app;
  Calls calls;
  const auto record = [&](const std::string& tag) {
    return [&calls, tag](const auto&...) { calls.push_back(tag); };
  };

  // A replacement made during the call runs from the next event on.
  app.click_handlers["R"] = [&] {
    calls.push_back("first");
    app.click_handlers["R"] = record("second");
  };
  app.list_actions["L/Other"] = {"other", "", ""};
  app.default_action_handler = [&](const auto&...) {
    calls.push_back("default");
    app.default_action_handler = record("new default");
  };
  // Cleared to empty, the named entry stays empty and swallows the action.
  app.list_actions["L/Mute"] = {"mute", "", ""};
  app.action_handlers["mute"] = [&](const auto&...) {
    calls.push_back("mute");
    app.action_handlers["mute"] = nullptr;
  };
  for (const char* path : {"R", "R", "R", "L/Other", "L/Other", "L/Mute", "L/Mute"}) {
    app.dispatch(path, "click");
  }
  EXPECT_EQ(calls, (Calls{"first", "second", "second", "default", "new default", "mute"}));
  EXPECT_FALSE(app.action_handlers.at("mute"));
  calls.clear();

  // A handler that throws keeps its place and its state.
  app.input_handlers["E"] = [&, n = 0](const std::string&) mutable {
    if (++n == 1) throw std::runtime_error("first call fails");
    calls.push_back("input " + std::to_string(n));
  };
  EXPECT_THROW(app.dispatch("E", "input:x"), std::runtime_error);
  app.dispatch("E", "input:y");

  // An event a handler sends to its own entry does not re-enter it.
  app.click_handlers["Self"] = [&, n = 0]() mutable {
    calls.push_back("self " + std::to_string(++n));
    app.dispatch("Self", "click");
  };
  app.dispatch("Self", "click");
  app.dispatch("Self", "click");
  EXPECT_EQ(calls, (Calls{"input 2", "self 1", "self 2"}));
}

TEST(Dispatch, clicks_follow_what_the_last_render_left_behind) {
  const std::string fixtures = std::string(OMBRIX_FIXTURES_DIR) + "/app_themes";
  OApp app;
  ASSERT_TRUE(app.init(fixtures + "/themes", fixtures + "/styles", "Light", {fixtures + "/ui"}));
  app.root_name = "App";
  Calls calls;
  app.on_theme_changed = [&](const std::string& id) { calls.push_back("theme " + id); };
  app.default_action_handler = [&](const std::string& action, const std::string& arg,
                                   const std::string& data) {
    calls.push_back(action + "|" + arg + "|" + data);
  };
  app.click_handlers["App/Accept"] = [&] { calls.push_back("accept"); };
  app.render_patches();

  app.dispatch("App/Themes/Dark (Lamplight)", "click");
  EXPECT_EQ(app.active_theme, "Dark (Lamplight)");
  app.dispatch("App/Save", "click");
  app.dispatch("App/Accept", "click");
  EXPECT_TRUE(app.node_states.at("App/Accept").contains("Checked"));
  EXPECT_EQ(calls, (Calls{"theme Dark (Lamplight)", "sources||add", "accept"}));

  // Once hidden, the checkbox is gone from the tree: only its handler runs.
  app.hidden_paths.insert("App/Accept");
  app.render_patches();
  app.dispatch("App/Accept", "click");
  EXPECT_TRUE(app.node_states.at("App/Accept").contains("Checked"));
  EXPECT_EQ(calls.back(), "accept");
}

}  // namespace
}  // namespace Ombrix
