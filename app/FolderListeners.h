#pragma once
// The application's side of the folder-change listeners (the folder trees,
// which join the browser's list themselves): refreshing them when folders
// change and disabling their windows around file operations.

class CShellTree;

class CFolderListeners {
public:
    void Add(CShellTree* tree);
    // Removes every occurrence.
    void Remove(CShellTree* tree);
    // Every listener re-reads its folders, in list order.
    void Notify();
    // Disables or enables the listeners' parent windows.
    void EnableWindows(bool enable);
};
