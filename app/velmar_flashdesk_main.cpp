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

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "Velmar_Flashdesk " FLASHDESK_VERSION "\n";
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
