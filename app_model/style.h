#pragma once

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace Drelm {
class DLayer;
}

namespace Ombrix {

// The style values of one node, resolved for one list of active states.
// Field names are the keys of the render-tree JSON.
struct ResolvedStyle {
  std::string fill;
  bool fillIsGradient = false;
  std::string borderFill;
  bool borderIsGradient = false;
  double borderThickness = 0;
  double radiusTL = 0;
  double radiusTR = 0;
  double radiusBL = 0;
  double radiusBR = 0;
  std::string textColor;
  double marginL = 0;
  double marginT = 0;
  double marginR = 0;
  double marginB = 0;
  double paddingL = 0;
  double paddingT = 0;
  double paddingR = 0;
  double paddingB = 0;
  std::string fontFamily;
  double fontSize = 0;
  double fontWeight = 0;
  std::string direction;
  std::string crossAlign;
  std::string justify;
  std::string scroll;
  double spacing = 0;
  double grow = 0;
  double shrink = -1.0;  // -1: not set
  double width = 0;
  double height = 0;
  double maxWidth = 0;
  double aspectRatio = 0;
  double opacity = 1.0;
  bool visible = true;
  bool collapsed = false;
  double translateX = 0;
  double translateY = 0;
  double rotation = 0;
  std::string intent;
  std::string overlay;
  bool secret = false;
  bool multiline = false;
  bool readOnly = false;
  bool wrap = true;
  std::string fit;
  bool autoplay = false;
  bool loop = false;
  bool muted = false;
  bool controls = false;
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

// One field of ResolvedStyle as the diff and the JSON form see it. The member and
// its JSON membership are template arguments, so a walk over the table compiles to
// the same code as naming each field by hand.
template <auto Member, bool InJson = true>
struct StyleField {
  static constexpr auto member = Member;
  static constexpr bool in_json = InJson;
  const char* key;  // the field's name, which is also its JSON key
};

// The fields whose change the renderer must be told about, in the order of the JSON
// style object. readOnly and wrap are compared but have no JSON key. fontFamily, shrink,
// visible, text, binds and heightViewport are left out on purpose: they steer
// render-tree building only, so changing just them yields no patch.
// clang-format off
inline constexpr auto kShownStyleFields = std::make_tuple(
    StyleField<&ResolvedStyle::fill>{"fill"},
    StyleField<&ResolvedStyle::fillIsGradient>{"fillIsGradient"},
    StyleField<&ResolvedStyle::borderFill>{"borderFill"},
    StyleField<&ResolvedStyle::borderIsGradient>{"borderIsGradient"},
    StyleField<&ResolvedStyle::borderThickness>{"borderThickness"},
    StyleField<&ResolvedStyle::radiusTL>{"radiusTL"},
    StyleField<&ResolvedStyle::radiusTR>{"radiusTR"},
    StyleField<&ResolvedStyle::radiusBL>{"radiusBL"},
    StyleField<&ResolvedStyle::radiusBR>{"radiusBR"},
    StyleField<&ResolvedStyle::marginL>{"marginL"},
    StyleField<&ResolvedStyle::marginT>{"marginT"},
    StyleField<&ResolvedStyle::marginR>{"marginR"},
    StyleField<&ResolvedStyle::marginB>{"marginB"},
    StyleField<&ResolvedStyle::paddingL>{"paddingL"},
    StyleField<&ResolvedStyle::paddingT>{"paddingT"},
    StyleField<&ResolvedStyle::paddingR>{"paddingR"},
    StyleField<&ResolvedStyle::paddingB>{"paddingB"},
    StyleField<&ResolvedStyle::textColor>{"textColor"},
    StyleField<&ResolvedStyle::codeBg>{"codeBg"},
    StyleField<&ResolvedStyle::fontSize>{"fontSize"},
    StyleField<&ResolvedStyle::fontWeight>{"fontWeight"},
    StyleField<&ResolvedStyle::direction>{"direction"},
    StyleField<&ResolvedStyle::spacing>{"spacing"},
    StyleField<&ResolvedStyle::crossAlign>{"crossAlign"},
    StyleField<&ResolvedStyle::justify>{"justify"},
    StyleField<&ResolvedStyle::scroll>{"scroll"},
    StyleField<&ResolvedStyle::grow>{"grow"},
    StyleField<&ResolvedStyle::width>{"width"},
    StyleField<&ResolvedStyle::height>{"height"},
    StyleField<&ResolvedStyle::maxWidth>{"maxWidth"},
    StyleField<&ResolvedStyle::aspectRatio>{"aspectRatio"},
    StyleField<&ResolvedStyle::translateY>{"translateY"},
    StyleField<&ResolvedStyle::translateX>{"translateX"},
    StyleField<&ResolvedStyle::rotation>{"rotation"},
    StyleField<&ResolvedStyle::opacity>{"opacity"},
    StyleField<&ResolvedStyle::collapsed>{"collapsed"},
    StyleField<&ResolvedStyle::placeholder>{"placeholder"},
    StyleField<&ResolvedStyle::secret>{"secret"},
    StyleField<&ResolvedStyle::multiline>{"multiline"},
    StyleField<&ResolvedStyle::readOnly, false>{"readOnly"},
    StyleField<&ResolvedStyle::wrap, false>{"wrap"},
    StyleField<&ResolvedStyle::iconSource>{"iconSource"},
    StyleField<&ResolvedStyle::mediaSource>{"mediaSource"},
    StyleField<&ResolvedStyle::fit>{"fit"},
    StyleField<&ResolvedStyle::autoplay>{"autoplay"},
    StyleField<&ResolvedStyle::loop>{"loop"},
    StyleField<&ResolvedStyle::muted>{"muted"},
    StyleField<&ResolvedStyle::controls>{"controls"},
    StyleField<&ResolvedStyle::qrData>{"qrData"},
    StyleField<&ResolvedStyle::intent>{"intent"},
    StyleField<&ResolvedStyle::overlay>{"overlay"},
    StyleField<&ResolvedStyle::href>{"href"},
    StyleField<&ResolvedStyle::tag>{"tag"},
    StyleField<&ResolvedStyle::anchor>{"anchor"});
// clang-format on

// Resolves the style of a layer (may be null: the defaults) for the active states.
ResolvedStyle resolve_style(Drelm::DLayer* layer, const std::vector<std::string>& states);
// resolve_style into a style that holds the defaults, with the layer's "Border"
// child already looked up (null when it has none). REQUIRES: layer is not null.
void resolve_style_into(ResolvedStyle& style, Drelm::DLayer* layer,
                        const std::vector<std::string>& states, Drelm::DLayer* border);

// Scales metrics while "Mobile" is active, leaving values the theme gives specially for it.
void apply_mobile_scale(ResolvedStyle& style, Drelm::DLayer* layer,
                        const std::vector<std::string>& states, bool scale_size, double size_scale,
                        double font_scale, double spacing_scale);

// Helpers of resolve_style, exposed for tests.
void resolve_fill(Drelm::DLayer* layer, const std::vector<std::string>& states, std::string& fill,
                  bool& is_gradient);
std::string stop_pos(double position);
std::string get_string(Drelm::DLayer* layer, const char* name,
                       const std::vector<std::string>& states);
Drelm::DLayer* child_layer(Drelm::DLayer* layer, std::string_view name);

}  // namespace Ombrix
