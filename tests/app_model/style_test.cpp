#include "app_model/style.h"

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "app_model/internal/style_internal.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"

namespace {

using Drelm::DAttribute;
using Drelm::DLayer;
using Drelm::dMake;
using Drelm::DValue;
using Ombrix::ResolvedStyle;
using States = std::vector<std::string>;

DAttribute* set(DLayer* layer, const std::string& name, const DValue& value) {
  auto* attribute = dMake<DAttribute>(layer, name);
  attribute->set_value(value);
  return attribute;
}

// A value under the state key (sorted condition names joined with ":").
DAttribute* set_state(DAttribute* attribute, const std::string& key, const DValue& value) {
  auto* state = dMake<DAttribute>(attribute, key);
  state->set_value(value);
  return state;
}

void expect_defaults(const ResolvedStyle& s) {
  EXPECT_EQ(s.fill, "");
  EXPECT_FALSE(s.fillIsGradient);
  EXPECT_EQ(s.borderFill, "");
  EXPECT_FALSE(s.borderIsGradient);
  EXPECT_EQ(s.borderThickness, 0);
  EXPECT_EQ(s.radiusTL, 0);
  EXPECT_EQ(s.textColor, "");
  EXPECT_EQ(s.fontSize, 0);
  EXPECT_EQ(s.direction, "");
  EXPECT_EQ(s.shrink, -1.0);
  EXPECT_EQ(s.width, 0);
  EXPECT_EQ(s.opacity, 1.0);
  EXPECT_TRUE(s.visible);
  EXPECT_FALSE(s.collapsed);
  EXPECT_FALSE(s.secret);
  EXPECT_TRUE(s.wrap);
  EXPECT_FALSE(s.autoplay);
  EXPECT_EQ(s.text, "");
  EXPECT_EQ(s.iconSource, "");
  EXPECT_EQ(s.mediaSource, "");
  EXPECT_EQ(s.binds, "");
  EXPECT_EQ(s.heightViewport, 0);
  EXPECT_EQ(s.codeBg, "");
}

TEST(ResolveStyle, null_layer_and_empty_layer_give_the_defaults) {
  expect_defaults(Ombrix::resolve_style(nullptr, {"Hover"}));
  DLayer root;
  auto* layer = dMake<DLayer>(&root, "Button");
  expect_defaults(Ombrix::resolve_style(layer, {}));

  // The field table repeats each default: a kept style leaves out the fields
  // that hold it, so one that differed would come back changed.
  const ResolvedStyle fresh;
  Ombrix::for_each_style_field([&fresh](auto i) {
    constexpr auto& field = std::get<i>(Ombrix::kStyleFields);
    const auto& value = fresh.*std::remove_cvref_t<decltype(field)>::member;
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, std::string>) {
      EXPECT_TRUE(value.empty() && field.default_value == 0) << field.name;
    } else {
      EXPECT_EQ(static_cast<double>(value), field.default_value) << field.name;
    }
  });
}

TEST(ResolveStyle, each_rule_reads_set_absent_foreign_and_inactive_values) {
  DLayer root;
  auto* layer = dMake<DLayer>(&root, "Button");
  // number
  set(layer, "Corner Radii.Top Left", DValue{4.0});
  set(layer, "Margins.Left", DValue{std::string("12")});  // text: 0
  set(layer, "Padding.Top", DValue{true});                // flag value: 0
  set_state(set(layer, "Font.Size", DValue{}), "Hover", DValue{20.0});
  set(layer, "Size.Height Viewport", DValue{0.5});
  // number when present
  set_state(set(layer, "Opacity", DValue{}), "Hover", DValue{0.5});
  set(layer, "Layout.Shrink", DValue{std::string("x")});
  // flags
  set(layer, "Visible", DValue{0.0});
  set(layer, "Wrap", DValue{std::string("0")});  // not a number: default stays
  set(layer, "Collapsed", DValue{std::numeric_limits<double>::quiet_NaN()});
  set(layer, "Secret", DValue{true});  // a bool is not read as a flag
  set(layer, "Multiline", DValue{-2.0});
  set_state(set(layer, "Read Only", DValue{}), "Hover", DValue{1.0});
  // texts
  set(layer, "Text Color", DValue{1.0});
  set(layer, "Text", DValue{std::string("Hello")});
  set(layer, "Source", DValue{std::string("icon.svg")});
  set(layer, "Bind", DValue{std::string("text:a;State:b")});
  set(layer, "Layout.Direction", DValue{std::string("row")});
  set_state(set(layer, "Placeholder", DValue{std::string("plain")}), "Hover",
            DValue{std::string("hovered")});

  const ResolvedStyle s = Ombrix::resolve_style(layer, {});
  EXPECT_EQ(s.radiusTL, 4.0);
  EXPECT_EQ(s.radiusTR, 0);
  EXPECT_EQ(s.marginL, 0);
  EXPECT_EQ(s.paddingT, 0);
  EXPECT_EQ(s.fontSize, 0);
  EXPECT_EQ(s.heightViewport, 0.5);
  EXPECT_EQ(s.opacity, 0);
  EXPECT_EQ(s.shrink, 0);
  EXPECT_FALSE(s.visible);
  EXPECT_TRUE(s.wrap);
  EXPECT_TRUE(s.collapsed);
  EXPECT_FALSE(s.secret);
  EXPECT_TRUE(s.multiline);
  EXPECT_FALSE(s.readOnly);
  EXPECT_EQ(s.textColor, "");
  EXPECT_EQ(s.text, "Hello");
  EXPECT_EQ(s.iconSource, "icon.svg");
  EXPECT_EQ(s.mediaSource, "icon.svg");
  EXPECT_EQ(s.binds, "text:a;State:b");
  EXPECT_EQ(s.direction, "row");
  EXPECT_EQ(s.placeholder, "plain");
  EXPECT_EQ(s.crossAlign, "");

  const ResolvedStyle hovered = Ombrix::resolve_style(layer, {"Desktop", "Hover"});
  EXPECT_EQ(hovered.fontSize, 20.0);
  EXPECT_EQ(hovered.opacity, 0.5);
  EXPECT_TRUE(hovered.readOnly);
  EXPECT_EQ(hovered.placeholder, "hovered");

  EXPECT_EQ(Ombrix::get_string(layer, "Text", {}), "Hello");
  EXPECT_EQ(Ombrix::get_string(layer, "Opacity", {"Hover"}), "");
  EXPECT_EQ(Ombrix::get_string(layer, "Missing", {}), "");
}

TEST(ResolveStyle, fills_and_gradients_come_from_colours_positions_and_the_border_child) {
  DLayer root;
  auto* plain = dMake<DLayer>(&root, "Plain");
  set(plain, "Fill", DValue{std::string("#ff112233")});
  set(plain, "Fill.Start Color", DValue{std::string("#ff000000")});  // no end colour
  ResolvedStyle s = Ombrix::resolve_style(plain, {});
  EXPECT_EQ(s.fill, "#ff112233");
  EXPECT_FALSE(s.fillIsGradient);

  auto* gradient = dMake<DLayer>(&root, "Gradient");
  set(gradient, "Fill", DValue{std::string("#ff112233")});
  set(gradient, "Fill.Start Color", DValue{std::string("#ff000000")});
  set(gradient, "Fill.End Color", DValue{std::string("#ffffffff")});
  s = Ombrix::resolve_style(gradient, {});
  EXPECT_EQ(s.fill, "0:#ff000000,0:#ffffffff");
  EXPECT_TRUE(s.fillIsGradient);
  set(gradient, "Fill.Start", DValue{0.25});
  set(gradient, "Fill.End", DValue{100.0});
  s = Ombrix::resolve_style(gradient, {});
  EXPECT_EQ(s.fill, "0.25:#ff000000,100:#ffffffff");

  // One colour that does not resolve, and no "Fill": nothing is written.
  auto* half = dMake<DLayer>(&root, "Half");
  set(half, "Fill.Start Color", DValue{std::string("#ff000000")});
  set(half, "Fill.End Color", DValue{1.0});
  std::string fill = "kept";
  bool is_gradient = true;
  Ombrix::resolve_fill(half, {}, fill, is_gradient);
  EXPECT_EQ(fill, "kept");
  EXPECT_TRUE(is_gradient);
  Ombrix::resolve_fill(nullptr, {}, fill, is_gradient);
  EXPECT_EQ(fill, "kept");

  // The border is read from the child layer only; attributes are passed over.
  auto* framed = dMake<DLayer>(&root, "Framed");
  set(framed, "Thickness", DValue{9.0});
  set(framed, "Border", DValue{std::string("#ff00ff00")});
  auto* border = dMake<DLayer>(framed, "Border");
  set(border, "Fill", DValue{std::string("#ff0000ff")});
  set(border, "Thickness", DValue{2.0});
  dMake<DLayer>(framed, "Border");  // a second one is never read
  EXPECT_EQ(Ombrix::child_layer(framed, "Border"), border);
  EXPECT_EQ(Ombrix::child_layer(framed, "Bord"), nullptr);
  EXPECT_EQ(Ombrix::child_layer(nullptr, "Border"), nullptr);
  s = Ombrix::resolve_style(framed, {});
  EXPECT_EQ(s.borderFill, "#ff0000ff");
  EXPECT_FALSE(s.borderIsGradient);
  EXPECT_EQ(s.borderThickness, 2.0);
  EXPECT_EQ(s.fill, "");
  EXPECT_EQ(Ombrix::resolve_style(gradient, {}).borderThickness, 0);
}

TEST(ResolveStyle, stop_positions_print_without_trailing_zeros) {
  const std::pair<double, const char*> cases[] = {
      {0.5, "0.5"},
      {1, "1"},
      {0, "0"},
      {100, "100"},
      {0.25, "0.25"},
      {2, "2"},
      {-0.25, "-0.25"},
      {0.0000001, "0"},
      {1234.5678, "1234.5678"},
      {1e20, "100000000000000000000"},
  };
  for (const auto& [position, text] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Ombrix::stop_pos(position), text);
  }
  // The largest double still fits.
  EXPECT_EQ(Ombrix::stop_pos(std::numeric_limits<double>::max()).size(), 309u);
}

struct MobileLayer {
  DLayer root;
  DLayer* layer = dMake<DLayer>(&root, "Item");
};

ResolvedStyle scaled(DLayer* layer, const States& states, bool icon, double size = 1.5,
                     double font = 1.25, double spacing = 1.25) {
  ResolvedStyle s = Ombrix::resolve_style(layer, states);
  Ombrix::apply_mobile_scale(s, layer, states, icon, size, font, spacing);
  return s;
}

TEST(MobileScale, grows_only_values_that_do_not_depend_on_mobile) {
  MobileLayer m;
  set(m.layer, "Font.Size", DValue{14.0});
  set(m.layer, "Size.Width", DValue{24.0});
  set(m.layer, "Size.Max Width", DValue{300.0});
  set(m.layer, "Layout.Spacing", DValue{8.0});
  set(m.layer, "Margins.Left", DValue{-4.0});
  set(m.layer, "Padding.Top", DValue{0.0});
  set(m.layer, "Corner Radii.Top Left", DValue{4.0});
  set_state(set(m.layer, "Padding.Left", DValue{10.0}), "Mobile", DValue{6.0});
  auto* border = dMake<DLayer>(m.layer, "Border");
  set(border, "Thickness", DValue{2.0});

  ResolvedStyle s = scaled(m.layer, {"Desktop"}, false);
  EXPECT_EQ(s.fontSize, 14.0);
  EXPECT_EQ(s.width, 24.0);

  s = scaled(m.layer, {"Mobile"}, false);
  EXPECT_EQ(s.fontSize, 17.5);
  EXPECT_EQ(s.width, 30.0);
  EXPECT_EQ(s.maxWidth, 300.0);
  EXPECT_EQ(s.spacing, 10.0);
  EXPECT_EQ(s.marginL, -4.0);
  EXPECT_EQ(s.paddingT, 0.0);
  EXPECT_EQ(s.paddingL, 6.0);  // given specially for "Mobile"
  EXPECT_EQ(s.radiusTL, 5.0);
  EXPECT_EQ(s.borderThickness, 2.5);

  // Icons take the size factor for their size.
  EXPECT_EQ(scaled(m.layer, {"Narrow", "Mobile"}, true).width, 36.0);

  // A factor of 1.0 switches its group off.
  s = scaled(m.layer, {"Mobile"}, false, 1.5, 1.0, 1.0);
  EXPECT_EQ(s.fontSize, 14.0);
  EXPECT_EQ(s.width, 24.0);
  EXPECT_EQ(s.spacing, 8.0);
  EXPECT_EQ(s.radiusTL, 4.0);
  EXPECT_EQ(s.borderThickness, 2.0);
  s = scaled(m.layer, {"Mobile"}, true, 1.0, 2.0, 2.0);
  EXPECT_EQ(s.width, 24.0);
  EXPECT_EQ(s.fontSize, 28.0);

  // A field set by the caller without an attribute grows; a null layer changes nothing.
  ResolvedStyle set_by_hand;
  set_by_hand.height = 10;
  Ombrix::apply_mobile_scale(set_by_hand, m.layer, {"Mobile"}, false, 1.5, 1.25, 1.25);
  EXPECT_EQ(set_by_hand.height, 12.5);
  Ombrix::apply_mobile_scale(set_by_hand, nullptr, {"Mobile"}, false, 1.5, 1.25, 1.25);
  EXPECT_EQ(set_by_hand.height, 12.5);
}

TEST(MobileScale, font_size_given_for_mobile_stays) {
  MobileLayer m;
  set_state(set(m.layer, "Font.Size", DValue{14.0}), "Mobile", DValue{16.0});
  EXPECT_EQ(scaled(m.layer, {"Mobile"}, false).fontSize, 16.0);
  // A state of "Mobile" together with another name counts only when both are active.
  MobileLayer n;
  set_state(set(n.layer, "Font.Size", DValue{14.0}), "Mobile:Narrow", DValue{16.0});
  EXPECT_EQ(scaled(n.layer, {"Mobile"}, false).fontSize, 17.5);
  EXPECT_EQ(scaled(n.layer, {"Mobile", "Narrow"}, false).fontSize, 16.0);
}

}  // namespace
