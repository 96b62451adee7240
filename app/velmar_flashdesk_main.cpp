// Velmar_Flashdesk: the desktop program. The launcher and its tools in real windows.
#include <QApplication>

#include "app/app_images.h"
#include "app/launcher/velmar_flashdesk_app.h"
#include "platform/ui/qt/qt_renderer.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmar_Flashdesk"));
    qx::register_app_images();
    qx::ui::qt::qt_renderer renderer;
    qx::CVelmar_FlashdeskApp program;
    program.init_instance(renderer, qx::available_tool_dialogs());
    return 0;
}
