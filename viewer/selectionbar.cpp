#include "selectionbar.h"

#include "loglibrary.h"
#include "stringtable.h"
#include "timetext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <algorithm>

namespace orvane {

namespace {

template <typename Picker> Picker *MakePicker(QWidget *parent, const QString &format)
{
    auto *picker = new Picker(parent);
    picker->setDisplayFormat(format);
    picker->setCalendarPopup(false);
    picker->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    picker->setEnabled(false);
    return picker;
}

} // namespace

CSelectionBar::CSelectionBar(QWidget *parent) : QWidget(parent)
{
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(4, 2, 4, 2);

    timeBox = new QGroupBox(Str(IDS_BAR_SELECT_TIME), this);
    auto *timeLayout = new QGridLayout(timeBox);
    timeLayout->setContentsMargins(6, 2, 6, 4);
    timeLayout->setVerticalSpacing(2);
    timeEnable = new QCheckBox(Str(IDS_BAR_ENABLE), timeBox);
    fromLabel = new QLabel(Str(IDS_BAR_FROM), timeBox);
    toLabel = new QLabel(Str(IDS_BAR_TO), timeBox);
    // The list's own form in every language, so a date reads the same in the
    // list, the pickers and the export dialog.
    fromDate = MakePicker<QDateEdit>(timeBox, timetext::kDateFormat);
    fromTime = MakePicker<QTimeEdit>(timeBox, timetext::kTimeFormat);
    toDate = MakePicker<QDateEdit>(timeBox, timetext::kDateFormat);
    toTime = MakePicker<QTimeEdit>(timeBox, timetext::kTimeFormat);
    const QDateTime now = QDateTime::currentDateTime();
    for (QDateEdit *d : {fromDate, toDate})
        d->setDate(now.date());
    for (QTimeEdit *t : {fromTime, toTime})
        t->setTime(now.time());
    // A date picked by the user means the whole day: the span then runs from
    // its first second or to its last, not to the time of a record that the
    // pickers were set to (a month would end at its last record's time).
    connect(fromDate, &QDateEdit::dateChanged, this, [this] { fromTime->setTime(QTime(0, 0)); });
    connect(toDate, &QDateEdit::dateChanged, this, [this] { toTime->setTime(QTime(23, 59, 59)); });
    timeLayout->addWidget(timeEnable, 0, 0, 2, 1);
    timeLayout->addWidget(fromLabel, 0, 1);
    timeLayout->addWidget(fromDate, 0, 2);
    timeLayout->addWidget(fromTime, 0, 3);
    timeLayout->addWidget(toLabel, 1, 1);
    timeLayout->addWidget(toDate, 1, 2);
    timeLayout->addWidget(toTime, 1, 3);

    groupBox = new QGroupBox(Str(IDS_BAR_SELECT_GROUP), this);
    auto *groupLayout = new QGridLayout(groupBox);
    groupLayout->setContentsMargins(6, 2, 6, 4);
    groupLayout->setVerticalSpacing(2);
    groupEnable = new QCheckBox(Str(IDS_BAR_ENABLE), groupBox);
    groupList = new QComboBox(groupBox);
    subgroupList = new QComboBox(groupBox);
    for (QComboBox *list : {groupList, subgroupList}) {
        list->setEnabled(false);
        list->setMinimumContentsLength(16);
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list->setMaxVisibleItems(20);
    }
    groupLayout->addWidget(groupEnable, 0, 0, 2, 1);
    groupLayout->addWidget(groupList, 0, 1);
    groupLayout->addWidget(subgroupList, 1, 1);

    listButton = new QPushButton(Str(IDS_BAR_LIST), this);
    listButton->setMinimumWidth(72);

    outer->addWidget(timeBox);
    outer->addWidget(groupBox);
    outer->addWidget(listButton, 0, Qt::AlignVCenter);
    outer->addStretch(1);
}

void CSelectionBar::FillSorted(QComboBox *list, QList<QByteArray> names, const LogLibrary &library)
{
    // Sorted like the platform's sorted lists, byte order of the text, with
    // "[All]" always on top where it means "no restriction".
    std::sort(names.begin(), names.end());
    list->clear();
    list->addItem(Str(IDS_ALL));
    for (const QByteArray &name : names)
        list->addItem(library.Text(name.constData()), name);
    list->setCurrentIndex(-1);
}

QByteArray CSelectionBar::ChosenBytes(const QComboBox *list)
{
    return list->currentIndex() > 0 ? list->currentData().toByteArray() : QByteArray();
}

QByteArray CSelectionBar::DateText(const QDateEdit *picker)
{
    return timetext::Format(picker->dateTime(), timetext::Parts::Date).toLatin1();
}

QByteArray CSelectionBar::TimeText(const QTimeEdit *picker)
{
    return timetext::Format(picker->dateTime(), timetext::Parts::Time).toLatin1();
}

} // namespace orvane
