// The tool dialogs built into this program (each is linked when its folder exists).
#include "app/launcher/tool_dialogs.h"

#ifdef FLASHDESK_HAVE_UPDATE
#include "update/update_image_dlg.h"
#endif
#ifdef FLASHDESK_HAVE_IMAGETOOL
#include "imagetool/image_downloader_dlg.h"
#endif
#ifdef FLASHDESK_HAVE_FILETOOL
#include "filetool/log_test_dlg.h"
#endif

namespace qx {

tool_dialogs available_tool_dialogs() {
    tool_dialogs t;
#ifdef FLASHDESK_HAVE_UPDATE
    t.update = [](connection_manager& c) -> std::unique_ptr<ui::dialog> { return std::make_unique<CUpdateImageDlg>(c); };
#endif
#ifdef FLASHDESK_HAVE_IMAGETOOL
    t.image_downloader = [](connection_manager& c, std::span<const std::uint8_t> certificate) -> std::unique_ptr<ui::dialog> {
        return std::make_unique<CImageDownloaderDlg>(c, certificate);
    };
#endif
#ifdef FLASHDESK_HAVE_FILETOOL
    t.log_test = [](connection_manager& c) -> std::unique_ptr<ui::dialog> { return std::make_unique<LogTestDlg>(c); };
#endif
    return t;
}

}  // namespace qx
