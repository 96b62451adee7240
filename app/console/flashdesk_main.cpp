// flashdesk: the console front-end of the service tool.
#include <CLI/CLI.hpp>

#include <iostream>

#include "app/console/answer_timeout.h"
#include "app/console/capture_command.h"
#include "app/console/command_line.h"
#include "app/console/console_link.h"
#include "app/console/describe_command.h"
#include "app/console/devices_command.h"
#include "app/console/ecu_command.h"
#include "app/console/ecu_record.h"
#include "app/console/imagetool_command.h"
#include "app/console/logs_command.h"
#include "app/console/pak_command.h"
#include "app/console/stop_signals.h"
#include "app/console/structs_command.h"
#include "app/console/trace_command.h"
#include "app/console/update_command.h"
#include "flashdesk_version.h"

int main(int argc, char** argv) {
    qx::console::catch_stop_signals();
    CLI::App app{"flashdesk: ECU service and programming tool (console)"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "flashdesk " FLASHDESK_VERSION);
    qx::console::add_link_option(app);
    qx::console::add_answer_timeout_option(app);
    qx::console::choose_command(app, argc, argv);
    qx::console::add_structs_command(app);
    qx::console::add_describe_command(app);
    qx::console::add_ecu_command(app);
    qx::console::add_pak_command(app);
    qx::console::add_imagetool_commands(app);
    qx::console::add_update_command(app);
    qx::console::add_logs_command(app);
    qx::console::add_devices_command(app);
    qx::console::add_trace_command(app);
    qx::console::add_capture_command(app);
    qx::console::add_record_command(app);
    qx::console::share_top_options(app);
    return qx::console::run_command_line(app, argc, argv, std::cerr);
}
