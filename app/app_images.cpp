#include "app/app_images.h"

#include <QApplication>
#include <QtCore/qglobal.h>

#include "app/launcher/velmar_flashdesk_dlg.h"
#include "platform/ui/qt/bitmap_registry.h"

// Outside any namespace, as the resource's initialiser is.
static void init_app_resources() { Q_INIT_RESOURCE(velmar_flashdesk); }

namespace qx {

bool register_app_images() {
    init_app_resources();
    if (!ui::qt::register_icon(IDR_MAINFRAME, QStringLiteral(":/velmar_flashdesk/icon128.png"))) return false;
    // Every window of the program, the tools' too, carries the program's icon.
    QApplication::setWindowIcon(ui::qt::icon(IDR_MAINFRAME));
    return true;
}

}  // namespace qx
