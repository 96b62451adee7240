#include "app/launcher/velmar_flashdesk_app.h"

#include "app/launcher/velmar_flashdesk_dlg.h"

namespace qx {

bool CVelmar_FlashdeskApp::init_instance(ui::renderer& r, const tool_dialogs& tools) {
    registry_key = "Local AppWizard-Generated Applications";
    try {
        connection.connect();
    } catch (const connection_manager::exception&) {
        // No ECU, or one that cannot be used: the program goes on without a connection.
    }
    CVelmar_FlashdeskDlg launcher(connection, tools);
    launcher.run_modal(r);
    return false;
}

}  // namespace qx
