#pragma once
// A table whose rows all have one height, over a flat model of any size.
// Where a row stands is arithmetic, so a list of millions of rows keeps
// nothing per row: a table view's vertical header keeps an entry for every
// row and rebuilds them all whenever the model resets, which for a
// four-million-record history took longer than reading the file. Columns are
// the sections of a horizontal header: dragged elsewhere, resized and
// fitted to their contents as in any table. It draws, selects and moves its
// cursor as a table view with a hidden vertical header does.

#include <QAbstractItemView>
#include <QPersistentModelIndex>

class QHeaderView;

namespace orvane {

class FlatTableView : public QAbstractItemView
{
    Q_OBJECT
public:
    explicit FlatTableView(QWidget *parent = nullptr);
    ~FlatTableView() override;

    void setModel(QAbstractItemModel *model) override;
    void setSelectionModel(QItemSelectionModel *selectionModel) override;

    QHeaderView *horizontalHeader() const { return m_header; }
    // Every row's height, its grid line included.
    int rowHeight() const { return m_rowHeight; }
    void setRowHeight(int height);
    bool showGrid() const { return m_showGrid; }
    void setShowGrid(bool show);

    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    bool isColumnHidden(int column) const;
    int columnViewportPosition(int column) const;
    int columnAt(int x) const;
    // The row at viewport position y, or -1 where there is none.
    int rowAt(int y) const;
    int rowViewportPosition(int row) const;
    void selectRow(int row);
    // As wide as the rows in view and the header need.
    void resizeColumnToContents(int column);

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;

protected:
    void initViewItemOption(QStyleOptionViewItem *option) const override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void paintEvent(QPaintEvent *event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent *event) override;
    int sizeHintForColumn(int column) const override;
    // Tell screen readers which cell the cursor and the selection are on.
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;

private:
    int rowCount() const;
    // Per item the vertical scroll bar counts rows, per pixel pixels.
    bool scrollsPerItem() const;
    qint64 contentHeight() const { return qint64(rowCount()) * m_rowHeight; }
    // How far the rows are scrolled up, in pixels: beyond an int for a
    // hundred million rows.
    qint64 contentOffset() const;
    void drawCell(QPainter *painter, const QStyleOptionViewItem &option,
                  const QModelIndex &index) const;
    void drawGrid(QPainter *painter, const QRect &area, int top, int bottom, int left,
                  int right) const;

    QHeaderView *m_header;
    int m_rowHeight;
    bool m_showGrid = true;
    bool m_inGeometries = false;
    // The vertical offset the viewport's contents stand at.
    qint64 m_shownOffset = 0;
    QPersistentModelIndex m_hover;
    QList<QMetaObject::Connection> m_modelConnections;
};

} // namespace orvane
