// The program of docs/cpp-guide.md: a small task list, driven the way a front
// end drives the model. Where a real front end would change its widgets, this
// one prints the patches it receives.
//
// Usage: ombrix_guide [DIR], where DIR holds styles/, extra/ and themes/
// (by default the current directory).

#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/app.h"
#include "theme_language/logger.h"

namespace {

using Json = nlohmann::json;
using Ombrix::OApp;

// The library's messages: without a sink they go to standard output.
void print_message(const std::string& message) { std::cout << "   log: " << message << '\n'; }

// The node's kind and path, its text and fill when it has them.
std::string describe(const Json& node) {
  std::string line = node["type"].get<std::string>() + ' ' + node["path"].get<std::string>();
  if (node.contains("text")) line += " \"" + node["text"].get<std::string>() + '"';
  if (const std::string fill = node["style"]["fill"]; !fill.empty()) line += " fill " + fill;
  return line;
}

void print_tree(const Json& node, int depth) {
  std::cout << std::string(5 + 2 * depth, ' ') << describe(node) << '\n';
  for (const Json& child : node["children"]) print_tree(child, depth + 1);
}

// The front end: applies one patch list to its widgets, in order. Here it
// prints each patch; an insert under the empty path is a new root.
void apply(const std::string& patches) {
  const Json list = Json::parse(patches);
  if (list.empty()) std::cout << "   " << patches << '\n';
  for (const Json& patch : list) {
    const std::string op = patch["op"];
    if (op == "insert") {
      std::cout << "   insert under \"" << patch["parentPath"].get<std::string>() << "\" at "
                << patch["index"] << ":\n";
      print_tree(patch["node"], 0);
    } else if (op == "update" || op == "replace") {
      std::cout << "   " << op << ' ' << describe(patch["node"]) << '\n';
    } else if (op == "remove") {
      std::cout << "   remove " << patch["path"].get<std::string>() << '\n';
    } else if (op == "editorvalue") {
      std::cout << "   editorvalue " << patch["path"].get<std::string>() << " \""
                << patch["text"].get<std::string>() << "\"\n";
    }
  }
}

// The front end's side of the model: it renders, reports what the user does,
// and runs the event loop behind the hooks post and request_render.
struct FrontEnd {
  OApp& app;
  std::vector<std::function<void()>> posted;
  bool render_requested = false;

  explicit FrontEnd(OApp& model) : app(model) {
    app.post = [this](std::function<void()> job) { posted.push_back(std::move(job)); };
    app.request_render = [this] { render_requested = true; };
  }

  // One render step. Every patch list must reach the widgets: the next one
  // holds only what changed since.
  void render() { apply(app.render_patches_json()); }

  // The user acted on a node: report it, render, and let the loop run.
  void user(const std::string& path, const std::string& event) {
    std::cout << "dispatch(\"" << path << "\", \"" << event << "\")\n";
    app.dispatch(path, event);
    render();
    run_loop();
  }

  // Pointer and focus states are the front end's: it sets them by node path
  // and renders, as after any other change.
  void node_state(const std::string& path, const std::string& state, bool on) {
    std::cout << (on ? "+" : "-") << state << ' ' << path << '\n';
    if (on) {
      app.node_states[path].insert(state);
    } else {
      app.node_states[path].erase(state);
    }
    render();
  }

  void run_loop() {
    for (auto& job : std::exchange(posted, {})) job();
    if (std::exchange(render_requested, false)) render();
  }
};

// The roots of two trees are matched whatever their names: without the reset
// the next list would remove the old page's children and insert the new
// page's under a root path that the front end does not have.
void show_page(OApp& app, const std::string& page) {
  if (app.engine().find_layer(page) == nullptr) return;  // it would render as an empty box
  app.root_name = page;
  app.previous_tree.reset();
}

// Work that ends later comes back through the hooks that the front end filled.
void count_tasks_later(OApp& app) {
  app.post([&app] {
    app.texts["Tasks/Title"] = "Tasks (" + std::to_string(app.lists["tasks"].size()) + ")";
    app.request_render();
  });
}

// The program's own part: what it does when the user acts.
void wire(OApp& app, int& next_task) {
  app.click_handlers["Tasks/Add"] = [&app, &next_task] {
    const std::string title = app.input_values["Tasks/New"];
    if (title.empty()) return;
    Ombrix::ListEntry row;
    row.id = "task" + std::to_string(next_task++);  // one segment of a node path: no "/"
    row.fields["title"] = title;
    row.fields["urgent"] = app.node_states["Tasks/Urgent"].contains("Checked") ? "1" : "0";
    app.lists["tasks"].push_back(std::move(row));
    // The editor shows what the user typed; emptying it is a request to the front end.
    app.input_values["Tasks/New"].clear();
    app.pending_editor_values.emplace_back("Tasks/New", "");
    count_tasks_later(app);
  };
  // The model has toggled "Checked" before the handler runs.
  app.click_handlers["Tasks/Urgent"] = [&app] {
    std::cout << "   Urgent checked: " << app.node_states["Tasks/Urgent"].contains("Checked")
              << '\n';
  };
  // A row's intent "list:remove" arrives as (list name, row id, "remove").
  app.action_handlers["tasks"] = [&app](const std::string& list, const std::string& id,
                                        const std::string& what) {
    if (what != "remove") return;
    std::erase_if(app.lists[list], [&id](const Ombrix::ListEntry& row) { return row.id == id; });
    count_tasks_later(app);
  };
  app.click_handlers["Tasks/About"] = [&app] { show_page(app, "About"); };
  app.click_handlers["About/Back"] = [&app] { show_page(app, "Tasks"); };
}

}  // namespace

int main(int argc, char** argv) {
  std::error_code error;
  if (argc > 1) std::filesystem::current_path(argv[1], error);
  if (error) {
    std::cerr << "ombrix_guide: " << argv[1] << ": " << error.message() << '\n';
    return 1;
  }

  std::cout << std::boolalpha;
  Drelm::set_log_function(print_message);
  OApp app;
  app.root_name = "Tasks";

  FrontEnd front_end(app);
  // The host's: it would save the choice with its settings.
  app.on_theme_changed = [](const std::string& id) {
    std::cout << "   on_theme_changed(\"" << id << "\")\n";
  };

  std::cout << "init\n";
  const bool started = app.init("themes", "styles", "Dusk (Guide)", {"extra"});
  std::cout << "   returned " << started << ", active \"" << app.active_theme << "\", themes:";
  for (const auto& [id, theme] : app.themes) std::cout << " \"" << id << '"';
  std::cout << '\n';
  if (!started) return 1;

  int next_task = 1;
  wire(app, next_task);

  std::cout << "first render\n";
  front_end.render();

  std::cout << "-- typing, then adding a task\n";
  front_end.node_state("Tasks/New", "Focused", true);
  front_end.user("Tasks/New", "input:Water the plants");
  std::cout << "   input_values: \"" << app.input_values["Tasks/New"] << "\"\n";
  front_end.node_state("Tasks/New", "Focused", false);
  front_end.user("Tasks/Urgent", "click");
  front_end.node_state("Tasks/Add", "Hover", true);
  front_end.node_state("Tasks/Add", "Pressed", true);
  front_end.node_state("Tasks/Add", "Pressed", false);
  front_end.user("Tasks/Add", "click");
  front_end.node_state("Tasks/Add", "Hover", false);

  std::cout << "-- themes\n";
  front_end.user("Tasks/Themes/Dawn", "click");
  const std::string mint = app.add_theme_json(
      R"({"Mint": {"Foreground": "#0b3d2e", "Primary": "#c8f2e0", "Tertiary": "#98dcbe"}})");
  std::cout << "add_theme_json: \"" << mint << "\", of text that is not a theme: \""
            << app.add_theme_json("Mint") << "\"\n";
  front_end.render();
  std::cout << "remove_theme(\"Dawn\")\n";
  const bool removed = app.remove_theme("Dawn");
  std::cout << "   returned " << removed << '\n';
  front_end.render();

  std::cout << "-- removing the task through its row\n";
  front_end.user("Tasks/List/task1", "click");

  std::cout << "-- another page\n";
  front_end.user("Tasks/About", "click");
  front_end.user("About/Back", "click");
  return 0;
}
