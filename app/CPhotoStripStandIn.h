#pragma once
// Stand-in for the photo strip until it exists: the project's file names in
// order, marked photos highlighted, the current photo for the remove command.

#include <QListWidget>

#include "DocumentBase.h"
#include "FrameEngineCallbacks.h"

class CClipDescription;
class COvHorizelDoc;

class CPhotoStripStandIn : public QListWidget, public IDocView, public IPhotoMarker {
    Q_OBJECT
public:
    CPhotoStripStandIn(COvHorizelDoc& document, QWidget* parent = nullptr);
    ~CPhotoStripStandIn() override;

    void OnUpdate(IDocView* sender, int hint, void* hintObject) override;
    void MarkPhotos(const std::vector<std::string>& paths, bool mark) override;

    // The photo of the current row, or null.
    CClipDescription* CurrentPhoto() const;
    // The strip's delete command: asks the change guard, removes the current
    // photo, and lets the document follow the edit.
    void DeleteCurrent();
    void Refresh();

private:
    COvHorizelDoc& m_document;
};
