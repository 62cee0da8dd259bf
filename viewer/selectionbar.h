#pragma once
// The bar under the toolbar: a time span and a group/subgroup to restrict
// the list to, and the "List" button that applies them.

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimeEdit;

namespace orvane {

class LogLibrary;

class CSelectionBar : public QWidget
{
    Q_OBJECT
public:
    explicit CSelectionBar(QWidget *parent = nullptr);

    // Empties the list and adds "[All]" and then the names, sorted by
    // their bytes: each item shows its name as the library reads it and
    // keeps the bytes (Qt::UserRole) to hand back to it.
    static void FillSorted(QComboBox *list, QList<QByteArray> names, const LogLibrary &library);
    // The bytes of the chosen item; null for "[All]" or no choice.
    static QByteArray ChosenBytes(const QComboBox *list);
    // Date and time texts as the library reads them.
    static QByteArray DateText(const QDateEdit *picker);
    static QByteArray TimeText(const QTimeEdit *picker);

    QGroupBox *timeBox;
    QCheckBox *timeEnable; // 1020
    QLabel *fromLabel;
    QDateEdit *fromDate; // 1019
    QTimeEdit *fromTime; // 1021
    QLabel *toLabel;
    QDateEdit *toDate; // 1022
    QTimeEdit *toTime; // 1023
    QGroupBox *groupBox;
    QCheckBox *groupEnable;  // 1024
    QComboBox *groupList;    // 1053
    QComboBox *subgroupList; // 1054
    QPushButton *listButton; // 1015
};

} // namespace orvane
