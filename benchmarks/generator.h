#pragma once

// Synthetic but realistic interfaces in the theme language, for benchmarks:
// widget bases under "Ombrix" whose kind roots ("Box", "Button", "Text",
// "Icon") set about forty attributes, many with state values and state-set
// blocks, colours linked into "Theme" and a "Border" sub-layer; derived widgets
// on top of them; an application under "App" whose nodes inherit from those
// widgets and set one to six attributes each; a data list of rows.

#include <cstddef>
#include <string>
#include <vector>

#include "app_model/app.h"

namespace bench {

struct InterfaceSize {
  int sections = 10;  // cards under "App": a header and rows of items each
  int rows_per_section = 2;
  int items_per_row = 16;    // buttons with an icon and a label each
  int extra_attributes = 0;  // plain attributes added to every item
};

// Size whose interface yields about that many render nodes (100 per section).
InterfaceSize size_for_nodes(int nodes);

struct GeneratedFiles {
  std::string root;  // holds styles/{widgets,mounts} and themes/
  std::size_t drl_bytes = 0;
  std::vector<std::string> drl_files;  // every ".drl" file written, in load order
  std::string json;  // the same layers, attributes and values as one JSON document
};

// Writes a style tree and two themes ("Dusk", "Dawn") below a fresh temporary
// directory, or below `directory` when it is not empty.
GeneratedFiles write_interface(const InterfaceSize& size, int list_rows,
                               const std::string& directory = "");

// Writes one file holding a single layer with that many attributes.
GeneratedFiles write_wide_layer(int attributes);

// Render nodes the interface yields without data-list rows (the list node included).
int node_count(const InterfaceSize& size);

// A path of a button of the generated interface, and of its label.
std::string item_path(int section, int row, int item);
std::string label_path(int section, int row, int item);

// The global states and per-node states an application of this interface runs with.
void apply_states(Ombrix::OApp& app, const InterfaceSize& size);

std::vector<Ombrix::ListEntry> make_rows(int count);

void remove_tree(const std::string& root);

}  // namespace bench
