// A step of the update that cannot go on, with the text the dialog shows for it.
#pragma once

#include <string>

namespace qx {

struct update_failure {
    std::string text;
};

}  // namespace qx
