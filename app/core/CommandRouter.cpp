#include "CommandRouter.h"

bool CCommandRouter::Execute(int id) const {
    for (ICommandTarget* t : targets_)
        if (t && t->OnCmdMsg(id))
            return true;
    return false;
}

CCmdUI CCommandRouter::Update(int id) const {
    CCmdUI ui;
    ui.id = id;
    for (ICommandTarget* t : targets_) {
        if (t && t->OnUpdateCmdUI(ui)) {
            ui.handled = true;
            break;
        }
    }
    return ui;
}
