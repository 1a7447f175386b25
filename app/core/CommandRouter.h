#pragma once
// Commands by numeric id, asked of their handlers in the framework's order:
// the view, the document, the frame, then the application. The first target
// that handles a command runs it; enabling asks the same chain.

#include <vector>

// What an update handler sets for a command.
struct CCmdUI {
    int id = 0;
    bool enabled = true;
    int checked = 0;  // 0 unchecked, 1 checked
    bool handled = false;

    void Enable(bool on = true) {
        enabled = on;
        handled = true;
    }
    void SetCheck(int check = 1) {
        checked = check;
        handled = true;
    }
};

class ICommandTarget {
public:
    virtual ~ICommandTarget() = default;
    // True when the target ran the command.
    virtual bool OnCmdMsg(int id) = 0;
    // True when the target has an update handler for the command.
    virtual bool OnUpdateCmdUI(CCmdUI& ui) {
        (void)ui;
        return false;
    }
};

class CCommandRouter {
public:
    enum Slot { View, Document, Frame, Application, SlotCount };

    void SetTarget(Slot slot, ICommandTarget* target) { targets_[slot] = target; }
    ICommandTarget* Target(Slot slot) const { return targets_[slot]; }

    // True when some target ran it.
    bool Execute(int id) const;
    // The state of a command from the first target with an update handler
    // for it; a command none updates stays enabled.
    CCmdUI Update(int id) const;

private:
    ICommandTarget* targets_[SlotCount] = {};
};
