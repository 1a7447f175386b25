#include "FolderListeners.h"

#include "BrowserLocations.h"
#include "CShellTree.h"

void CFolderListeners::Add(CShellTree* tree) {
    AddFolderListener(tree);
}

void CFolderListeners::Remove(CShellTree* tree) {
    RemoveFolderListener(tree);
}

void CFolderListeners::Notify() {
    // The trees re-read their folders keeping the selection, once for all
    // the notices of one change.
    for (CShellTree* tree : FolderListeners())
        tree->RequestRefresh();
}

void CFolderListeners::EnableWindows(bool enable) {
    for (CShellTree* tree : FolderListeners())
        if (tree->parentWidget())
            tree->parentWidget()->setEnabled(enable);
}
