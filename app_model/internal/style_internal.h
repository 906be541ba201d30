#pragma once

// Private to the application model: the parts of resolve_style that
// render-tree building and the style memo call, the slots a node's style is
// read from, and the helpers that tests call on their own.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app_model/style.h"

namespace Drelm {
class DLayer;
}

namespace Ombrix {

// The attributes of a fill, in the order the fill rule reads them: the
// gradient's two colours and two positions, then the plain fill.
inline constexpr std::array<std::string_view, 5> kFillAttributes = {
    "Fill.Start Color", "Fill.End Color", "Fill.Start", "Fill.End", "Fill"};

// Whether a field reads one attribute of the layer itself, a slot of its own.
constexpr bool has_own_slot(StyleRule rule) {
  switch (rule) {
    case StyleRule::number:
    case StyleRule::number_if_present:
    case StyleRule::flag:
    case StyleRule::text:
    case StyleRule::source:
      return true;
    default:
      return false;
  }
}

// The number of rows of kStyleFields whose rule passes `keep`.
template <typename Keep>
constexpr std::size_t count_style_fields(Keep keep) {
  return std::apply(
      [&keep](const auto&... field) { return (std::size_t{0} + ... + (keep(field.rule) ? 1 : 0)); },
      kStyleFields);
}

// Whether row I of kStyleFields is written in the JSON style object.
template <std::size_t I>
constexpr bool kInJson = std::get<I>(kStyleFields).shown == StyleShown::json;

// The values a node's style is read from, by slot: the layer's (the fill's
// attributes, then one per field with a slot of its own, in table order),
// then the border's (the fill's attributes, then its fields in table order).
inline constexpr std::size_t kBorderSlot =
    kFillAttributes.size() + count_style_fields(has_own_slot);
inline constexpr std::size_t kStyleSlotCount =
    kBorderSlot + kFillAttributes.size() +
    count_style_fields([](StyleRule rule) { return rule == StyleRule::border_number; });

// A set of slots.
class StyleSlotBits {
 public:
  constexpr void set(std::size_t slot) { words[slot / 64] |= std::uint64_t{1} << slot % 64; }
  constexpr bool any() const {
    for (std::uint64_t word : words) {
      if (word != 0) return true;
    }
    return false;
  }
  constexpr bool intersects(const StyleSlotBits& other) const {
    for (std::size_t i = 0; i < kWords; ++i) {
      if ((words[i] & other.words[i]) != 0) return true;
    }
    return false;
  }
  constexpr StyleSlotBits& operator|=(const StyleSlotBits& other) {
    for (std::size_t i = 0; i < kWords; ++i) words[i] |= other.words[i];
    return *this;
  }
  constexpr StyleSlotBits without(const StyleSlotBits& other) const {
    StyleSlotBits rest = *this;
    for (std::size_t i = 0; i < kWords; ++i) rest.words[i] &= ~other.words[i];
    return rest;
  }
  // Calls visit(slot) for each slot of the set, in increasing order.
  template <typename Visit>
  void for_each(Visit visit) const {
    for (std::size_t i = 0; i < kWords; ++i) {
      for (std::uint64_t bits = words[i]; bits != 0; bits &= bits - 1) {
        visit(i * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
      }
    }
  }

 private:
  static constexpr std::size_t kWords = (kStyleSlotCount + 63) / 64;
  std::array<std::uint64_t, kWords> words{};
};

// resolve_style into a style that holds the defaults, with the layer's "Border"
// child already looked up (null when it has none). REQUIRES: layer is not null.
void resolve_style_into(ResolvedStyle& style, Drelm::DLayer* layer,
                        const std::vector<std::string>& states, Drelm::DLayer* border);

// The fill of a layer (may be null) into both outputs, or neither when it has none.
void resolve_fill(Drelm::DLayer* layer, const std::vector<std::string>& states, std::string& fill,
                  bool& is_gradient);
// A gradient stop's position as short decimal text: 0.5, 1, -0.25.
std::string stop_pos(double position);
// The text of an attribute for the states; empty when absent or not a text.
std::string get_string(Drelm::DLayer* layer, const char* name,
                       const std::vector<std::string>& states);
// The first child layer of that exact name, or null (also for a null layer).
Drelm::DLayer* child_layer(Drelm::DLayer* layer, std::string_view name);

}  // namespace Ombrix
