#include "flattableview.h"

#include "flattableaccessible.h"

#include <QAccessible>
#include <QHeaderView>
#include <QHoverEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace orvane {

namespace {

int ClampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, INT_MIN, INT_MAX));
}

} // namespace

FlatTableView::FlatTableView(QWidget *parent)
    : QAbstractItemView(parent), m_header(new QHeaderView(Qt::Horizontal, this)),
      m_rowHeight(fontMetrics().height() + 4)
{
    m_header->setSectionsClickable(true);
    m_header->setHighlightSections(true);
    m_header->setFirstSectionMovable(true);
    m_header->setModel(model());
    setTabKeyNavigation(true);
    InstallFlatTableAccessibility();

    // Columns added and sized while the list is still hidden are laid out
    // once, when it is shown.
    const auto columnsChanged = [this] {
        if (!isVisible()) {
            scheduleDelayedItemsLayout();
            return;
        }
        updateGeometries();
        viewport()->update();
    };
    connect(m_header, &QHeaderView::sectionResized, this, columnsChanged);
    connect(m_header, &QHeaderView::sectionMoved, this, columnsChanged);
    connect(m_header, &QHeaderView::sectionCountChanged, this, columnsChanged);
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this,
            &FlatTableView::resizeColumnToContents);
    connect(m_header, &QHeaderView::geometriesChanged, this, &FlatTableView::updateGeometries);
}

FlatTableView::~FlatTableView()
{
    // The header outlives this part of the view and still signals as it is
    // hidden and deleted with the widget.
    m_header->disconnect(this);
}

void FlatTableView::setModel(QAbstractItemModel *model)
{
    if (model == this->model())
        return;
    for (const QMetaObject::Connection &connection : std::as_const(m_modelConnections))
        disconnect(connection);
    m_modelConnections.clear();
    m_hover = QPersistentModelIndex();
    // The header first: the selection model the view makes is handed on to it.
    m_header->setModel(model);
    QAbstractItemView::setModel(model);
    if (!model)
        return;
    // Rows coming and going change only the scroll bar's range.
    const auto relayout = [this] { scheduleDelayedItemsLayout(); };
    m_modelConnections = {connect(model, &QAbstractItemModel::rowsInserted, this, relayout),
                          connect(model, &QAbstractItemModel::rowsRemoved, this, relayout),
                          connect(model, &QAbstractItemModel::rowsMoved, this, relayout),
                          connect(model, &QAbstractItemModel::layoutChanged, this, relayout),
                          connect(model, &QAbstractItemModel::modelReset, this, relayout)};
}

void FlatTableView::setSelectionModel(QItemSelectionModel *selectionModel)
{
    m_header->setSelectionModel(selectionModel);
    QAbstractItemView::setSelectionModel(selectionModel);
}

void FlatTableView::setRowHeight(int height)
{
    height = std::max(1, height);
    if (height == m_rowHeight)
        return;
    m_rowHeight = height;
    updateGeometries();
    viewport()->update();
}

void FlatTableView::setShowGrid(bool show)
{
    if (m_showGrid == show)
        return;
    m_showGrid = show;
    viewport()->update();
}

int FlatTableView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

bool FlatTableView::scrollsPerItem() const
{
    // A scroll bar counts in int: beyond that, whole rows.
    return verticalScrollMode() == ScrollPerItem || contentHeight() > INT_MAX;
}

int FlatTableView::columnWidth(int column) const
{
    return m_header->sectionSize(column);
}

void FlatTableView::setColumnWidth(int column, int width)
{
    m_header->resizeSection(column, width);
}

bool FlatTableView::isColumnHidden(int column) const
{
    return m_header->isSectionHidden(column);
}

int FlatTableView::columnViewportPosition(int column) const
{
    return m_header->sectionViewportPosition(column);
}

int FlatTableView::columnAt(int x) const
{
    return m_header->logicalIndexAt(x);
}

qint64 FlatTableView::contentOffset() const
{
    const QScrollBar *bar = verticalScrollBar();
    if (!scrollsPerItem())
        return bar->value();
    // Scrolled to the end, the last row stands on the bottom edge.
    if (bar->maximum() > 0 && bar->value() == bar->maximum())
        return std::max<qint64>(0, contentHeight() - viewport()->height());
    return qint64(bar->value()) * m_rowHeight;
}

int FlatTableView::verticalOffset() const
{
    return ClampToInt(contentOffset());
}

int FlatTableView::horizontalOffset() const
{
    return m_header->offset();
}

int FlatTableView::rowAt(int y) const
{
    const qint64 position = qint64(y) + contentOffset();
    if (position < 0 || position >= contentHeight())
        return -1;
    return int(position / m_rowHeight);
}

int FlatTableView::rowViewportPosition(int row) const
{
    return ClampToInt(qint64(row) * m_rowHeight - contentOffset());
}

QModelIndex FlatTableView::indexAt(const QPoint &point) const
{
    const int row = rowAt(point.y());
    const int column = columnAt(point.x());
    if (row < 0 || column < 0)
        return {};
    return model()->index(row, column, rootIndex());
}

bool FlatTableView::isIndexHidden(const QModelIndex &index) const
{
    return isColumnHidden(index.column());
}

QRect FlatTableView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        isIndexHidden(index))
        return {};
    const int grid = m_showGrid ? 1 : 0;
    return QRect(columnViewportPosition(index.column()), rowViewportPosition(index.row()),
                 columnWidth(index.column()) - grid, m_rowHeight - grid);
}

void FlatTableView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        isColumnHidden(index.column()))
        return;

    // Columns scroll by the pixel; a cell wider than the view shows its start.
    const int viewportWidth = viewport()->width();
    const int left = m_header->sectionPosition(index.column());
    const int cellWidth = m_header->sectionSize(index.column());
    QScrollBar *across = horizontalScrollBar();
    if (hint == PositionAtCenter)
        across->setValue(left - (viewportWidth - cellWidth) / 2);
    else if (left - m_header->offset() < 0 || cellWidth > viewportWidth)
        across->setValue(left);
    else if (left - m_header->offset() + cellWidth > viewportWidth)
        across->setValue(left - viewportWidth + cellWidth);

    const int viewportHeight = viewport()->height();
    const qint64 top = qint64(index.row()) * m_rowHeight;
    const qint64 shown = top - contentOffset();
    if (hint == EnsureVisible) {
        if (shown < 0 || m_rowHeight > viewportHeight)
            hint = PositionAtTop;
        else if (shown + m_rowHeight > viewportHeight)
            hint = PositionAtBottom;
    }
    QScrollBar *down = verticalScrollBar();
    if (scrollsPerItem()) {
        int first = index.row();
        if (hint == PositionAtBottom || hint == PositionAtCenter) {
            // The rows above that still fit in the room.
            const int room = hint == PositionAtCenter ? viewportHeight / 2 : viewportHeight;
            first = std::max(0, first - std::max(0, room / m_rowHeight - 1));
        }
        if (hint != EnsureVisible)
            down->setValue(first);
    } else if (hint == PositionAtTop) {
        down->setValue(ClampToInt(top));
    } else if (hint == PositionAtBottom) {
        down->setValue(ClampToInt(top - viewportHeight + m_rowHeight));
    } else if (hint == PositionAtCenter) {
        down->setValue(ClampToInt(top - (viewportHeight - m_rowHeight) / 2));
    }
    update(index);
}

void FlatTableView::selectRow(int row)
{
    if (selectionBehavior() == SelectColumns ||
        (selectionMode() == SingleSelection && selectionBehavior() == SelectItems))
        return;
    if (row < 0 || row >= rowCount() || !selectionModel())
        return;
    const int column = m_header->logicalIndexAt(isRightToLeft() ? viewport()->width() : 0);
    const QModelIndex index = model()->index(row, column, rootIndex());
    if (!index.isValid())
        return;
    const QItemSelectionModel::SelectionFlags command = selectionCommand(index);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    selectionModel()->select(QItemSelection(index, index), command | QItemSelectionModel::Rows);
}

QModelIndex FlatTableView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const int rows = rowCount();
    const auto shownAt = [this](int visual) {
        return !m_header->isSectionHidden(m_header->logicalIndex(visual));
    };
    int last = m_header->count() - 1;
    while (last >= 0 && !shownAt(last))
        --last;
    if (rows == 0 || last < 0)
        return {};
    int first = 0;
    while (first < last && !shownAt(first))
        ++first;

    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, m_header->logicalIndex(first), rootIndex());

    if (isRightToLeft()) {
        if (cursorAction == MoveLeft)
            cursorAction = MoveRight;
        else if (cursorAction == MoveRight)
            cursorAction = MoveLeft;
    }
    int row = std::min(current.row(), rows - 1);
    int visual = std::min(m_header->visualIndex(current.column()), last);
    switch (cursorAction) {
    case MoveUp:
        row = std::max(0, row - 1);
        break;
    case MoveDown:
        row = std::min(rows - 1, row + 1);
        break;
    case MovePageUp: {
        const int above = rowAt(visualRect(current).bottom() - viewport()->height());
        return model()->index(above < 0 ? 0 : above, current.column(), rootIndex());
    }
    case MovePageDown: {
        const int below = rowAt(visualRect(current).top() + viewport()->height());
        return model()->index(below < 0 ? rows - 1 : below, current.column(), rootIndex());
    }
    case MoveHome:
        visual = first;
        if (modifiers & Qt::ControlModifier)
            row = 0;
        break;
    case MoveEnd:
        visual = last;
        if (modifiers & Qt::ControlModifier)
            row = rows - 1;
        break;
    case MovePrevious:
    case MoveLeft: {
        int to = visual - 1;
        while (to >= first && !shownAt(to))
            --to;
        if (to >= first) {
            visual = to;
        } else if (cursorAction == MovePrevious) {
            // Backtab from a row's first cell goes on at the end of the row above.
            row = row > 0 ? row - 1 : rows - 1;
            visual = last;
        }
        break;
    }
    case MoveNext:
    case MoveRight: {
        int to = visual + 1;
        while (to <= last && !shownAt(to))
            ++to;
        if (to <= last) {
            visual = to;
        } else if (cursorAction == MoveNext) {
            row = row < rows - 1 ? row + 1 : 0;
            visual = first;
        }
        break;
    }
    }
    return model()->index(row, m_header->logicalIndex(visual), rootIndex());
}

void FlatTableView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    const QRect area = rect.normalized();
    const bool reverse = isRightToLeft();
    const QModelIndex from = indexAt(QPoint(reverse ? area.right() : area.left(), area.top()));
    const QModelIndex to = indexAt(QPoint(reverse ? area.left() : area.right(), area.bottom()));
    if (!selectionModel() || !from.isValid() || !to.isValid() ||
        !(model()->flags(from) & Qt::ItemIsEnabled) || !(model()->flags(to) & Qt::ItemIsEnabled))
        return;
    const int top = std::min(from.row(), to.row());
    const int bottom = std::max(from.row(), to.row());
    QItemSelection selection;
    if (selectionBehavior() == SelectRows) {
        selection.select(model()->index(top, 0, rootIndex()),
                         model()->index(bottom, model()->columnCount(rootIndex()) - 1, rootIndex()));
    } else {
        // The columns between the two on screen, wherever they were dragged.
        const int left = std::min(m_header->visualIndex(from.column()),
                                  m_header->visualIndex(to.column()));
        const int right = std::max(m_header->visualIndex(from.column()),
                                   m_header->visualIndex(to.column()));
        for (int visual = left; visual <= right; ++visual) {
            const int column = m_header->logicalIndex(visual);
            selection.select(model()->index(top, column, rootIndex()),
                             model()->index(bottom, column, rootIndex()));
        }
    }
    selectionModel()->select(selection, command);
}

QRegion FlatTableView::visualRegionForSelection(const QItemSelection &selection) const
{
    const QRect shown = viewport()->rect();
    const int grid = m_showGrid ? 1 : 0;
    QRegion region;
    for (const QItemSelectionRange &range : selection) {
        if (range.parent() != rootIndex() || !range.isValid())
            continue;
        // Cut to the view first: a range may span millions of rows.
        const int top = std::max(rowViewportPosition(range.top()), shown.top() - 1);
        const int bottom = std::min(rowViewportPosition(range.bottom()) + m_rowHeight - 1 - grid,
                                    shown.bottom() + 1);
        if (top > bottom)
            continue;
        for (int column = range.left(); column <= range.right(); ++column) {
            if (isColumnHidden(column))
                continue;
            const QRect cells(columnViewportPosition(column), top, columnWidth(column) - grid,
                              bottom - top + 1);
            if (shown.intersects(cells))
                region += cells;
        }
    }
    return region;
}

void FlatTableView::initViewItemOption(QStyleOptionViewItem *option) const
{
    QAbstractItemView::initViewItemOption(option);
    option->showDecorationSelected = true;
}

void FlatTableView::drawCell(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem cell = option;
    if (selectionModel() && selectionModel()->isSelected(index))
        cell.state |= QStyle::State_Selected;
    if (index == m_hover)
        cell.state |= QStyle::State_MouseOver;
    if (option.state & QStyle::State_Enabled) {
        const bool enabled = model()->flags(index) & Qt::ItemIsEnabled;
        if (!enabled)
            cell.state &= ~QStyle::State_Enabled;
        cell.palette.setCurrentColorGroup(enabled ? QPalette::Normal : QPalette::Disabled);
    }
    if (index == currentIndex() && (hasFocus() || viewport()->hasFocus()))
        cell.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &cell, painter, this);
    itemDelegateForIndex(index)->paint(painter, cell, index);
}

void FlatTableView::drawGrid(QPainter *painter, const QRect &area, int top, int bottom, int left,
                             int right) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QRgb color = QRgb(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this));
    const QPen old = painter->pen();
    painter->setPen(QPen(QColor::fromRgba(color), 1, Qt::SolidLine));
    for (int row = top; row <= bottom; ++row) {
        const int y = rowViewportPosition(row) + m_rowHeight - 1;
        painter->drawLine(area.left(), y, area.right(), y);
    }
    for (int visual = left; visual <= right; ++visual) {
        const int column = m_header->logicalIndex(visual);
        if (isColumnHidden(column))
            continue;
        int x = columnViewportPosition(column);
        if (!isRightToLeft())
            x += columnWidth(column) - 1;
        painter->drawLine(x, area.top(), x, area.bottom());
    }
    // Styles that want the outer lines even without a row header get the left one.
    if (style()->styleHint(QStyle::SH_Table_AlwaysDrawLeftTopGridLines, &option, this)) {
        const int column = m_header->logicalIndex(left);
        if (!isColumnHidden(column)) {
            int x = columnViewportPosition(column);
            if (isRightToLeft())
                x += columnWidth(column) - 1;
            if (x == (isRightToLeft() ? area.right() : area.left()))
                painter->drawLine(x, area.top(), x, area.bottom());
        }
    }
    painter->setPen(old);
}

void FlatTableView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int rows = rowCount();
    if (rows == 0 || m_header->count() == 0)
        return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int grid = m_showGrid ? 1 : 0;
    const bool reverse = isRightToLeft();
    const bool alternate = alternatingRowColors();

    // One pass over the bounding rectangle (the painter clips to the region):
    // a cell drawn twice would blend its text edges darker.
    QRect area = event->region().boundingRect();
    const qint64 end = contentHeight() - contentOffset() - 1;
    area.setBottom(int(std::min<qint64>(area.bottom(), end)));
    const int width = m_header->length() - m_header->offset() - (reverse ? 0 : 1);
    if (reverse)
        area.setLeft(std::max(area.left(), viewport()->width() - width));
    else
        area.setRight(std::min(area.right(), width));
    if (!area.isValid())
        return;

    int left = m_header->visualIndexAt(area.left());
    int right = m_header->visualIndexAt(area.right());
    if (reverse)
        std::swap(left, right);
    if (left == -1)
        left = 0;
    if (right == -1)
        right = m_header->count() - 1;
    const int top = rowAt(area.top());
    int bottom = rowAt(area.bottom());
    if (bottom == -1)
        bottom = rows - 1;
    if (top == -1 || top > bottom)
        return;

    for (int row = top; row <= bottom; ++row) {
        const int y = rowViewportPosition(row);
        option.features.setFlag(QStyleOptionViewItem::Alternate, alternate && (row & 1));
        for (int visual = left; visual <= right; ++visual) {
            const int column = m_header->logicalIndex(visual);
            if (isColumnHidden(column))
                continue;
            const QModelIndex index = model()->index(row, column, rootIndex());
            if (!index.isValid())
                continue;
            option.rect = QRect(columnViewportPosition(column) + (grid && reverse ? 1 : 0), y,
                                columnWidth(column) - grid, m_rowHeight - grid);
            drawCell(&painter, option, index);
        }
    }
    if (m_showGrid)
        drawGrid(&painter, area, top, bottom, left, right);
}

void FlatTableView::updateGeometries()
{
    if (m_inGeometries)
        return;
    m_inGeometries = true;

    int headerHeight = 0;
    if (!m_header->isHidden())
        headerHeight = std::clamp(m_header->sizeHint().height(), m_header->minimumHeight(),
                                  m_header->maximumHeight());
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect frame = viewport()->geometry();
    m_header->setGeometry(frame.left(), frame.top() - headerHeight, frame.width(), headerHeight);
    if (m_header->isHidden())
        QMetaObject::invokeMethod(m_header, "updateGeometries");

    // Without scroll bars when everything fits beside where they would be.
    QSize room = viewport()->size();
    const QSize most = maximumViewportSize();
    const int length = m_header->length();
    const qint64 height = contentHeight();
    if (most.width() >= length && most.height() >= height)
        room = most;

    int columnsInView = 0;
    for (int visual = m_header->count() - 1, used = 0; visual >= 0; --visual) {
        const int column = m_header->logicalIndex(visual);
        if (isColumnHidden(column))
            continue;
        used += m_header->sectionSize(column);
        if (used > room.width())
            break;
        ++columnsInView;
    }
    QScrollBar *across = horizontalScrollBar();
    across->setPageStep(room.width());
    across->setRange(0, std::max(0, length - room.width()));
    across->setSingleStep(std::max(room.width() / (std::max(columnsInView, 1) + 1), 2));

    const int rows = rowCount();
    const int rowsInView = std::max(1, std::min(rows, room.height() / m_rowHeight));
    QScrollBar *down = verticalScrollBar();
    if (scrollsPerItem()) {
        down->setRange(0, std::max(0, rows - rowsInView));
        down->setPageStep(rowsInView);
        down->setSingleStep(1);
    } else {
        down->setPageStep(room.height());
        down->setRange(0, ClampToInt(std::max<qint64>(0, height - room.height())));
        down->setSingleStep(std::max(room.height() / (rowsInView + 1), 2));
    }
    m_header->setOffset(isRightToLeft() ? across->maximum() - across->value() : across->value());
    // Rows or room changed under a scroll bar that stayed where it was.
    if (contentOffset() != m_shownOffset) {
        m_shownOffset = contentOffset();
        viewport()->update();
    }

    m_inGeometries = false;
    QAbstractItemView::updateGeometries();
}

void FlatTableView::scrollContentsBy(int dx, int dy)
{
    if (dx != 0) {
        QScrollBar *across = horizontalScrollBar();
        m_header->setOffset(isRightToLeft() ? across->maximum() - across->value()
                                            : across->value());
        if (isRightToLeft())
            dx = -dx;
    }
    // Rows move by what the offset moved, which per item is not always the
    // scroll bar's step times the row height.
    const qint64 offset = contentOffset();
    dy = ClampToInt(m_shownOffset - offset);
    m_shownOffset = offset;
    viewport()->scroll(dx, dy);
}

bool FlatTableView::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        m_hover = indexAt(static_cast<QHoverEvent *>(event)->position().toPoint());
        break;
    case QEvent::HoverLeave:
        m_hover = QPersistentModelIndex();
        break;
    default:
        break;
    }
    return QAbstractItemView::viewportEvent(event);
}

int FlatTableView::sizeHintForColumn(int column) const
{
    if (!model())
        return -1;
    ensurePolished();
    // The rows in view: measuring every row of a long history would take
    // longer than the user waits for a double click.
    const int rows = rowCount();
    const int top = std::max(0, rowAt(0));
    int bottom = rowAt(viewport()->height());
    if (!isVisible() || bottom == -1)
        bottom = rows - 1;
    const int most = m_header->resizeContentsPrecision();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int hint = 0;
    for (int row = top, measured = 0; row <= bottom && (most <= 0 || measured < most);
         ++row, ++measured) {
        const QModelIndex index = model()->index(row, column, rootIndex());
        hint = std::max(hint, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return m_showGrid ? hint + 1 : hint;
}

void FlatTableView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    if (QAccessible::isActive() && current.isValid()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(AccessibleChild(this, current));
        QAccessible::updateAccessibility(&event);
    }
    QAbstractItemView::currentChanged(current, previous);
}

void FlatTableView::selectionChanged(const QItemSelection &selected,
                                     const QItemSelection &deselected)
{
    if (QAccessible::isActive()) {
        // Cell by cell while that is a row or so; a reader told of a range of
        // a million rows one cell at a time would fall far behind.
        const auto cells = [](const QItemSelection &selection) {
            qint64 count = 0;
            for (const QItemSelectionRange &range : selection)
                count += qint64(range.width()) * range.height();
            return count;
        };
        if (cells(selected) + cells(deselected) > 64) {
            QAccessibleEvent event(this, QAccessible::SelectionWithin);
            QAccessible::updateAccessibility(&event);
        } else {
            const auto tell = [this](const QItemSelection &selection, QAccessible::Event kind) {
                for (const QModelIndex &index : selection.indexes()) {
                    QAccessibleEvent event(this, kind);
                    event.setChild(AccessibleChild(this, index));
                    QAccessible::updateAccessibility(&event);
                }
            };
            tell(selected, QAccessible::SelectionAdd);
            tell(deselected, QAccessible::SelectionRemove);
        }
    }
    QAbstractItemView::selectionChanged(selected, deselected);
}

void FlatTableView::resizeColumnToContents(int column)
{
    m_header->resizeSection(column,
                            std::max(sizeHintForColumn(column), m_header->sectionSizeHint(column)));
}

} // namespace orvane
