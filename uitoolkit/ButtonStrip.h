#pragma once
// The strip above the thumbnails with the Add and Remove buttons, which add
// the photos selected in the browser to the project or remove them.

#include <QWidget>

class CImgButton;

class CButtonStrip : public QWidget {
    Q_OBJECT
public:
    explicit CButtonStrip(QWidget* parent = nullptr);
    ~CButtonStrip() override;

    static constexpr int kAddId = 1003;
    static constexpr int kRemoveId = 1004;

    // The background picture's height + 4, or 100 without one.
    int GetStripHeight() const;
    CImgButton* AddButton() const { return add_; }
    CImgButton* RemoveButton() const { return remove_; }
    QColor StripColor() const { return colour_; }

signals:
    // A command for the main window: CmdId::AddSelected or CmdId::RemoveSelected.
    void Command(int id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QColor colour_;
    int backgroundHeight_ = -1;
    CImgButton* add_;
    CImgButton* remove_;
};
