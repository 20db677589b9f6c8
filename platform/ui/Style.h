// Colours, fonts and the colour scheme of the UI layer. Plain values; thread-safe to copy.
#pragma once

#include <string>

namespace platform::ui {

enum class ColorScheme { light, dark };

// sRGB with straight alpha, components 0..1.
struct Color {
  double r = 0;
  double g = 0;
  double b = 0;
  double a = 1;

  // The toolkit's standard colours.
  static Color gray() { return {142 / 255.0, 142 / 255.0, 147 / 255.0, 1}; }
  static Color pink() { return {1, 45 / 255.0, 85 / 255.0, 1}; }
  static Color red() { return {1, 59 / 255.0, 48 / 255.0, 1}; }
  static Color green() { return {52 / 255.0, 199 / 255.0, 89 / 255.0, 1}; }
  static Color blue() { return {0, 122 / 255.0, 1, 1}; }
  static Color white() { return {1, 1, 1, 1}; }
  static Color black() { return {0, 0, 0, 1}; }
  static Color clear() { return {0, 0, 0, 0}; }
  // The default tint of buttons and links.
  static Color accentColor() { return blue(); }
  // A grey by white level (0 black, 1 white) at an opacity.
  static Color whiteLevel(double white, double opacity = 1) { return {white, white, white, opacity}; }
  static Color rgb(double r, double g, double b, double a = 1) { return {r, g, b, a}; }

  Color opacity(double o) const { return {r, g, b, a * o}; }
  bool operator==(const Color&) const = default;
};

enum class FontWeight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };

// A text style: its point size and weight. The text styles follow the phone's default sizes.
struct Font {
  double size = 17;
  FontWeight weight = FontWeight::regular;

  static Font largeTitle() { return {34, FontWeight::regular}; }
  static Font title() { return {28, FontWeight::regular}; }
  static Font title2() { return {22, FontWeight::regular}; }
  static Font title3() { return {20, FontWeight::regular}; }
  static Font headline() { return {17, FontWeight::semibold}; }
  static Font body() { return {17, FontWeight::regular}; }
  static Font callout() { return {16, FontWeight::regular}; }
  static Font subheadline() { return {15, FontWeight::regular}; }
  static Font footnote() { return {13, FontWeight::regular}; }
  static Font caption() { return {12, FontWeight::regular}; }
  static Font system(double size, FontWeight weight = FontWeight::regular) { return {size, weight}; }

  Font withWeight(FontWeight w) const { return {size, w}; }
  Font bold() const { return {size, FontWeight::bold}; }
  bool operator==(const Font&) const = default;
};

}  // namespace platform::ui
