#pragma once
#include <QString>

// Window placement is kept in twips so that files written on any screen stay
// valid: pixels = twips × logical DPI ÷ 1440.
namespace Placement {

int twipsToPixels(double twips, double dpi);
double pixelsToTwips(int pixels, double dpi);

// A placement value from the INI file: a number or a run-time error (the empty
// text included), never a silent 0.
double strictNumber(const QString &text);

// The selected tab limited to the tabs there are.
int clampTab(int tab, int tabCount);

// The design placement, twips.
constexpr double DefaultLeft = 1000, DefaultTop = 1000, DefaultWidth = 9000, DefaultHeight = 6500;

} // namespace Placement
