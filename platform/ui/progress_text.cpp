#include "platform/ui/progress_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qx::ui {

std::string progress_text(int low, int high, int position, double elapsed_s) {
    constexpr int cells = 40;
    const int span = high - low;
    const double share = span > 0 ? std::clamp(double(position - low) / span, 0.0, 1.0) : 0.0;
    const int filled = int(share * cells);
    std::string text = "[" + std::string(std::size_t(filled), '#') + std::string(std::size_t(cells - filled), '.') + "]";
    char tail[64];
    std::snprintf(tail, sizeof tail, " %3d%%", int(share * 100));
    text += tail;
    // Rate and time left only once there is something to measure them by.
    if (share > 0 && share < 1 && elapsed_s >= 0.5) {
        const double per_second = share * 100 / elapsed_s;
        const double left = elapsed_s * (1 - share) / share;
        std::snprintf(tail, sizeof tail, "  %.1f %%/s  %.0f s left", per_second, std::ceil(left));
        text += tail;
    }
    return text;
}

}  // namespace qx::ui
