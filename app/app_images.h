// The program's own images in the Qt bitmap registry: its icon as resource 128.
#pragma once

namespace qx {

// Call once after the QApplication exists; false when the compiled-in icon is missing.
bool register_app_images();

}  // namespace qx
