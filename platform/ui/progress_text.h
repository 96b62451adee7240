// The text of a console progress bar: 40 cells, the percentage, the rate and the time left,
// the last two once the bar has moved for a moment.
#pragma once

#include <string>

namespace qx::ui {

// `elapsed_s`: seconds since the bar was last at its start.
std::string progress_text(int low, int high, int position, double elapsed_s);

}  // namespace qx::ui
