// Velmar_Flashdesk: the desktop program. The launcher and its tools in real windows.
#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/app_images.h"
#include "flashdesk_version.h"
#include "app/launcher/velmar_flashdesk_app.h"
#include "platform/environment.h"
#include "platform/ui/qt/qt_renderer.h"

namespace {

// The help, and through it the man page (packaging/help_to_man.cmake).
void print_help(const char* program) {
    std::cout << "Velmar_Flashdesk: ECU service and programming tool (desktop)\n"
                 "Usage: " << program << " [OPTIONS] [Qt options]\n"
                 "\n"
                 "Connects to the ECU once at start and opens the launcher: \"Firmware and ID tool\"\n"
                 "(single packages, model erasing, power-sequence download, peripheral upgrade) and\n"
                 "\"ECU Update\" (every image of each ECU plugged in, from a folder of package groups).\n"
                 "Reads \"RootCertificate_tcert.der\" from the current folder. The ECU's USB devices\n"
                 "are those named in TRELINK_USB_IDS; flashdesk(1) is the same tools on the console.\n"
                 "QT_QPA_PLATFORM=offscreen runs it without a display.\n"
                 "\n"
                 "Options:\n"
                 "  -h,--help                   Print this help message and exit\n"
                 "  --version                   Print the program's version and exit\n";
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "Velmar_Flashdesk " FLASHDESK_VERSION "\n";
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            print_help(argv[0]);
            return 0;
        }
    }
    // The desktop program waits for the ECU as long as it takes, whatever the shell set.
    ::unsetenv(qx::platform::environment::answer_timeout_variable);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmar_Flashdesk"));
    qx::register_app_images();
    qx::ui::qt::qt_renderer renderer;
    qx::CVelmar_FlashdeskApp program;
    program.init_instance(renderer, qx::available_tool_dialogs());
    return 0;
}
