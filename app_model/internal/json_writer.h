#pragma once

// Private to the application model: the render tree and patch lists written
// as JSON text straight into a string, without a document object.
//
// The bytes are exactly those that the JSON library's dump(-1, ' ', false,
// error_handler_t::replace) writes for the documents that node_to_json builds:
// the same keys in the same order, compact, strings escaped as it escapes them
// (U+FFFD for bytes that are not UTF-8), numbers formatted as it formats them.
// The library stays the reference: the reference_* functions below write
// through it, and tests and the fuzz target compare the two byte for byte.

#include <string>
#include <string_view>
#include <vector>

#include "app_model/render_node.h"

namespace Ombrix {

// The node object of `node` and its subtree.
std::string node_json(const RenderNode& node);
// The array of the patch objects of `patches`, in order.
std::string patches_json(const std::vector<Patch>& patches);

// One JSON string, and one double as a JSON number, appended to `out`.
void append_json_string(std::string& out, std::string_view text);
void append_json_number(std::string& out, double value);

// The same texts built as documents of the JSON library and dumped.
std::string reference_node_json(const RenderNode& node);
std::string reference_patches_json(const std::vector<Patch>& patches);

}  // namespace Ombrix
