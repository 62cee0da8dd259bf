#include "flattableaccessible.h"

#include "flattableview.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPersistentModelIndex>
#include <QPointer>
#include <climits>

namespace orvane {

namespace {

int ColumnCount(const FlatTableView *view)
{
    return view->model() ? view->model()->columnCount(view->rootIndex()) : 0;
}

int RowCount(const FlatTableView *view)
{
    return view->model() ? view->model()->rowCount(view->rootIndex()) : 0;
}

// A column header (no index) or a cell of the list.
class FlatTableCell final : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    FlatTableCell(FlatTableView *view, int column) : m_view(view), m_column(column) {}
    FlatTableCell(FlatTableView *view, const QModelIndex &index)
        : m_view(view), m_index(index), m_column(index.column())
    {
    }

    bool shows(int row, int column) const
    {
        return isValid() && rowIndex() == row && columnIndex() == column;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface *>(this)
                   : nullptr;
    }
    bool isValid() const override
    {
        if (!m_view || !m_view->model())
            return false;
        if (m_header)
            return m_column < ColumnCount(m_view);
        return m_index.isValid() && m_index.model() == m_view->model();
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override
    {
        return m_view ? m_view->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_view);
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessible::Role role() const override
    {
        return m_header ? QAccessible::ColumnHeader : QAccessible::Cell;
    }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text kind) const override
    {
        if (!isValid() || (kind != QAccessible::Name && kind != QAccessible::Description))
            return {};
        const auto data = [this](int role) {
            return m_header ? m_view->model()->headerData(m_column, Qt::Horizontal, role)
                            : m_index.data(role);
        };
        if (kind == QAccessible::Description)
            return data(Qt::AccessibleDescriptionRole).toString();
        const QVariant name = data(Qt::AccessibleTextRole);
        return (name.isValid() ? name : data(Qt::DisplayRole)).toString();
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect here = Place();
        return QRect(Surface()->mapToGlobal(here.topLeft()), here.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid())
            return state;
        if (m_view->isColumnHidden(m_column) || !Surface()->rect().intersects(Place())) {
            state.invisible = true;
            state.offscreen = true;
        }
        if (m_header)
            return state;
        state.selectable = m_view->selectionMode() != QAbstractItemView::NoSelection;
        state.multiSelectable = m_view->selectionMode() == QAbstractItemView::MultiSelection ||
                                m_view->selectionMode() == QAbstractItemView::ExtendedSelection;
        state.extSelectable = m_view->selectionMode() == QAbstractItemView::ExtendedSelection;
        state.selected = isSelected();
        state.focusable = true;
        state.focused = m_view->hasFocus() && m_view->currentIndex() == m_index;
        if (!(m_index.flags() & Qt::ItemIsEnabled))
            state.disabled = true;
        return state;
    }

    bool isSelected() const override
    {
        return !m_header && isValid() && m_view->selectionModel() &&
               m_view->selectionModel()->isSelected(m_index);
    }
    QList<QAccessibleInterface *> columnHeaderCells() const override
    {
        const QAccessibleInterface *table = parent();
        if (m_header || !table || m_view->horizontalHeader()->isHidden())
            return {};
        return {const_cast<QAccessibleInterface *>(table)->child(m_column)};
    }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_header ? m_column : m_index.column(); }
    // A header stands above the first row.
    int rowIndex() const override { return m_header ? -1 : m_index.row(); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

private:
    // The widget it is drawn on, and where on it.
    const QWidget *Surface() const
    {
        return m_header ? static_cast<const QWidget *>(m_view->horizontalHeader())
                        : m_view->viewport();
    }
    QRect Place() const
    {
        if (!m_header)
            return m_view->visualRect(m_index);
        const QHeaderView *header = m_view->horizontalHeader();
        return QRect(header->sectionViewportPosition(m_column), 0, header->sectionSize(m_column),
                     header->height());
    }

    QPointer<FlatTableView> m_view;
    QPersistentModelIndex m_index;
    int m_column;
    const bool m_header = !m_index.isValid();
};

class FlatTableAccessible final : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit FlatTableAccessible(FlatTableView *view) : QAccessibleWidget(view, QAccessible::Table)
    {
    }
    ~FlatTableAccessible() override { Forget(); }

    FlatTableView *view() const { return static_cast<FlatTableView *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override
    {
        return int(std::min<qint64>(INT_MAX, (qint64(RowCount(view())) + 1) * ColumnCount(view())));
    }
    QAccessibleInterface *child(int number) const override
    {
        const int columns = ColumnCount(view());
        if (number < 0 || columns == 0 || number >= childCount())
            return nullptr;
        const int row = number / columns - 1;
        const int column = number % columns;
        if (row < 0)
            return Made(number, row, column, [&] { return new FlatTableCell(view(), column); });
        const QModelIndex index = view()->model()->index(row, column, view()->rootIndex());
        return Made(number, row, column, [&] { return new FlatTableCell(view(), index); });
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const QAccessibleTableCellInterface *cell =
            child ? const_cast<QAccessibleInterface *>(child)->tableCellInterface() : nullptr;
        if (!cell || child->parent() != this)
            return -1;
        return (cell->rowIndex() + 1) * ColumnCount(view()) + cell->columnIndex();
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint global(x, y);
        const QHeaderView *header = view()->horizontalHeader();
        const QPoint onHeader = header->mapFromGlobal(global);
        if (header->isVisible() && header->rect().contains(onHeader)) {
            const int column = header->logicalIndexAt(onHeader);
            return column < 0 ? nullptr : child(column);
        }
        const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(global));
        return index.isValid() ? child(AccessibleChild(view(), index)) : nullptr;
    }
    QAccessibleInterface *focusChild() const override
    {
        const QModelIndex current = view()->currentIndex();
        return current.isValid() ? child(AccessibleChild(view(), current)) : nullptr;
    }

    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        if (row < 0 || column < 0 || row >= RowCount(view()) || column >= ColumnCount(view()))
            return nullptr;
        return child(AccessibleChild(view(), view()->model()->index(row, column, view()->rootIndex())));
    }
    int selectedCellCount() const override { return int(SelectedIndexes().size()); }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        QList<QAccessibleInterface *> cells;
        for (const QModelIndex &index : SelectedIndexes())
            cells.append(child(AccessibleChild(view(), index)));
        return cells;
    }
    QString columnDescription(int column) const override
    {
        return view()->model() ? view()->model()->headerData(column, Qt::Horizontal).toString()
                               : QString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return int(selectedColumns().size()); }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    int columnCount() const override { return ColumnCount(view()); }
    int rowCount() const override { return RowCount(view()); }
    QList<int> selectedColumns() const override
    {
        QList<int> columns;
        if (view()->selectionModel())
            for (const QModelIndex &index :
                 view()->selectionModel()->selectedColumns())
                columns.append(index.column());
        return columns;
    }
    QList<int> selectedRows() const override
    {
        QList<int> rows;
        if (view()->selectionModel())
            for (const QModelIndex &index : view()->selectionModel()->selectedRows())
                rows.append(index.row());
        return rows;
    }
    bool isColumnSelected(int column) const override
    {
        return view()->selectionModel() &&
               view()->selectionModel()->isColumnSelected(column, view()->rootIndex());
    }
    bool isRowSelected(int row) const override
    {
        return view()->selectionModel() &&
               view()->selectionModel()->isRowSelected(row, view()->rootIndex());
    }
    bool selectRow(int row) override { return SelectLine(row, true, true); }
    bool unselectRow(int row) override { return SelectLine(row, true, false); }
    bool selectColumn(int column) override { return SelectLine(column, false, true); }
    bool unselectColumn(int column) override { return SelectLine(column, false, false); }

    // Every cell made so far may now stand elsewhere or be gone.
    void modelChange(QAccessibleTableModelChangeEvent *) override { Forget(); }

private:
    template <typename Make>
    QAccessibleInterface *Made(int number, int row, int column, Make make) const
    {
        if (const QAccessible::Id id = m_made.value(number)) {
            auto *cell = static_cast<FlatTableCell *>(QAccessible::accessibleInterface(id));
            if (cell && cell->shows(row, column))
                return cell;
            // Rows came or went since: the number names another cell now.
            m_made.remove(number);
            if (cell)
                QAccessible::deleteAccessibleInterface(id);
        }
        FlatTableCell *cell = make();
        m_made.insert(number, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }
    void Forget()
    {
        for (const QAccessible::Id id : std::as_const(m_made))
            QAccessible::deleteAccessibleInterface(id);
        m_made.clear();
    }
    QModelIndexList SelectedIndexes() const
    {
        return view()->selectionModel() ? view()->selectionModel()->selectedIndexes()
                                        : QModelIndexList();
    }
    bool SelectLine(int line, bool isRow, bool select)
    {
        FlatTableView *list = view();
        QItemSelectionModel *selection = list->selectionModel();
        const QAbstractItemView::SelectionMode mode = list->selectionMode();
        if (!selection || mode == QAbstractItemView::NoSelection ||
            list->selectionBehavior() == (isRow ? QAbstractItemView::SelectColumns
                                                : QAbstractItemView::SelectRows))
            return false;
        const QModelIndex index = isRow ? list->model()->index(line, 0, list->rootIndex())
                                        : list->model()->index(0, line, list->rootIndex());
        if (!index.isValid())
            return false;
        QItemSelectionModel::SelectionFlags command =
            (select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
            (isRow ? QItemSelectionModel::Rows : QItemSelectionModel::Columns);
        // Where one line at a time may be selected, selecting one ends the other.
        if (select && mode == QAbstractItemView::SingleSelection)
            command |= QItemSelectionModel::Clear;
        selection->select(index, command);
        return true;
    }

    // Child number to the interface made for it.
    mutable QHash<int, QAccessible::Id> m_made;
};

QAccessibleInterface *MakeInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String(FlatTableView::staticMetaObject.className()))
        if (auto *view = qobject_cast<FlatTableView *>(object))
            return new FlatTableAccessible(view);
    return nullptr;
}

} // namespace

void InstallFlatTableAccessibility()
{
    static const bool installed = (QAccessible::installFactory(MakeInterface), true);
    (void)installed;
}

int AccessibleChild(const FlatTableView *view, const QModelIndex &index)
{
    const qint64 number = (qint64(index.row()) + 1) * ColumnCount(view) + index.column();
    return int(std::min<qint64>(number, INT_MAX));
}

} // namespace orvane
