#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace Drelm {
class DLayer;
}

namespace Ombrix {

// The style values of one node, resolved for one list of active states.
// Field names are the keys of the render-tree JSON.
struct ResolvedStyle {
  // Fill and border; a gradient is written as "position:colour" stops joined by ",".
  std::string fill;
  bool fillIsGradient = false;
  std::string borderFill;
  bool borderIsGradient = false;
  double borderThickness = 0;
  // Corner radii.
  double radiusTL = 0;
  double radiusTR = 0;
  double radiusBL = 0;
  double radiusBR = 0;
  // Colour of the text.
  std::string textColor;
  // Outer and inner distances.
  double marginL = 0;
  double marginT = 0;
  double marginR = 0;
  double marginB = 0;
  double paddingL = 0;
  double paddingT = 0;
  double paddingR = 0;
  double paddingB = 0;
  // Font.
  std::string fontFamily;
  double fontSize = 0;
  double fontWeight = 0;
  // Layout of the children and of the node among its siblings.
  std::string direction;
  std::string crossAlign;
  std::string justify;
  std::string scroll;
  double spacing = 0;
  double grow = 0;
  double shrink = -1.0;  // -1: not set
  // Size.
  double width = 0;
  double height = 0;
  double maxWidth = 0;
  double aspectRatio = 0;
  // Visibility and transform.
  double opacity = 1.0;
  bool visible = true;
  bool collapsed = false;
  double translateX = 0;
  double translateY = 0;
  double rotation = 0;
  // Role and layering.
  std::string intent;
  std::string overlay;
  // Text input and wrapping.
  bool secret = false;
  bool multiline = false;
  bool readOnly = false;
  bool wrap = true;
  // Images and media.
  std::string fit;
  bool autoplay = false;
  bool loop = false;
  bool muted = false;
  bool controls = false;
  // Texts, sources and links, then what render-tree building reads or sets.
  std::string text;
  std::string placeholder;
  std::string iconSource;
  std::string mediaSource;
  std::string qrData;
  std::string href;
  std::string tag;
  std::string anchor;
  std::string binds;          // bind tokens separated by ";"
  double heightViewport = 0;  // fraction of the viewport height
  std::string codeBg;         // set by render-tree building for markdown nodes
};

// How resolve_style fills a field from the layer.
enum class StyleRule : std::uint8_t {
  fill,               // with its flag: a gradient from two colours, else "Fill"; else the default
  border_fill,        // the same on the child layer "Border"
  border_number,      // a number on the child layer "Border"; 0 without it
  number,             // 0 unless a number
  number_if_present,  // the default stays unless the layer has the attribute
  flag,               // true for a number but 0; anything else keeps the default
  text,               // the default ("") stays unless a text
  source,             // a text that names the icon and the media alike
  source_copy,        // a copy of the source field
  unread,             // not read from the layer
};

// What the renderer learns of a field: a `json` field is written in the node's
// JSON, and a change of it gives an update patch; so does a change of a
// `compared` field; a `hidden` field steers render-tree building only.
enum class StyleShown : std::uint8_t { json, compared, hidden };

// Which "Mobile" factor grows a field. `size` is the size factor on icons and
// the spacing factor elsewhere.
enum class StyleScale : std::uint8_t { unscaled, font, size, spacing };

// One row of kStyleFields. The member is a template argument, so that a walk
// over the table compiles to the same code as naming each field by hand.
template <auto Member>
struct StyleField {
  static constexpr auto member = Member;
  std::string_view name;       // the member's name, which is its JSON key
  std::string_view attribute;  // the attribute read; for a fill, its plain name
  StyleRule rule;
  StyleShown shown;
  StyleScale scale = StyleScale::unscaled;
  // The member initializer above, for a number or a flag (1: true); a text starts empty.
  double default_value = 0;
};

// Every field of ResolvedStyle. Resolving, the style memo, the diff, both JSON
// writers and "Mobile" scaling walk this table; the written fields go out in
// its order.
inline constexpr auto kStyleFields = [] {
  using S = ResolvedStyle;
  using enum StyleRule;
  using enum StyleShown;
  using enum StyleScale;
  // clang-format off
  return std::make_tuple(
      StyleField<&S::fill>{"fill", "Fill", fill, json},
      StyleField<&S::fillIsGradient>{"fillIsGradient", "Fill", fill, json},
      StyleField<&S::borderFill>{"borderFill", "Fill", border_fill, json},
      StyleField<&S::borderIsGradient>{"borderIsGradient", "Fill", border_fill, json},
      StyleField<&S::borderThickness>{"borderThickness", "Thickness", border_number, json, spacing},
      StyleField<&S::radiusTL>{"radiusTL", "Corner Radii.Top Left", number, json, spacing},
      StyleField<&S::radiusTR>{"radiusTR", "Corner Radii.Top Right", number, json, spacing},
      StyleField<&S::radiusBL>{"radiusBL", "Corner Radii.Bottom Left", number, json, spacing},
      StyleField<&S::radiusBR>{"radiusBR", "Corner Radii.Bottom Right", number, json, spacing},
      StyleField<&S::marginL>{"marginL", "Margins.Left", number, json, spacing},
      StyleField<&S::marginT>{"marginT", "Margins.Top", number, json, spacing},
      StyleField<&S::marginR>{"marginR", "Margins.Right", number, json, spacing},
      StyleField<&S::marginB>{"marginB", "Margins.Bottom", number, json, spacing},
      StyleField<&S::paddingL>{"paddingL", "Padding.Left", number, json, spacing},
      StyleField<&S::paddingT>{"paddingT", "Padding.Top", number, json, spacing},
      StyleField<&S::paddingR>{"paddingR", "Padding.Right", number, json, spacing},
      StyleField<&S::paddingB>{"paddingB", "Padding.Bottom", number, json, spacing},
      StyleField<&S::textColor>{"textColor", "Text Color", text, json},
      StyleField<&S::codeBg>{"codeBg", "", unread, json},
      StyleField<&S::fontFamily>{"fontFamily", "Font.Family", text, hidden},
      StyleField<&S::fontSize>{"fontSize", "Font.Size", number, json, font},
      StyleField<&S::fontWeight>{"fontWeight", "Font.Weight", number, json},
      StyleField<&S::direction>{"direction", "Layout.Direction", text, json},
      StyleField<&S::spacing>{"spacing", "Layout.Spacing", number, json, spacing},
      StyleField<&S::crossAlign>{"crossAlign", "Layout.Align", text, json},
      StyleField<&S::justify>{"justify", "Layout.Justify", text, json},
      StyleField<&S::scroll>{"scroll", "Layout.Scroll", text, json},
      StyleField<&S::grow>{"grow", "Layout.Grow", number, json},
      StyleField<&S::shrink>{"shrink", "Layout.Shrink", number_if_present, hidden, unscaled, -1.0},
      StyleField<&S::width>{"width", "Size.Width", number, json, size},
      StyleField<&S::height>{"height", "Size.Height", number, json, size},
      StyleField<&S::maxWidth>{"maxWidth", "Size.Max Width", number, json},
      StyleField<&S::heightViewport>{"heightViewport", "Size.Height Viewport", number, hidden},
      StyleField<&S::aspectRatio>{"aspectRatio", "Aspect Ratio", number, json},
      StyleField<&S::translateY>{"translateY", "Transform.Offset Y", number, json},
      StyleField<&S::translateX>{"translateX", "Transform.Offset X", number, json},
      StyleField<&S::rotation>{"rotation", "Transform.Rotation", number, json},
      StyleField<&S::opacity>{"opacity", "Opacity", number_if_present, json, unscaled, 1.0},
      StyleField<&S::visible>{"visible", "Visible", flag, hidden, unscaled, 1},
      StyleField<&S::collapsed>{"collapsed", "Collapsed", flag, json},
      StyleField<&S::text>{"text", "Text", text, hidden},
      StyleField<&S::placeholder>{"placeholder", "Placeholder", text, json},
      StyleField<&S::secret>{"secret", "Secret", flag, json},
      StyleField<&S::multiline>{"multiline", "Multiline", flag, json},
      StyleField<&S::readOnly>{"readOnly", "Read Only", flag, compared},
      StyleField<&S::wrap>{"wrap", "Wrap", flag, compared, unscaled, 1},
      StyleField<&S::iconSource>{"iconSource", "Source", source, json},
      StyleField<&S::mediaSource>{"mediaSource", "Source", source_copy, json},
      StyleField<&S::fit>{"fit", "Fit", text, json},
      StyleField<&S::autoplay>{"autoplay", "Autoplay", flag, json},
      StyleField<&S::loop>{"loop", "Loop", flag, json},
      StyleField<&S::muted>{"muted", "Muted", flag, json},
      StyleField<&S::controls>{"controls", "Controls", flag, json},
      StyleField<&S::qrData>{"qrData", "Data", text, json},
      StyleField<&S::intent>{"intent", "Intent", text, json},
      StyleField<&S::overlay>{"overlay", "Overlay", text, json},
      StyleField<&S::href>{"href", "Href", text, json},
      StyleField<&S::tag>{"tag", "Tag", text, json},
      StyleField<&S::anchor>{"anchor", "Anchor", text, json},
      StyleField<&S::binds>{"binds", "Bind", text, hidden});
  // clang-format on
}();

// Calls visit(std::integral_constant<std::size_t, I>{}) for every row I of
// kStyleFields in order; std::get<I>(kStyleFields) is a constant there.
template <typename Visit>
constexpr void for_each_style_field(Visit&& visit) {
  constexpr auto each = []<std::size_t... I>(auto& each_visit, std::index_sequence<I...>) {
    (each_visit(std::integral_constant<std::size_t, I>{}), ...);
  };
  each(visit, std::make_index_sequence<std::tuple_size_v<decltype(kStyleFields)>>{});
}

// The style of a layer (may be null: the defaults) for the active states.
ResolvedStyle resolve_style(Drelm::DLayer* layer, const std::vector<std::string>& states);

// Scales metrics while "Mobile" is active, leaving values the theme gives specially for it.
// `states` must be those the style was resolved for.
void apply_mobile_scale(ResolvedStyle& style, Drelm::DLayer* layer,
                        const std::vector<std::string>& states, bool scale_size, double size_scale,
                        double font_scale, double spacing_scale);

}  // namespace Ombrix
