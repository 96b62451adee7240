#include "app/launcher/velmar_flashdesk_app.h"

#include "app/launcher/error_box.h"
#include "app/launcher/velmar_flashdesk_dlg.h"
#include "platform/registry/device_registry.h"
#include "platform/usb/usb_device.h"

namespace qx {

bool CVelmar_FlashdeskApp::init_instance(ui::renderer& r, const tool_dialogs& tools) {
    registry_key = "Local AppWizard-Generated Applications";
    try {
        connection.connect();
    } catch (const connection_manager::exception&) {
        // No ECU, or one that cannot be used: the program goes on without a connection. With
        // several plugged in, the library would not guess which one is meant: say so.
        const auto found = platform::usb::first_present_device(platform::ecu_interface_class);
        if (found.outcome == platform::usb::device_search::several)
            error_box(r, "More than one ECU is plugged in (%zu): unplug all but one.", found.present);
    }
    CVelmar_FlashdeskDlg launcher(connection, tools);
    launcher.run_modal(r);
    return false;
}

}  // namespace qx
