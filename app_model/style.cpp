#include "app_model/style.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string_view>

#include "theme_language/attribute.h"
#include "theme_language/layer.h"
#include "theme_language/lookup.h"
#include "theme_language/object.h"

namespace Ombrix {

namespace {

using States = std::vector<std::string>;
using Drelm::DNameKey;
using Drelm::name_key;

// Style names are constants: their hashes are worked out while compiling.
Drelm::DAttribute* find(Drelm::DLayer* layer, const DNameKey& name) {
  return Drelm::find_attribute(*layer, name);
}

// Absent, of another kind or without a value for these states: 0.
double number_of(Drelm::DAttribute* attribute, const States& states) {
  if (!attribute) return 0;
  const double* value = attribute->as_if<double>(states);
  return value ? *value : 0;
}

// Keeps the default unless the layer declares the attribute at all.
void number_when_present_of(Drelm::DAttribute* attribute, const States& states, double& field) {
  if (attribute) field = number_of(attribute, states);
}

// Flags are written as numbers; anything that is not a number keeps the default.
void flag_of(Drelm::DAttribute* attribute, const States& states, bool& field) {
  if (!attribute) return;
  if (const double* value = attribute->as_if<double>(states)) field = *value != 0;
}

void text_of(Drelm::DAttribute* attribute, const States& states, std::string& field) {
  if (!attribute) return;
  if (const std::string* value = attribute->as_if<std::string>(states)) field = *value;
}

void text(Drelm::DLayer* layer, const DNameKey& name, const States& states, std::string& field) {
  text_of(find(layer, name), states, field);
}

bool has_mobile(const States& states) {
  return std::find(states.begin(), states.end(), "Mobile") != states.end();
}

// Grows a positive field, unless the theme gives its attribute a value of its
// own while "Mobile" is active.
void scale(double& field, Drelm::DAttribute* attribute, const States& states, const States& plain,
           double factor) {
  if (!(field > 0)) return;
  if (!attribute || number_of(attribute, states) == number_of(attribute, plain)) field *= factor;
}

void scale(double& field, Drelm::DLayer* layer, const DNameKey& name, const States& states,
           const States& plain, double factor) {
  if (!(field > 0)) return;
  scale(field, find(layer, name), states, plain, factor);
}

}  // namespace

Drelm::DLayer* child_layer(Drelm::DLayer* layer, std::string_view name) {
  return layer ? Drelm::find_child_layer(*layer, name) : nullptr;
}

std::string stop_pos(double position) {
  // Wide enough for the largest double in fixed notation.
  char buffer[512];
  const int length = std::snprintf(buffer, sizeof buffer, "%f", position);
  if (length < 0) return "0";
  std::string result(buffer,
                     std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
  if (result.find('.') == std::string::npos) return result;
  result.erase(result.find_last_not_of('0') + 1);
  if (!result.empty() && result.back() == '.') result.pop_back();
  return result;
}

std::string get_string(Drelm::DLayer* layer, const char* name, const States& states) {
  std::string result;
  if (layer && name) {
    text(layer, DNameKey{name, Drelm::hash_name(name)}, states, result);
  }
  return result;
}

namespace {

// What resolve_fill reads, in the order of kFillNames; null where absent.
void fill_from(Drelm::DAttribute* const* found, const States& states, std::string& fill,
               bool& is_gradient) {
  Drelm::DAttribute* start_color = found[0];
  Drelm::DAttribute* end_color = found[1];
  const std::string* start_text = start_color ? start_color->as_if<std::string>(states) : nullptr;
  const std::string* end_text = end_color ? end_color->as_if<std::string>(states) : nullptr;
  if (start_text && end_text) {
    const std::string start = stop_pos(number_of(found[2], states));
    const std::string end = stop_pos(number_of(found[3], states));
    std::string gradient;
    gradient.reserve(start.size() + start_text->size() + end.size() + end_text->size() + 3);
    gradient.append(start).append(1, ':').append(*start_text);
    gradient.append(1, ',').append(end).append(1, ':').append(*end_text);
    fill = std::move(gradient);
    is_gradient = true;
    return;
  }
  Drelm::DAttribute* plain = found[4];
  if (!plain) return;
  if (const std::string* value = plain->as_if<std::string>(states)) {
    fill = *value;
    is_gradient = false;
  }
}

constexpr std::array<DNameKey, 5> kFillNames = {name_key("Fill.Start Color"),
                                                name_key("Fill.End Color"), name_key("Fill.Start"),
                                                name_key("Fill.End"), name_key("Fill")};

// A border's names: those of a fill, then its thickness.
constexpr std::array<DNameKey, 6> kBorderNames = {
    name_key("Fill.Start Color"), name_key("Fill.End Color"), name_key("Fill.Start"),
    name_key("Fill.End"),         name_key("Fill"),           name_key("Thickness")};

// Every name resolve_style_into reads from a layer, those of a fill first: all
// are looked up in one pass over the layer's index.
// clang-format off
constexpr std::array<DNameKey, 58> kStyleNames = {
    name_key("Fill.Start Color"),
    name_key("Fill.End Color"),
    name_key("Fill.Start"),
    name_key("Fill.End"),
    name_key("Fill"),
    name_key("Corner Radii.Top Left"),
    name_key("Corner Radii.Top Right"),
    name_key("Corner Radii.Bottom Left"),
    name_key("Corner Radii.Bottom Right"),
    name_key("Text Color"),
    name_key("Margins.Left"),
    name_key("Margins.Top"),
    name_key("Margins.Right"),
    name_key("Margins.Bottom"),
    name_key("Padding.Left"),
    name_key("Padding.Top"),
    name_key("Padding.Right"),
    name_key("Padding.Bottom"),
    name_key("Font.Family"),
    name_key("Font.Size"),
    name_key("Font.Weight"),
    name_key("Layout.Direction"),
    name_key("Layout.Align"),
    name_key("Layout.Justify"),
    name_key("Layout.Scroll"),
    name_key("Layout.Spacing"),
    name_key("Layout.Grow"),
    name_key("Layout.Shrink"),
    name_key("Size.Width"),
    name_key("Size.Height"),
    name_key("Size.Max Width"),
    name_key("Aspect Ratio"),
    name_key("Opacity"),
    name_key("Visible"),
    name_key("Collapsed"),
    name_key("Transform.Offset X"),
    name_key("Transform.Offset Y"),
    name_key("Transform.Rotation"),
    name_key("Intent"),
    name_key("Overlay"),
    name_key("Secret"),
    name_key("Multiline"),
    name_key("Read Only"),
    name_key("Wrap"),
    name_key("Fit"),
    name_key("Autoplay"),
    name_key("Loop"),
    name_key("Muted"),
    name_key("Controls"),
    name_key("Text"),
    name_key("Placeholder"),
    name_key("Source"),
    name_key("Data"),
    name_key("Href"),
    name_key("Tag"),
    name_key("Anchor"),
    name_key("Bind"),
    name_key("Size.Height Viewport")};
// clang-format on

// The place of a name in kStyleNames; a name missing there does not compile.
consteval std::size_t slot(std::string_view name) {
  for (std::size_t i = 0; i < kStyleNames.size(); ++i) {
    if (kStyleNames[i].name == name) return i;
  }
  throw "not a style name";
}

}  // namespace

void resolve_fill(Drelm::DLayer* layer, const States& states, std::string& fill,
                  bool& is_gradient) {
  if (!layer) return;
  std::array<Drelm::DAttribute*, kFillNames.size()> found;
  Drelm::find_attributes(*layer, {kFillNames.data(), kFillNames.size()}, found.data());
  fill_from(found.data(), states, fill, is_gradient);
}

ResolvedStyle resolve_style(Drelm::DLayer* layer, const States& states) {
  ResolvedStyle s;
  if (layer) resolve_style_into(s, layer, states, child_layer(layer, "Border"));
  return s;
}

void resolve_style_into(ResolvedStyle& s, Drelm::DLayer* layer, const States& states,
                        Drelm::DLayer* border) {
  std::array<Drelm::DAttribute*, kStyleNames.size()> found;
  Drelm::find_attributes(*layer, {kStyleNames.data(), kStyleNames.size()}, found.data());
  fill_from(found.data(), states, s.fill, s.fillIsGradient);
  if (border) {
    std::array<Drelm::DAttribute*, kBorderNames.size()> border_found;
    Drelm::find_attributes(*border, {kBorderNames.data(), kBorderNames.size()},
                           border_found.data());
    fill_from(border_found.data(), states, s.borderFill, s.borderIsGradient);
    s.borderThickness = number_of(border_found[5], states);
  }

  s.radiusTL = number_of(found[slot("Corner Radii.Top Left")], states);
  s.radiusTR = number_of(found[slot("Corner Radii.Top Right")], states);
  s.radiusBL = number_of(found[slot("Corner Radii.Bottom Left")], states);
  s.radiusBR = number_of(found[slot("Corner Radii.Bottom Right")], states);
  text_of(found[slot("Text Color")], states, s.textColor);

  s.marginL = number_of(found[slot("Margins.Left")], states);
  s.marginT = number_of(found[slot("Margins.Top")], states);
  s.marginR = number_of(found[slot("Margins.Right")], states);
  s.marginB = number_of(found[slot("Margins.Bottom")], states);
  s.paddingL = number_of(found[slot("Padding.Left")], states);
  s.paddingT = number_of(found[slot("Padding.Top")], states);
  s.paddingR = number_of(found[slot("Padding.Right")], states);
  s.paddingB = number_of(found[slot("Padding.Bottom")], states);

  text_of(found[slot("Font.Family")], states, s.fontFamily);
  s.fontSize = number_of(found[slot("Font.Size")], states);
  s.fontWeight = number_of(found[slot("Font.Weight")], states);

  text_of(found[slot("Layout.Direction")], states, s.direction);
  text_of(found[slot("Layout.Align")], states, s.crossAlign);
  text_of(found[slot("Layout.Justify")], states, s.justify);
  text_of(found[slot("Layout.Scroll")], states, s.scroll);
  s.spacing = number_of(found[slot("Layout.Spacing")], states);
  s.grow = number_of(found[slot("Layout.Grow")], states);
  number_when_present_of(found[slot("Layout.Shrink")], states, s.shrink);

  s.width = number_of(found[slot("Size.Width")], states);
  s.height = number_of(found[slot("Size.Height")], states);
  s.maxWidth = number_of(found[slot("Size.Max Width")], states);
  s.aspectRatio = number_of(found[slot("Aspect Ratio")], states);
  number_when_present_of(found[slot("Opacity")], states, s.opacity);
  flag_of(found[slot("Visible")], states, s.visible);
  flag_of(found[slot("Collapsed")], states, s.collapsed);

  s.translateX = number_of(found[slot("Transform.Offset X")], states);
  s.translateY = number_of(found[slot("Transform.Offset Y")], states);
  s.rotation = number_of(found[slot("Transform.Rotation")], states);

  text_of(found[slot("Intent")], states, s.intent);
  text_of(found[slot("Overlay")], states, s.overlay);
  flag_of(found[slot("Secret")], states, s.secret);
  flag_of(found[slot("Multiline")], states, s.multiline);
  flag_of(found[slot("Read Only")], states, s.readOnly);
  flag_of(found[slot("Wrap")], states, s.wrap);
  text_of(found[slot("Fit")], states, s.fit);
  flag_of(found[slot("Autoplay")], states, s.autoplay);
  flag_of(found[slot("Loop")], states, s.loop);
  flag_of(found[slot("Muted")], states, s.muted);
  flag_of(found[slot("Controls")], states, s.controls);

  text_of(found[slot("Text")], states, s.text);
  text_of(found[slot("Placeholder")], states, s.placeholder);
  text_of(found[slot("Source")], states, s.iconSource);
  s.mediaSource = s.iconSource;
  text_of(found[slot("Data")], states, s.qrData);
  text_of(found[slot("Href")], states, s.href);
  text_of(found[slot("Tag")], states, s.tag);
  text_of(found[slot("Anchor")], states, s.anchor);
  text_of(found[slot("Bind")], states, s.binds);
  s.heightViewport = number_of(found[slot("Size.Height Viewport")], states);
}

void apply_mobile_scale(ResolvedStyle& style, Drelm::DLayer* layer, const States& states,
                        bool scale_size, double size_scale, double font_scale,
                        double spacing_scale) {
  // The desktop case: nothing to do and nothing allocated.
  if (!layer || !has_mobile(states)) return;

  States plain;
  plain.reserve(states.size());
  for (const std::string& state : states) {
    if (state != "Mobile") plain.push_back(state);
  }

  if (font_scale != 1.0)
    scale(style.fontSize, layer, name_key("Font.Size"), states, plain, font_scale);

  const double size_factor = scale_size ? size_scale : spacing_scale;
  if (size_factor != 1.0) {
    scale(style.width, layer, name_key("Size.Width"), states, plain, size_factor);
    scale(style.height, layer, name_key("Size.Height"), states, plain, size_factor);
  }

  if (spacing_scale == 1.0) return;
  const double f = spacing_scale;
  scale(style.spacing, layer, name_key("Layout.Spacing"), states, plain, f);
  scale(style.marginL, layer, name_key("Margins.Left"), states, plain, f);
  scale(style.marginT, layer, name_key("Margins.Top"), states, plain, f);
  scale(style.marginR, layer, name_key("Margins.Right"), states, plain, f);
  scale(style.marginB, layer, name_key("Margins.Bottom"), states, plain, f);
  scale(style.paddingL, layer, name_key("Padding.Left"), states, plain, f);
  scale(style.paddingT, layer, name_key("Padding.Top"), states, plain, f);
  scale(style.paddingR, layer, name_key("Padding.Right"), states, plain, f);
  scale(style.paddingB, layer, name_key("Padding.Bottom"), states, plain, f);
  scale(style.radiusTL, layer, name_key("Corner Radii.Top Left"), states, plain, f);
  scale(style.radiusTR, layer, name_key("Corner Radii.Top Right"), states, plain, f);
  scale(style.radiusBL, layer, name_key("Corner Radii.Bottom Left"), states, plain, f);
  scale(style.radiusBR, layer, name_key("Corner Radii.Bottom Right"), states, plain, f);
  if (style.borderThickness > 0) {
    Drelm::DLayer* border = child_layer(layer, "Border");
    scale(style.borderThickness, border ? find(border, name_key("Thickness")) : nullptr, states,
          plain, f);
  }
}

}  // namespace Ombrix
