// CVelmar_FlashdeskApp: the application object. Owns the one connection manager of the run,
// tries to connect once at start and shows the launcher until it closes.
#pragma once

#include <string>

#include "app/launcher/tool_dialogs.h"
#include "core/connection_manager.h"
#include "platform/ui/renderer.h"

namespace qx {

class CVelmar_FlashdeskApp {
public:
    explicit CVelmar_FlashdeskApp(link_choice link = {}) : connection(std::move(link)) {}

    // Connects (a failure is dropped: the tools find the manager not connected), runs the
    // launcher modally in `r`, and returns false: the program ends when the launcher closes.
    bool init_instance(ui::renderer& r, const tool_dialogs& tools);

    connection_manager connection;
    std::string registry_key;
};

}  // namespace qx
