#include "app_model/style.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "theme_language/attribute.h"
#include "theme_language/layer.h"
#include "theme_language/object.h"

namespace Ombrix {

namespace {

using States = std::vector<std::string>;

double number_of(Drelm::DAttribute* attribute, const States& states) {
  if (!attribute) return 0;
  const double* value = attribute->as_if<double>(states);
  return value ? *value : 0;
}

// Absent, of another kind or without a value for these states: 0.
double number(Drelm::DLayer* layer, const char* name, const States& states) {
  return number_of(layer->find_attribute(name), states);
}

// Keeps the default unless the layer declares the attribute at all.
void number_when_present(Drelm::DLayer* layer, const char* name, const States& states,
                         double& field) {
  if (Drelm::DAttribute* attribute = layer->find_attribute(name)) {
    field = number_of(attribute, states);
  }
}

// Flags are written as numbers; anything that is not a number keeps the default.
void flag(Drelm::DLayer* layer, const char* name, const States& states, bool& field) {
  Drelm::DAttribute* attribute = layer->find_attribute(name);
  if (!attribute) return;
  if (const double* value = attribute->as_if<double>(states)) field = *value != 0;
}

void text(Drelm::DLayer* layer, const char* name, const States& states, std::string& field) {
  Drelm::DAttribute* attribute = layer->find_attribute(name);
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

void scale(double& field, Drelm::DLayer* layer, const char* name, const States& states,
           const States& plain, double factor) {
  if (!(field > 0)) return;
  scale(field, layer->find_attribute(name), states, plain, factor);
}

}  // namespace

Drelm::DLayer* child_layer(Drelm::DLayer* layer, std::string_view name) {
  if (!layer) return nullptr;
  // The DObject list, not DLayer::children(), which would build a vector.
  for (const std::unique_ptr<Drelm::DObject>& child : layer->Drelm::DObject::children()) {
    auto* found = dynamic_cast<Drelm::DLayer*>(child.get());
    if (found && found->object_name() == name) return found;
  }
  return nullptr;
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
  if (layer) text(layer, name, states, result);
  return result;
}

void resolve_fill(Drelm::DLayer* layer, const States& states, std::string& fill,
                  bool& is_gradient) {
  if (!layer) return;
  Drelm::DAttribute* start_color = layer->find_attribute("Fill.Start Color");
  Drelm::DAttribute* end_color = layer->find_attribute("Fill.End Color");
  const std::string* start_text = start_color ? start_color->as_if<std::string>(states) : nullptr;
  const std::string* end_text = end_color ? end_color->as_if<std::string>(states) : nullptr;
  if (start_text && end_text) {
    const std::string start = stop_pos(number(layer, "Fill.Start", states));
    const std::string end = stop_pos(number(layer, "Fill.End", states));
    std::string gradient;
    gradient.reserve(start.size() + start_text->size() + end.size() + end_text->size() + 3);
    gradient.append(start).append(1, ':').append(*start_text);
    gradient.append(1, ',').append(end).append(1, ':').append(*end_text);
    fill = std::move(gradient);
    is_gradient = true;
    return;
  }
  Drelm::DAttribute* plain = layer->find_attribute("Fill");
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
    s.borderThickness = number(border, "Thickness", states);
  }

  s.radiusTL = number(layer, "Corner Radii.Top Left", states);
  s.radiusTR = number(layer, "Corner Radii.Top Right", states);
  s.radiusBL = number(layer, "Corner Radii.Bottom Left", states);
  s.radiusBR = number(layer, "Corner Radii.Bottom Right", states);
  text(layer, "Text Color", states, s.textColor);

  s.marginL = number(layer, "Margins.Left", states);
  s.marginT = number(layer, "Margins.Top", states);
  s.marginR = number(layer, "Margins.Right", states);
  s.marginB = number(layer, "Margins.Bottom", states);
  s.paddingL = number(layer, "Padding.Left", states);
  s.paddingT = number(layer, "Padding.Top", states);
  s.paddingR = number(layer, "Padding.Right", states);
  s.paddingB = number(layer, "Padding.Bottom", states);

  text(layer, "Font.Family", states, s.fontFamily);
  s.fontSize = number(layer, "Font.Size", states);
  s.fontWeight = number(layer, "Font.Weight", states);

  text(layer, "Layout.Direction", states, s.direction);
  text(layer, "Layout.Align", states, s.crossAlign);
  text(layer, "Layout.Justify", states, s.justify);
  text(layer, "Layout.Scroll", states, s.scroll);
  s.spacing = number(layer, "Layout.Spacing", states);
  s.grow = number(layer, "Layout.Grow", states);
  number_when_present(layer, "Layout.Shrink", states, s.shrink);

  s.width = number(layer, "Size.Width", states);
  s.height = number(layer, "Size.Height", states);
  s.maxWidth = number(layer, "Size.Max Width", states);
  s.aspectRatio = number(layer, "Aspect Ratio", states);
  number_when_present(layer, "Opacity", states, s.opacity);
  flag(layer, "Visible", states, s.visible);
  flag(layer, "Collapsed", states, s.collapsed);

  s.translateX = number(layer, "Transform.Offset X", states);
  s.translateY = number(layer, "Transform.Offset Y", states);
  s.rotation = number(layer, "Transform.Rotation", states);

  text(layer, "Intent", states, s.intent);
  text(layer, "Overlay", states, s.overlay);
  flag(layer, "Secret", states, s.secret);
  flag(layer, "Multiline", states, s.multiline);
  flag(layer, "Read Only", states, s.readOnly);
  flag(layer, "Wrap", states, s.wrap);
  text(layer, "Fit", states, s.fit);
  flag(layer, "Autoplay", states, s.autoplay);
  flag(layer, "Loop", states, s.loop);
  flag(layer, "Muted", states, s.muted);
  flag(layer, "Controls", states, s.controls);

  text(layer, "Text", states, s.text);
  text(layer, "Placeholder", states, s.placeholder);
  text(layer, "Source", states, s.iconSource);
  s.mediaSource = s.iconSource;
  text(layer, "Data", states, s.qrData);
  text(layer, "Href", states, s.href);
  text(layer, "Tag", states, s.tag);
  text(layer, "Anchor", states, s.anchor);
  text(layer, "Bind", states, s.binds);
  s.heightViewport = number(layer, "Size.Height Viewport", states);
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

  if (font_scale != 1.0) scale(style.fontSize, layer, "Font.Size", states, plain, font_scale);

  const double size_factor = scale_size ? size_scale : spacing_scale;
  if (size_factor != 1.0) {
    scale(style.width, layer, "Size.Width", states, plain, size_factor);
    scale(style.height, layer, "Size.Height", states, plain, size_factor);
  }

  if (spacing_scale == 1.0) return;
  const double f = spacing_scale;
  scale(style.spacing, layer, "Layout.Spacing", states, plain, f);
  scale(style.marginL, layer, "Margins.Left", states, plain, f);
  scale(style.marginT, layer, "Margins.Top", states, plain, f);
  scale(style.marginR, layer, "Margins.Right", states, plain, f);
  scale(style.marginB, layer, "Margins.Bottom", states, plain, f);
  scale(style.paddingL, layer, "Padding.Left", states, plain, f);
  scale(style.paddingT, layer, "Padding.Top", states, plain, f);
  scale(style.paddingR, layer, "Padding.Right", states, plain, f);
  scale(style.paddingB, layer, "Padding.Bottom", states, plain, f);
  scale(style.radiusTL, layer, "Corner Radii.Top Left", states, plain, f);
  scale(style.radiusTR, layer, "Corner Radii.Top Right", states, plain, f);
  scale(style.radiusBL, layer, "Corner Radii.Bottom Left", states, plain, f);
  scale(style.radiusBR, layer, "Corner Radii.Bottom Right", states, plain, f);
  if (style.borderThickness > 0) {
    Drelm::DLayer* border = child_layer(layer, "Border");
    scale(style.borderThickness, border ? border->find_attribute("Thickness") : nullptr, states,
          plain, f);
  }
}

}  // namespace Ombrix
