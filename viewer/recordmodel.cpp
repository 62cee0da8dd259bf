#include "recordmodel.h"

#include "loglibrary.h"

namespace orvane {

RecordModel::RecordModel(LogLibrary &library, QObject *parent)
    : QAbstractTableModel(parent), m_library(library)
{
}

int RecordModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int RecordModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fields.size());
}

QVariant RecordModel::data(const QModelIndex &index, int role) const
{
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        index.row() >= m_rows)
        return {};
    if (index.row() != m_cachedRow) {
        m_cached = fetch(index.row());
        m_cachedRow = index.row();
    }
    const QString &text = m_cached[m_fields.at(index.column())];
    // A message received with line breaks keeps them in the file; in a
    // one-line cell they read as blanks, and the tooltip shows the lines.
    if (role == Qt::ToolTipRole)
        return text.contains(u'\n') ? QVariant(text) : QVariant();
    if (text.contains(u'\n') || text.contains(u'\r'))
        return QString(text)
            .replace(QStringLiteral("\r\n"), QStringLiteral(" "))
            .replace(u'\n', u' ');
    return text;
}

QVariant RecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_headers.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_headers.at(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags RecordModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void RecordModel::setRecordCount(int n)
{
    beginResetModel();
    m_rows = n < 0 ? 0 : n;
    m_cachedRow = -1;
    endResetModel();
}

void RecordModel::updateRecords(int firstChanged, int n)
{
    m_cachedRow = -1;
    const int before = m_rows;
    n = std::max(0, n);
    if (n > before) {
        beginInsertRows(QModelIndex(), before, n - 1);
        m_rows = n;
        endInsertRows();
    } else if (n < before) {
        beginRemoveRows(QModelIndex(), n, before - 1);
        m_rows = n;
        endRemoveRows();
    }
    const int lastOld = std::min(before, n) - 1;
    if (firstChanged >= 0 && firstChanged <= lastOld && !m_fields.isEmpty())
        emit dataChanged(index(firstChanged, 0), index(lastOld, int(m_fields.size()) - 1));
}

void RecordModel::redecode()
{
    m_cachedRow = -1;
    if (m_rows > 0 && !m_fields.isEmpty())
        emit dataChanged(index(0, 0), index(m_rows - 1, int(m_fields.size()) - 1));
}

int RecordModel::addColumn(RecordField field, const QString &header)
{
    // Columns stand in field order whatever order they are added in, as a
    // column inserted at its own number lands before those after it.
    int column = 0;
    while (column < m_fields.size() && m_fields.at(column) < field)
        ++column;
    beginInsertColumns(QModelIndex(), column, column);
    m_fields.insert(column, field);
    m_headers.insert(column, header);
    endInsertColumns();
    return column;
}

RecordTexts RecordModel::fetch(int row) const
{
    std::array<const char *, kFieldCount> texts{};
    m_library.LogGetRecord(row, &texts[0], &texts[1], &texts[2], &texts[3], &texts[4], &texts[5]);
    RecordTexts result;
    for (int i = 0; i < kFieldCount; ++i)
        result[i] = m_library.Text(texts[i], kShownBytes);
    return result;
}

} // namespace orvane
