#include "shell/Placement.h"
#include "common/Error.h"
#include "common/Val.h"

#include <algorithm>
#include <cmath>

namespace Placement {

int twipsToPixels(double twips, double dpi) { return int(std::lround(twips * dpi / 1440.0)); }

double pixelsToTwips(int pixels, double dpi) { return dpi > 0 ? std::round(pixels * 1440.0 / dpi) : 0.0; }

double strictNumber(const QString &text)
{
    const double value = RegionalNumber(text);
    if (!std::isfinite(value))
        throw RuntimeError(ErrorNumber::TypeMismatch,
                           QStringLiteral("Type mismatch: \"%1\" is not a number").arg(text));
    return value;
}

int clampTab(int tab, int tabCount)
{
    if (tabCount <= 0)
        return 0;
    return std::clamp(tab, 0, tabCount - 1);
}

} // namespace Placement
