#include "app_model/style.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "theme_language/attribute.h"
#include "theme_language/internal/tree_access.h"
#include "theme_language/layer.h"
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

double number_of(Drelm::DAttribute* attribute, const States& states) {
  if (!attribute) return 0;
  const double* value = attribute->as_if<double>(states);
  return value ? *value : 0;
}

// Absent, of another kind or without a value for these states: 0.
double number(Drelm::DLayer* layer, const DNameKey& name, const States& states) {
  return number_of(find(layer, name), states);
}

// Keeps the default unless the layer declares the attribute at all.
void number_when_present(Drelm::DLayer* layer, const DNameKey& name, const States& states,
                         double& field) {
  if (Drelm::DAttribute* attribute = find(layer, name)) {
    field = number_of(attribute, states);
  }
}

// Flags are written as numbers; anything that is not a number keeps the default.
void flag(Drelm::DLayer* layer, const DNameKey& name, const States& states, bool& field) {
  Drelm::DAttribute* attribute = find(layer, name);
  if (!attribute) return;
  if (const double* value = attribute->as_if<double>(states)) field = *value != 0;
}

void text(Drelm::DLayer* layer, const DNameKey& name, const States& states, std::string& field) {
  Drelm::DAttribute* attribute = find(layer, name);
  if (!attribute) return;
  if (const std::string* value = attribute->as_if<std::string>(states)) field = *value;
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

void resolve_fill(Drelm::DLayer* layer, const States& states, std::string& fill,
                  bool& is_gradient) {
  if (!layer) return;
  Drelm::DAttribute* start_color = find(layer, name_key("Fill.Start Color"));
  Drelm::DAttribute* end_color = find(layer, name_key("Fill.End Color"));
  const std::string* start_text = start_color ? start_color->as_if<std::string>(states) : nullptr;
  const std::string* end_text = end_color ? end_color->as_if<std::string>(states) : nullptr;
  if (start_text && end_text) {
    const std::string start = stop_pos(number(layer, name_key("Fill.Start"), states));
    const std::string end = stop_pos(number(layer, name_key("Fill.End"), states));
    std::string gradient;
    gradient.reserve(start.size() + start_text->size() + end.size() + end_text->size() + 3);
    gradient.append(start).append(1, ':').append(*start_text);
    gradient.append(1, ',').append(end).append(1, ':').append(*end_text);
    fill = std::move(gradient);
    is_gradient = true;
    return;
  }
  Drelm::DAttribute* plain = find(layer, name_key("Fill"));
  if (!plain) return;
  if (const std::string* value = plain->as_if<std::string>(states)) {
    fill = *value;
    is_gradient = false;
  }
}

ResolvedStyle resolve_style(Drelm::DLayer* layer, const States& states) {
  ResolvedStyle s;
  if (layer) resolve_style_into(s, layer, states, child_layer(layer, "Border"));
  return s;
}

void resolve_style_into(ResolvedStyle& s, Drelm::DLayer* layer, const States& states,
                        Drelm::DLayer* border) {
  resolve_fill(layer, states, s.fill, s.fillIsGradient);
  if (border) {
    resolve_fill(border, states, s.borderFill, s.borderIsGradient);
    s.borderThickness = number(border, name_key("Thickness"), states);
  }

  s.radiusTL = number(layer, name_key("Corner Radii.Top Left"), states);
  s.radiusTR = number(layer, name_key("Corner Radii.Top Right"), states);
  s.radiusBL = number(layer, name_key("Corner Radii.Bottom Left"), states);
  s.radiusBR = number(layer, name_key("Corner Radii.Bottom Right"), states);
  text(layer, name_key("Text Color"), states, s.textColor);

  s.marginL = number(layer, name_key("Margins.Left"), states);
  s.marginT = number(layer, name_key("Margins.Top"), states);
  s.marginR = number(layer, name_key("Margins.Right"), states);
  s.marginB = number(layer, name_key("Margins.Bottom"), states);
  s.paddingL = number(layer, name_key("Padding.Left"), states);
  s.paddingT = number(layer, name_key("Padding.Top"), states);
  s.paddingR = number(layer, name_key("Padding.Right"), states);
  s.paddingB = number(layer, name_key("Padding.Bottom"), states);

  text(layer, name_key("Font.Family"), states, s.fontFamily);
  s.fontSize = number(layer, name_key("Font.Size"), states);
  s.fontWeight = number(layer, name_key("Font.Weight"), states);

  text(layer, name_key("Layout.Direction"), states, s.direction);
  text(layer, name_key("Layout.Align"), states, s.crossAlign);
  text(layer, name_key("Layout.Justify"), states, s.justify);
  text(layer, name_key("Layout.Scroll"), states, s.scroll);
  s.spacing = number(layer, name_key("Layout.Spacing"), states);
  s.grow = number(layer, name_key("Layout.Grow"), states);
  number_when_present(layer, name_key("Layout.Shrink"), states, s.shrink);

  s.width = number(layer, name_key("Size.Width"), states);
  s.height = number(layer, name_key("Size.Height"), states);
  s.maxWidth = number(layer, name_key("Size.Max Width"), states);
  s.aspectRatio = number(layer, name_key("Aspect Ratio"), states);
  number_when_present(layer, name_key("Opacity"), states, s.opacity);
  flag(layer, name_key("Visible"), states, s.visible);
  flag(layer, name_key("Collapsed"), states, s.collapsed);

  s.translateX = number(layer, name_key("Transform.Offset X"), states);
  s.translateY = number(layer, name_key("Transform.Offset Y"), states);
  s.rotation = number(layer, name_key("Transform.Rotation"), states);

  text(layer, name_key("Intent"), states, s.intent);
  text(layer, name_key("Overlay"), states, s.overlay);
  flag(layer, name_key("Secret"), states, s.secret);
  flag(layer, name_key("Multiline"), states, s.multiline);
  flag(layer, name_key("Read Only"), states, s.readOnly);
  flag(layer, name_key("Wrap"), states, s.wrap);
  text(layer, name_key("Fit"), states, s.fit);
  flag(layer, name_key("Autoplay"), states, s.autoplay);
  flag(layer, name_key("Loop"), states, s.loop);
  flag(layer, name_key("Muted"), states, s.muted);
  flag(layer, name_key("Controls"), states, s.controls);

  text(layer, name_key("Text"), states, s.text);
  text(layer, name_key("Placeholder"), states, s.placeholder);
  text(layer, name_key("Source"), states, s.iconSource);
  s.mediaSource = s.iconSource;
  text(layer, name_key("Data"), states, s.qrData);
  text(layer, name_key("Href"), states, s.href);
  text(layer, name_key("Tag"), states, s.tag);
  text(layer, name_key("Anchor"), states, s.anchor);
  text(layer, name_key("Bind"), states, s.binds);
  s.heightViewport = number(layer, name_key("Size.Height Viewport"), states);
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
