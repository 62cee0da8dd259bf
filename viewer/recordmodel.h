#pragma once
// Virtual rows over the library's current selection: the model holds only a
// row count and asks the library for a row's texts when the view draws it.

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <array>

namespace orvane {

class LogLibrary;

// Field numbers of LogGetRecord, which are also the columns' sub-item numbers.
enum RecordField
{
    FieldTime,
    FieldGroup,
    FieldSubgroup,
    FieldMessage,
    FieldAck,
    FieldAppend
};
constexpr int kFieldCount = 6;

using RecordTexts = std::array<QString, kFieldCount>;

class RecordModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit RecordModel(LogLibrary &library, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Refills to n rows of the library's current selection.
    void setRecordCount(int n);
    // The selection grew to n rows; those from firstChanged on are new or
    // show another record now.
    void updateRecords(int firstChanged, int n);
    // The texts are to be read again (another code page).
    void redecode();
    // Adds the column of a field at its place; returns its column number.
    int addColumn(RecordField field, const QString &header);
    int columnOfField(RecordField field) const { return int(m_fields.indexOf(field)); }
    RecordField fieldOfColumn(int column) const { return m_fields.at(column); }

    // The six texts of selected record `row`, straight from the library.
    RecordTexts fetch(int row) const;

    // The most of a text a cell shows: a record may hold megabytes.
    static constexpr qsizetype kShownBytes = 16 * 1024;

private:
    LogLibrary &m_library;
    int m_rows = 0;
    QList<RecordField> m_fields;
    QStringList m_headers;
    // A row's six cells are drawn one after the other; one library call serves them all.
    mutable int m_cachedRow = -1;
    mutable RecordTexts m_cached;
};

} // namespace orvane
