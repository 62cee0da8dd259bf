#pragma once
// Answers the program-wide frmString from inside its modal loop, as an
// operator would: types into both boxes and ends the dialog. Schedule the
// answer, then run the code that opens the dialog.

#include "frmstring.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace quillet::test {

enum class StringEnd
{
    Ok,
    Cancel,
    CloseButton,
    Escape
};

struct StringAnswer
{
    bool answered = false;
    // What the dialog showed when it was answered.
    QString title;
    QString prompt1;
    QString default1;
    QString prompt2;
    QString default2;
};

// The answer is given only if the dialog is showing when the event loop next
// runs; `answered` tells whether it was.
inline std::shared_ptr<StringAnswer> AnswerStringForm(const QString &text1, const QString &text2,
                                                      StringEnd end)
{
    auto answer = std::make_shared<StringAnswer>();
    QTimer::singleShot(0, [=] {
        frmString &form = frmString::Instance();
        if (!form.isVisible())
            return;
        answer->answered = true;
        answer->title = form.windowTitle();
        answer->prompt1 = form.Label1->text();
        answer->default1 = form.txtID->text();
        answer->prompt2 = form.Label2->text();
        answer->default2 = form.txtDsc->text();
        form.txtID->clear();
        QTest::keyClicks(form.txtID, text1);
        form.txtDsc->clear();
        QTest::keyClicks(form.txtDsc, text2);
        switch (end) {
        case StringEnd::Ok:
            QTest::mouseClick(form.cmdOK, Qt::LeftButton);
            break;
        case StringEnd::Cancel:
            QTest::mouseClick(form.cmdCancel, Qt::LeftButton);
            break;
        case StringEnd::CloseButton:
            form.close();
            break;
        case StringEnd::Escape:
            QTest::keyClick(&form, Qt::Key_Escape);
            break;
        }
    });
    return answer;
}

// Lets a scheduled answer that found no dialog run out before the next test.
inline void FlushStringAnswers()
{
    QCoreApplication::processEvents();
}

} // namespace quillet::test

Q_DECLARE_METATYPE(quillet::test::StringEnd)
