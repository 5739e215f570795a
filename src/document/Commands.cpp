#include "document/Commands.h"

#include "document/ZerimoDoc.h"

namespace zerimo {

CommandState QueryCommand(const CZerimoDoc& doc, unsigned id) {
    CommandState s;
    const bool idle = doc.busy == 0;
    switch (id) {
    case ID_EDIT_UNDO:
        s.enabled = idle && doc.IsModified();
        break;
    case ID_EDIT_REDO:
        s.enabled = idle && doc.canRedo != 0;
        break;
    case ID_WALLPAPER:
        s.enabled = idle && doc.FileExists();
        break;
    case ID_GET_NEXT:
    case ID_GET_PREV:
    case ID_SLIDE_SHOW:
        s.enabled = idle && (doc.frameCount >= 2 || (!doc.IsModified() && doc.FileExists()));
        s.checked = doc.slideShow != 0;
        break;
    case ID_AUTO_ROTATE:
        s.checked = doc.autoRotate != 0;
        break;
    case ID_FILE_NEW:
    case ID_FILE_OPEN:
    case ID_PROPERTIES:
    case ID_EDIT_COPY:
        break;
    default:
        s.enabled = idle;
        break; // the editing commands
    }
    return s;
}

} // namespace zerimo
