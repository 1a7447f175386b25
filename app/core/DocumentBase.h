#pragma once
// The document/view base: a document keeps an ordered list of its views and
// tells them of changes with a hint number, in order, skipping the sender.

#include <vector>

class IDocView {
public:
    // hintObject: an object the hint carries (e.g. a selection change), or null.
    virtual void OnUpdate(IDocView* sender, int hint, void* hintObject) = 0;
    virtual ~IDocView() = default;
};

class CDocumentBase {
public:
    CDocumentBase() = default;
    CDocumentBase(const CDocumentBase&) = delete;
    CDocumentBase& operator=(const CDocumentBase&) = delete;
    virtual ~CDocumentBase() = default;

    // A view is added once; the order of adding is the order of updates.
    void AddView(IDocView* view);
    void RemoveView(IDocView* view);
    const std::vector<IDocView*>& Views() const { return m_views; }

    // Calls every view but the sender, in order. A view may add or remove
    // views meanwhile: removed ones are not called, added ones wait for the
    // next update.
    void UpdateAllViews(IDocView* sender, int hint, void* hintObject = nullptr);

    virtual bool IsModified() const { return m_modified; }
    virtual void SetModifiedFlag(bool modified = true) { m_modified = modified; }
    virtual bool OnNewDocument() { return true; }

private:
    std::vector<IDocView*> m_views;
    bool m_modified = false;
};
