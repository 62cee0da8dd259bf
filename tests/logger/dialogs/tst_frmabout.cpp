// The About box: caption, version text, and the serial number read from the
// device only when the driver is free.

#include "boxrecorder.h"
#include "driverrig.h"
#include "frmabout.h"
#include "globals.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

using namespace quillet;
using namespace quillet::test;

class tst_frmAbout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setApplicationName(QStringLiteral("Quillet"));
        QApplication::setApplicationVersion(QStringLiteral("1.2.7"));
        G = GlobalState{};
    }

    void versionText_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expected");
        QTest::newRow("three parts") << "1.2.7"
                                     << "Version 1.2.7";
        QTest::newRow("missing revision") << "3.4"
                                          << "Version 3.4.0";
        QTest::newRow("fourth number dropped") << "2.10.3.4"
                                               << "Version 2.10.3";
        QTest::newRow("no leading zeros") << "01.002.0030"
                                          << "Version 1.2.30";
    }
    void versionText()
    {
        QFETCH(QString, version);
        QFETCH(QString, expected);
        QCOMPARE(frmAbout::VersionText(version), expected);
    }

    void noDeviceStillShowsTitleAndVersion()
    {
        BoxRecorder boxes;
        QPointer<frmAbout> about = new frmAbout;
        QCOMPARE(about->windowTitle(), QStringLiteral("About Quillet"));
        QCOMPARE(about->lblTitle->text(), QStringLiteral("Quillet"));
        QCOMPARE(about->lblVersion->text(), QStringLiteral("Version 1.2.7"));
        QCOMPARE(about->lblSN->text(), QStringLiteral("S/N: "));
        QCOMPARE(boxes.count(), 0);
        about->show();
        QTest::mouseClick(about->cmdOK, Qt::LeftButton);
        QVERIFY(!about->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!about); // unloaded by OK
    }

    void serialNumber_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::addColumn<bool>("polling");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("plainModem");
        QTest::newRow("device answers")
            << true << false << "S/N: 70-81-5E6F-3C4D1A-2B" << 1 << false;
        // Silent device: the first try and CommRetry (3) more.
        QTest::newRow("device silent") << false << false << "S/N: " << 4 << false;
        QTest::newRow("during a poll nothing is sent") << true << true << "S/N: " << 0 << false;
        // A plain modem has no serial number, and is asked for none.
        QTest::newRow("plain modem") << true << false << "S/N: " << 0 << true;
    }
    void serialNumber()
    {
        QFETCH(bool, answers);
        QFETCH(bool, polling);
        QFETCH(QString, expected);
        QFETCH(int, requests);
        QFETCH(bool, plainModem);

        BoxRecorder boxes;
        DriverRig rig;
        if (plainModem) {
            rig.dev->direct = true;
            rig.dev->script("AT+CMEE=1\r", "\r\nOK\r\n");
            rig.sms->setLinkMode(LinkMode::Modem);
            QVERIFY(
                rig.sms->Initialize(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("9600,N,8,1")));
        }
        const qsizetype writes = rig.dev->written.size();
        rig.dev->answerRegisters = answers;
        rig.dev->registers[2] = 0x1A2B;
        rig.dev->registers[3] = 0x3C4D;
        rig.dev->registers[4] = 0x5E6F;
        rig.dev->registers[5] = 0x7081;
        const int before = rig.dev->registerReads;
        QCOMPARE(frmAbout::SerialNumberText(rig.sms.get(), polling), expected);
        QCOMPARE(rig.dev->registerReads - before, requests);
        if (plainModem)
            QCOMPARE(rig.dev->written.size(), writes);
    }
};

QTEST_MAIN(tst_frmAbout)
#include "tst_frmabout.moc"
