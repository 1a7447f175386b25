#pragma once
// "Files To Upload": the pending panoramas with check boxes and a preview of
// the selected one. exec() answers 1 (Upload: the caller's list then holds
// the checked files), 1087 (Delete Files) or 2 (Later).

#include <QDialog>
#include <QImage>
#include <string>
#include <vector>

class QLabel;
class QTreeWidget;

namespace NetPrint::PhotoUpload {

// The frame the preview is drawn in: the picture scaled to fit, proportions
// kept, centred along the other side.
class CPreviewFrame : public QWidget {
public:
    explicit CPreviewFrame(QWidget* parent = nullptr);
    void SetImage(QImage image);
    const QImage& Image() const { return m_image; }
    // Where the picture lands inside the frame.
    static QRect FitRect(QSize picture, QRect frame);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

class CDlgFilesToUpload : public QDialog {
    Q_OBJECT
public:
    enum : int {
        kUpload = 1,
        kLater = 2,
        kHeading = 1004,
        kDeleteFiles = 1087,
        kTree = 1092,
        kPreview = 1093
    };

    CDlgFilesToUpload(std::vector<std::string>& files, QWidget* parent = nullptr);

    QTreeWidget* Tree() const { return m_tree; }
    CPreviewFrame* Preview() const { return m_preview; }
    QLabel* Heading() const { return m_heading; }
    // "<name>, created: <local time>" of a file.
    static QString ItemText(const std::string& path);

public slots:
    void accept() override;
    // Later (and Escape) answer 2.
    void reject() override;

private:
    void OnSelectionChanged();

    std::vector<std::string>& m_files;
    QLabel* m_heading;
    QTreeWidget* m_tree;
    CPreviewFrame* m_preview;
};

}  // namespace NetPrint::PhotoUpload
