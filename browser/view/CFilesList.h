#pragma once
// The browser's details list: one row a file with its name, picture size,
// file size and date, over the same items as the thumbnail pane. It keeps
// the selection in step with the browser, sorts by column, renames a file in
// place (the extension is kept), offers the selected files to other programs
// by drag and drop and opens the browser's context menu.

#include <QAbstractTableModel>
#include <QTreeView>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class CThumbsBrowser;
class QMimeData;

// The rows of the list; sorted by CFilesList::SortBy.
class CFilesListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        std::string path;
        QString name;
        QString imageSize;
        QString fileSize;
        uint32_t imageKey = 0;  // width x 65536 + height, 0 when unknown
        uint64_t bytes = 0;
        std::time_t written = 0;
    };

    explicit CFilesListModel(CThumbsBrowser* browser, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_pBrowser(browser) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction | Qt::MoveAction; }

    void SetRows(std::vector<Row> rows);
    // The row of path, or -1.
    int RowOf(const std::string& path) const;
    void SetRow(int index, Row row);
    const std::vector<Row>& Rows() const { return m_rows; }
    // Sorts the rows by a browser sort mode (0 path, 2 date, 4 extension,
    // 5 picture size, 6 file size); other modes leave the order.
    void SortRows(int mode, bool descending);

private:
    CThumbsBrowser* m_pBrowser;
    std::vector<Row> m_rows;
};

class CFilesList : public QTreeView {
    Q_OBJECT
public:
    explicit CFilesList(CThumbsBrowser* browser, QWidget* parent = nullptr);
    ~CFilesList() override;

    // Four columns of 150 pixels: "Name", "Image Size", "File Size", "Date".
    void SetupColumns();
    // Rebuilds the rows from the browser's items, selection included.
    void Fill();
    // Brings the row of path up to date (its thumbnail gave the picture
    // size); a path the list does not show changes nothing.
    void UpdateRow(const std::string& path);
    // Sorts by mode; the same mode again reverses the direction (the first
    // sort of a new list is descending).
    void SortBy(int mode);
    int SortMode() const { return m_nSortMode; }
    bool IsDescending() const { return m_bDescending; }
    // Sets every row's selection from the browser's items.
    void SyncSelectionFromBrowser();
    // The selected files in list order, as a drag offers them.
    QMimeData* BuildDropFiles() const;
    CFilesListModel* Model() const { return m_pModel; }
    // A name is being edited (a refill would drop the edit).
    bool IsEditing() const { return state() == QAbstractItemView::EditingState; }
    std::vector<std::string> SelectedPaths() const;

    // The column clicks' sort modes: name, picture size, file size, date.
    static int ColumnSortMode(int column);

protected:
    bool event(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    void OnSelectionChanged();
    // The browser's items changed as a whole: refilled now, or when the list
    // shows again or the name being edited is done.
    void OnBrowserItemsChanged(bool resorted);
    // A row's texts and sort keys, from the file and its cached thumbnail item.
    CFilesListModel::Row BuildRow(const std::string& path) const;

    CThumbsBrowser* m_pBrowser;
    CFilesListModel* m_pModel;
    bool m_bFilling = false;
    bool m_bFollowsBrowser = false;  // this list set the browser's selection hook
    bool m_bFollowsItems = false;    // this list set the browser's items hook
    bool m_bStale = false;           // a refill waits for the list to show or the edit to end
    int m_nSortMode = -1;
    bool m_bDescending = true;
};
