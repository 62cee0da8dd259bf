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
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_rows)
        return {};
    if (index.row() != m_cachedRow) {
        m_cached = fetch(index.row());
        m_cachedRow = index.row();
    }
    return m_cached[m_fields.at(index.column())];
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

void RecordModel::appendColumn(RecordField field, const QString &header)
{
    const int column = int(m_fields.size());
    beginInsertColumns(QModelIndex(), column, column);
    m_fields.append(field);
    m_headers.append(header);
    endInsertColumns();
}

RecordTexts RecordModel::fetch(int row) const
{
    std::array<const char *, kFieldCount> texts{};
    m_library.LogGetRecord(row, &texts[0], &texts[1], &texts[2], &texts[3], &texts[4], &texts[5]);
    RecordTexts result;
    for (int i = 0; i < kFieldCount; ++i)
        result[i] = texts[i] ? QString::fromUtf8(texts[i]) : QString();
    return result;
}

} // namespace orvane
