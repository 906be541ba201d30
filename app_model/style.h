#pragma once

#include <string>
#include <string_view>
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
  std::string binds;  // bind tokens separated by ";"
  double heightViewport = 0;  // fraction of the viewport height
  std::string codeBg;         // set by render-tree building for markdown nodes
};

// Resolves the style of a layer (may be null: the defaults) for the active states.
ResolvedStyle resolve_style(Drelm::DLayer* layer, const std::vector<std::string>& states);
// resolve_style into a style that holds the defaults, with the layer's "Border"
// child already looked up (null when it has none). REQUIRES: layer is not null.
void resolve_style_into(ResolvedStyle& style, Drelm::DLayer* layer,
                        const std::vector<std::string>& states, Drelm::DLayer* border);

// Scales metrics while "Mobile" is active, leaving values the theme gives specially for it.
void apply_mobile_scale(ResolvedStyle& style, Drelm::DLayer* layer,
                        const std::vector<std::string>& states, bool scale_size,
                        double size_scale, double font_scale, double spacing_scale);

// Helpers of resolve_style, exposed for tests.
void resolve_fill(Drelm::DLayer* layer, const std::vector<std::string>& states, std::string& fill,
                  bool& is_gradient);
std::string stop_pos(double position);
std::string get_string(Drelm::DLayer* layer, const char* name,
                       const std::vector<std::string>& states);
Drelm::DLayer* child_layer(Drelm::DLayer* layer, std::string_view name);

}  // namespace Ombrix
