// The two-field input dialog: what each way of ending it returns, what it
// shows, and that the one instance survives being hidden.

#include "frmstring.h"
#include "stringformdriver.h"

#include <QLabel>
#include <QPointer>
#include <QtTest>

using namespace quillet;
using namespace quillet::test;

class tst_frmString : public QObject
{
    Q_OBJECT

private slots:
    void endings_data()
    {
        QTest::addColumn<QString>("typed1");
        QTest::addColumn<QString>("typed2");
        QTest::addColumn<StringEnd>("end");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("string1");
        QTest::addColumn<QString>("string2");

        const QString ok = QStringLiteral("使用者按下確定鍵");
        const QString cancel = QStringLiteral("使用者按下取消鍵");
        QTest::newRow("OK returns both texts as typed")
            << " 0912 "
            << "North, pump " << StringEnd::Ok << ok << " 0912 "
            << "North, pump ";
        QTest::newRow("OK with both boxes empty") << ""
                                                  << "" << StringEnd::Ok << ok << ""
                                                  << "";
        QTest::newRow("Cancel after editing empties both")
            << "5678"
            << "South" << StringEnd::Cancel << cancel << ""
            << "";
        QTest::newRow("close button counts as Cancel")
            << "5678"
            << "South" << StringEnd::CloseButton << cancel << ""
            << "";
        QTest::newRow("Escape counts as Cancel") << "5678"
                                                 << "South" << StringEnd::Escape << cancel << ""
                                                 << "";
    }
    void endings()
    {
        QFETCH(QString, typed1);
        QFETCH(QString, typed2);
        QFETCH(StringEnd, end);
        QFETCH(QString, result);
        QFETCH(QString, string1);
        QFETCH(QString, string2);

        frmString &form = frmString::Instance();
        // Leftovers of an earlier call must not leak into this one.
        form.KeyInString1 = QStringLiteral("old1");
        form.KeyInString2 = QStringLiteral("old2");
        auto answer = AnswerStringForm(typed1, typed2, end);
        const QString got =
            form.KeyInString(QStringLiteral("T"), QStringLiteral("P1"), QStringLiteral("d1"),
                             QStringLiteral("P2"), QStringLiteral("d2"));
        QVERIFY(answer->answered);
        QCOMPARE(got, result);
        QCOMPARE(form.KeyInResult, result);
        QCOMPARE(form.KeyInString1, string1);
        QCOMPARE(form.KeyInString2, string2);
        QVERIFY(!form.isVisible());
    }

    void showsCallersTexts()
    {
        frmString &form = frmString::Instance();
        auto answer = AnswerStringForm(QString(), QString(), StringEnd::Cancel);
        form.KeyInString(QStringLiteral("Modify site phone number"),
                         QStringLiteral("phone number :"), QStringLiteral("5678"),
                         QStringLiteral("Description :"), QStringLiteral("North"));
        QVERIFY(answer->answered);
        QCOMPARE(answer->title, QStringLiteral("Modify site phone number"));
        QCOMPARE(answer->prompt1, QStringLiteral("phone number :"));
        QCOMPARE(answer->default1, QStringLiteral("5678"));
        QCOMPARE(answer->prompt2, QStringLiteral("Description :"));
        QCOMPARE(answer->default2, QStringLiteral("North"));
    }

    void oneInstanceHiddenNotDestroyed()
    {
        QPointer<frmString> first = &frmString::Instance();
        auto answer = AnswerStringForm(QStringLiteral("1"), QStringLiteral("2"), StringEnd::Ok);
        first->KeyInString(QStringLiteral("T"), QString(), QString(), QString(), QString());
        QVERIFY(answer->answered);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first);
        QCOMPARE(&frmString::Instance(), first.data());
        QCOMPARE(first->KeyInString1, QStringLiteral("1"));
        QCOMPARE(first->KeyInString2, QStringLiteral("2"));
    }
};

QTEST_MAIN(tst_frmString)
#include "tst_frmstring.moc"
