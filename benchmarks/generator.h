#pragma once

// Synthetic but realistic interfaces in the theme language, for benchmarks:
// widget bases under "Ombrix" with grouped attributes, state-sets and links
// into "Theme"; an application under "App" whose layers inherit from them; a
// data list of rows.

#include <cstddef>
#include <string>
#include <vector>

#include "app_model/app.h"

namespace bench {

struct InterfaceSize {
  int sections = 10;           // children of "App"
  int items_per_section = 50;  // buttons per section, each with a label child
  int extra_attributes = 0;    // plain attributes added to every item
};

struct GeneratedFiles {
  std::string root;  // holds styles/{widgets,mounts} and themes/
  std::size_t drl_bytes = 0;
  std::string json;  // the same layers, attributes and values as one JSON document
};

// Writes a style tree and two themes ("Dusk", "Dawn") below a fresh temporary directory.
GeneratedFiles write_interface(const InterfaceSize& size, int list_rows);

// Writes one file holding a single layer with that many attributes.
GeneratedFiles write_wide_layer(int attributes);

// Number of render nodes the interface yields without data-list rows.
int node_count(const InterfaceSize& size);

std::vector<Ombrix::ListEntry> make_rows(int count);

void remove_tree(const std::string& root);

}  // namespace bench
