#pragma once
// A two-column list of the properties of one or more files: the file's
// facts, its image attributes and its EXIF fields under collapsible group
// rows. Shown alone or inside the "Image info" dialog (CJFIFDlg).

#include <QDialog>
#include <QIcon>
#include <QRect>

#include <string>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

class CFilePropDlg : public QDialog {
    Q_OBJECT
public:
    enum Group { GroupFile = 0, GroupImage = 1, GroupExif = 2 };
    enum { IDC_LIST = 1042 };

    explicit CFilePropDlg(QWidget* parent = nullptr);

    // Set by the owner before OnInitDialog: the list then fills the dialog.
    bool m_bEmbedded = false;
    void OnInitDialog();

    // Lists the files' properties; without refresh the paths are taken over first.
    void FillFromFiles(const std::vector<std::string>& paths, bool refresh);
    // The selected rows, or all rows when none is selected, as
    // "property<TAB>value<CR><LF>" lines on the clipboard.
    void CopyToClipboard();
    QString RowsText() const;

    int AddGroupRow(unsigned captionId, bool expanded);
    int AddTextRow(unsigned captionId, const QString& text);
    int AddNumberRow(unsigned captionId, int value);

    // A group row was activated: its group opens or closes.
    void OnItemActivated(int row);

    QTreeWidget* List() const { return m_list; }
    bool IsExpanded(Group g) const { return m_expanded[g]; }
    int GroupRow(Group g) const { return m_groupRow[g]; }

    // "%.2fKB", "%.2fMB" or "%.2fGB" of a byte count.
    static QString SizeText(uint64_t bytes);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void DeleteAllRows();
    void SetColumnWidths();
    void FillFile(const std::string& path);
    void FillImage(const std::string& path);
    void FillExif(const std::string& path);

    QTreeWidget* m_list = nullptr;
    QIcon m_images[3];  // collapsed group, expanded group, value row
    bool m_expanded[3] = {true, true, true};
    int m_groupRow[3] = {-2, -2, -2};
    int m_nextRow = 0;
    std::string m_lastPath;
    int m_lastCount = 0;
    std::vector<std::string> m_paths;
    QRect m_layoutRect;
    QRect m_listRect;
    bool m_layoutTaken = false;
};
