// The settings dialog clicked through on the offscreen platform: enable rules,
// Apply/OK/Cancel against the global state and the file read back, the sound
// file check, and the site phone map editor driven through frmString.

#include "boxrecorder.h"
#include "filehelpers.h"
#include "frmsettings.h"
#include "globals.h"
#include "outputpaths.h"
#include "settings.h"
#include "stringformdriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

using namespace quillet;
using namespace quillet::test;

namespace {

QString fileValue(const QString &section, const QString &key)
{
    return GetIniValue(section, key, QStringLiteral("<absent>"), ReadTextFile(G.SettingFile));
}

// The map lines of the written file, in order.
QStringList mapLines()
{
    QStringList out;
    const QStringList lines = ReadTextFile(G.SettingFile).split(QStringLiteral("\r\n"));
    for (const QString &line : lines)
        if (line.startsWith(QLatin1String("SitePhoneNumberMAP")) && line.contains('='))
            out << line;
    return out;
}

// "phone|description" for each list row.
QStringList rows(const QTreeWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0) + '|' + list->topLevelItem(i)->text(1);
    return out;
}

void setMap(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    G.SitePhoneNumberCount = 0;
    for (const auto &[phone, site] : entries)
        G.SitePhoneNumberMap[G.SitePhoneNumberCount++] =
            SiteEntry{QString::fromUtf8(phone), QString::fromUtf8(site)};
}

void selectRow(QTreeWidget *list, int row)
{
    list->clearSelection();
    if (row >= 0)
        list->topLevelItem(row)->setSelected(true);
}

} // namespace

class tst_frmSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;
    std::unique_ptr<frmSettings> m_form;

    frmSettings &open()
    {
        m_form = std::make_unique<frmSettings>();
        m_form->LoadFormObj();
        m_form->show();
        return *m_form;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_oldCwd = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        QFile wav(QStringLiteral("Notify.wav"));
        QVERIFY(wav.open(QIODevice::WriteOnly));
        QVERIFY(QDir().mkpath(QStringLiteral("sounds")));
    }
    void cleanupTestCase()
    {
        m_form.reset();
        QDir::setCurrent(m_oldCwd);
    }
    void init()
    {
        G = GlobalState{};
        G.SettingFile = m_dir.filePath(QStringLiteral("Quillet.set"));
        QFile::remove(G.SettingFile);
        G.LogFilePath = QStringLiteral("Logs/Quillet.log");
        G.IsSaveAsMDB = false;
        G.MDBFilePath = QStringLiteral("Logs/old.mdb");
        G.IsDeleteSMS = true;
        G.IsUseSoundAlert = false;
        G.SoundFilePath = QStringLiteral("Notify.wav");
        G.COMPORT = QStringLiteral("COM1");
        G.BAUDRATE = QStringLiteral("9600");
        G.DATABIT = QStringLiteral("8");
        G.PARITYBIT = QStringLiteral("None");
        G.STOPBIT = QStringLiteral("1");
        G.EnableSitePhoneNumberMap = true;
        setMap({{"5678", "North Pump Station"}, {"1234", "South Reservoir"}});
    }
    void cleanup()
    {
        m_form.reset();
        FlushStringAnswers();
    }

    void loadFillsControls()
    {
        G.IsSaveAsMDB = true;
        G.IsUseSoundAlert = true;
        G.IsIgnoreZoneIdentifier = true;
        G.IsGiveUpUnknownSitePhoneNumberSMS = true;
        G.BAUDRATE = QStringLiteral("19200");
        G.PARITYBIT = QStringLiteral("Even");
        frmSettings &f = open();
        QCOMPARE(f.txtLogFilePath->text(), QStringLiteral("Logs/Quillet.log"));
        QVERIFY(f.chkMDB->isChecked());
        QCOMPARE(f.txtMDBFilePath->text(), QStringLiteral("Logs/old.mdb"));
        QVERIFY(f.chkSoundAlert->isChecked());
        QCOMPARE(f.txtSoundAlertFilePath->text(), QStringLiteral("Notify.wav"));
        QVERIFY(f.chkIsIgnoreZone->isChecked());
        QCOMPARE(f.lblBaudRate->text(), QStringLiteral("19200"));
        QCOMPARE(f.lblDataBit->text(), QStringLiteral("8"));
        QCOMPARE(f.lblParityBit->text(), QStringLiteral("Even"));
        QCOMPARE(f.lblStopBit->text(), QStringLiteral("1"));
        QVERIFY(f.chkIsUseTelListMap->isChecked());
        QVERIFY(f.chkGiveUpMsg->isChecked());
        QCOMPARE(rows(f.lvTelList),
                 QStringList({"5678|North Pump Station", "1234|South Reservoir"}));
        QCOMPARE(f.lvTelList->topLevelItem(1)->data(0, Qt::UserRole).toString(),
                 QStringLiteral("TEL,1234"));
    }

    void portList_data()
    {
        QTest::addColumn<QString>("comport");
        QTest::addColumn<int>("index");
        QTest::newRow("listed port is selected") << "COM3" << 2;
        QTest::newRow("last numbered port") << "COM16" << 15;
        QTest::newRow("device path not in the list is kept as text")
            << "/dev/serial/by-id/usb-adapter" << -1;
    }
    void portList()
    {
        QFETCH(QString, comport);
        QFETCH(int, index);
        G.COMPORT = comport;
        frmSettings &f = open();
        QVERIFY(f.cmbCommPort->count() >= 16);
        QCOMPARE(f.cmbCommPort->itemText(0), QStringLiteral("COM1"));
        QCOMPARE(f.cmbCommPort->itemText(15), QStringLiteral("COM16"));
        QCOMPARE(f.cmbCommPort->currentText(), comport);
        if (index >= 0)
            QCOMPARE(f.cmbCommPort->currentIndex(), index);
        // Reloading does not pile up the list.
        const int count = f.cmbCommPort->count();
        f.LoadFormObj();
        QCOMPARE(f.cmbCommPort->count(), count);
    }

    void enableRules_data()
    {
        QTest::addColumn<QString>("box");
        QTest::newRow("database") << "chkMDB";
        QTest::newRow("sound") << "chkSoundAlert";
        QTest::newRow("map") << "chkIsUseTelListMap";
    }
    void enableRules()
    {
        QFETCH(QString, box);
        frmSettings &f = open();
        QCheckBox *check = nullptr;
        QList<QWidget *> dependents;
        if (box == QLatin1String("chkMDB")) {
            check = f.chkMDB;
            dependents = {f.Label1, f.txtMDBFilePath};
        } else if (box == QLatin1String("chkSoundAlert")) {
            check = f.chkSoundAlert;
            dependents = {f.Label3, f.Label5, f.txtSoundAlertFilePath};
        } else {
            check = f.chkIsUseTelListMap;
            dependents = {f.cmdAddTel, f.cmdModifyTel, f.cmdDeleteTel, f.chkGiveUpMsg};
        }
        auto expectAll = [&](bool enabled) {
            for (QWidget *w : dependents)
                QVERIFY2(w->isEnabled() == enabled, qPrintable(w->metaObject()->className()));
        };
        expectAll(check->isChecked());
        for (int i = 0; i < 2; ++i) {
            const bool was = check->isChecked();
            QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
            QCOMPARE(check->isChecked(), !was);
            expectAll(!was);
        }
        // Loading applies the rules too, whichever way the setting points.
        G.IsSaveAsMDB = G.IsUseSoundAlert = G.EnableSitePhoneNumberMap = true;
        f.LoadFormObj();
        expectAll(true);
        G.IsSaveAsMDB = G.IsUseSoundAlert = G.EnableSitePhoneNumberMap = false;
        f.LoadFormObj();
        expectAll(false);
        QVERIFY(f.lvTelList->isEnabled()); // the list stays viewable
    }

    void logBoxStaysTicked()
    {
        frmSettings &f = open();
        QVERIFY(f.chkOrvane->isChecked());
        QTest::mouseClick(f.chkOrvane, Qt::LeftButton, {}, QPoint(8, f.chkOrvane->height() / 2));
        QVERIFY(f.chkOrvane->isChecked());
        f.chkOrvane->setFocus();
        QTest::keyClick(f.chkOrvane, Qt::Key_Space);
        QVERIFY(f.chkOrvane->isChecked());
    }

    void applyKeepsOpenAndRewritesFile()
    {
        BoxRecorder boxes;
        frmSettings &f = open();
        f.txtLogFilePath->setText(QStringLiteral("  First/a.log "));
        QTest::mouseClick(f.cmdApply, Qt::LeftButton);
        QVERIFY(f.isVisible());
        QCOMPARE(G.LogFilePath, QStringLiteral("First/a.log"));
        QCOMPARE(f.txtLogFilePath->text(), QStringLiteral("First/a.log"));
        QCOMPARE(fileValue("BASIC", "LogFilePath"), QStringLiteral("First/a.log"));
        // Settings the dialog does not edit go back to the file unchanged.
        QCOMPARE(fileValue("BASIC", "IsDeleteSMS"), QStringLiteral("1"));

        f.txtLogFilePath->setText(QStringLiteral("Second/b.log"));
        f.chkIsIgnoreZone->setChecked(true);
        QTest::mouseClick(f.cmdApply, Qt::LeftButton);
        QVERIFY(f.isVisible());
        QCOMPARE(fileValue("BASIC", "LogFilePath"), QStringLiteral("Second/b.log"));
        QCOMPARE(fileValue("BASIC", "IsIgnoreZoneIdentifier"), QStringLiteral("1"));
        QCOMPARE(boxes.count(), 0);
    }

    void cancelKeepsAppliedChangesOnly()
    {
        frmSettings &f = open();
        f.txtLogFilePath->setText(QStringLiteral("Applied.log"));
        QTest::mouseClick(f.cmdApply, Qt::LeftButton);
        f.txtLogFilePath->setText(QStringLiteral("Dropped.log"));
        f.chkMDB->setChecked(true);
        f.txtMDBFilePath->setText(QStringLiteral("Dropped.mdb"));
        QTest::mouseClick(f.cmdCancel, Qt::LeftButton);
        QVERIFY(!f.isVisible());
        QCOMPARE(G.LogFilePath, QStringLiteral("Applied.log"));
        QVERIFY(!G.IsSaveAsMDB);
        QCOMPARE(fileValue("BASIC", "LogFilePath"), QStringLiteral("Applied.log"));
        QCOMPARE(fileValue("BASIC", "IsSaveAsMDB"), QStringLiteral("0"));
        f.LoadFormObj(); // the next opening starts from what was applied
        QCOMPARE(f.txtLogFilePath->text(), QStringLiteral("Applied.log"));
    }

    void okSavesAndCloses()
    {
        frmSettings &f = open();
        f.chkMDB->setChecked(true);
        f.txtMDBFilePath->setText(QStringLiteral(" Data/q.mdb "));
        f.chkSoundAlert->setChecked(true);
        f.txtSoundAlertFilePath->setText(QStringLiteral(" Notify.wav "));
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);
        QVERIFY(!f.isVisible());
        QCOMPARE(f.result(), int(QDialog::Accepted));
        QVERIFY(G.IsSaveAsMDB);
        QCOMPARE(G.MDBFilePath, QStringLiteral("Data/q.mdb"));
        QVERIFY(G.IsUseSoundAlert);
        QCOMPARE(G.SoundFilePath, QStringLiteral("Notify.wav"));
        QCOMPARE(fileValue("BASIC", "MDBFilePath"), QStringLiteral("Data/q.mdb"));
        QCOMPARE(fileValue("BASIC", "SoundFilePath"), QStringLiteral("Notify.wav"));
    }

    void switchedOffPathKeepsOldValue()
    {
        // Unticking the database keeps the path it had for the next time;
        // the box shows no path while it is off.
        G.IsSaveAsMDB = true;
        frmSettings &f = open();
        f.chkMDB->setChecked(false);
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);
        QVERIFY(!G.IsSaveAsMDB);
        QCOMPARE(G.MDBFilePath, QStringLiteral("Logs/old.mdb"));
        QCOMPARE(fileValue("BASIC", "MDBFilePath"), QStringLiteral("<absent>"));
        f.LoadFormObj();
        QVERIFY(f.txtMDBFilePath->text().isEmpty());
    }

    void soundFileCheck_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message"); // empty: accepted
        const QString full = QDir::current().absolutePath();
        QTest::newRow("empty") << "   "
                               << "Sound Alert file path cannot be empty!";
        QTest::newRow("missing") << " missing.wav "
                                 << "Sound Alert file path is not exist!\r\n"
                                    "Sound Alert file path = " +
                                        full + "/missing.wav";
        QTest::newRow("a folder is no file") << "sounds"
                                             << "Sound Alert file path is not exist!\r\n"
                                                "Sound Alert file path = " +
                                                    full + "/sounds";
        QTest::newRow("present, blanks round it") << "  Notify.wav  "
                                                  << "";
    }
    void soundFileCheck()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        for (int button = 0; button < 2; ++button) { // OK, then Apply
            init();
            BoxRecorder boxes;
            frmSettings &f = open();
            f.SSTab1->setCurrentIndex(2);
            f.chkSoundAlert->setChecked(true);
            f.txtSoundAlertFilePath->setText(typed);
            QTest::mouseClick(button == 0 ? f.cmdOK : f.cmdApply, Qt::LeftButton);
            QCOMPARE(f.txtSoundAlertFilePath->text(), typed.trimmed());
            if (message.isEmpty()) {
                QCOMPARE(boxes.count(), 0);
                QCOMPARE(G.SoundFilePath, typed.trimmed());
                QVERIFY(FileExists(G.SettingFile));
                continue;
            }
            QCOMPARE(boxes.count(), 1);
            QCOMPARE(boxes.last().title, QStringLiteral("Setting Error"));
            QCOMPARE(boxes.last().text, message);
            QCOMPARE(boxes.last().icon, BoxIcon::Critical);
            QVERIFY(f.isVisible());
            QVERIFY(!G.IsUseSoundAlert);
            QVERIFY(!FileExists(G.SettingFile));
            QCOMPARE(f.focusTarget.data(), f.txtSoundAlertFilePath);
            QCOMPARE(f.SSTab1->currentIndex(), 0); // the box is brought into view
        }
    }

    void soundOffSkipsCheck()
    {
        BoxRecorder boxes;
        frmSettings &f = open();
        f.txtSoundAlertFilePath->setText(QStringLiteral("missing.wav"));
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);
        QCOMPARE(boxes.count(), 0);
        QVERIFY(!f.isVisible());
        QCOMPARE(G.SoundFilePath, QStringLiteral("Notify.wav"));
    }

    void emptyLogPathSavesDefault()
    {
        frmSettings &f = open();
        f.txtLogFilePath->setText(QStringLiteral("   "));
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);
        QCOMPARE(G.LogFilePath, QStringLiteral("Quillet.log"));
        QCOMPARE(fileValue("BASIC", "LogFilePath"), QStringLiteral("Quillet.log"));
    }

    void portAndBaudRateFromControls_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("picked from the list") << "COM7"
                                              << "COM7";
        QTest::newRow("typed device path") << " /dev/ttyUSB0 "
                                           << "/dev/ttyUSB0";
        QTest::newRow("empty reads back as COM1") << ""
                                                  << "COM1";
    }
    void portAndBaudRateFromControls()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        frmSettings &f = open();
        f.cmbCommPort->setEditText(typed);
        f.lblBaudRate->setText(QStringLiteral("38400"));
        QTest::mouseClick(f.cmdApply, Qt::LeftButton);
        QCOMPARE(G.COMPORT, saved);
        QCOMPARE(G.BAUDRATE, QStringLiteral("38400"));
        QCOMPARE(fileValue("COMM", "COMPORT"), saved);
        QCOMPARE(fileValue("COMM", "BAUDRATE"), QStringLiteral("38400"));
        QCOMPARE(fileValue("COMM", "PARITYBIT"), QStringLiteral("None"));
    }

    void runningLoggerTakesNewLogPath()
    {
        // The next record re-checks the path because it no longer matches the
        // one checked last; the new folder is made then.
        G.LastLogFileFullPath = G.LogFileFullPath = G.LogFilePath;
        frmSettings &f = open();
        f.txtLogFilePath->setText(QStringLiteral("Moved/here.log"));
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);
        QVERIFY(CheckLogFilePath(false));
        QCOMPARE(G.LogFileFullPath, QStringLiteral("Moved/here.log"));
        QVERIFY(FileExists(QStringLiteral("Moved/here.log")));
    }

    void unwritableFileIsReported()
    {
        BoxRecorder boxes;
        G.SettingFile = m_dir.filePath(QStringLiteral("no-such-folder/Quillet.set"));
        frmSettings &f = open();
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QStringLiteral("Setting Error"));
        QVERIFY(boxes.last().text.contains(QStringLiteral("no-such-folder/Quillet.set")));
        QVERIFY(f.isVisible()); // not reported as saved
    }

    void mapEditor_data()
    {
        QTest::addColumn<QString>("action"); // add, modify
        QTest::addColumn<int>("row");        // selected row for modify
        QTest::addColumn<QString>("phone");
        QTest::addColumn<QString>("description");
        QTest::addColumn<StringEnd>("end");
        QTest::addColumn<QString>("box"); // expected box text, empty for none
        QTest::addColumn<QStringList>("expected");

        const QString dup = QStringLiteral(
            "The same site phone number has already been defined in the site phone number Map.");
        const QString blank = QStringLiteral("Site phone number can not be blank.");
        const QStringList before{"5678|North Pump Station", "1234|South Reservoir"};

        QTest::newRow("add new") << "add" << -1 << "0912"
                                 << "East" << StringEnd::Ok << ""
                                 << before + QStringList{"0912|East"};
        QTest::newRow("add keeps texts as typed")
            << "add" << -1 << " 0912 "
            << " East " << StringEnd::Ok << "" << before + QStringList{" 0912 | East "};
        QTest::newRow("add duplicate") << "add" << -1 << "1234"
                                       << "x" << StringEnd::Ok << dup << before;
        QTest::newRow("add duplicate with blanks round it")
            << "add" << -1 << " 1234 "
            << "x" << StringEnd::Ok << dup << before;
        QTest::newRow("add blank") << "add" << -1 << "   "
                                   << "x" << StringEnd::Ok << blank << before;
        QTest::newRow("add empty") << "add" << -1 << ""
                                   << "" << StringEnd::Ok << blank << before;
        QTest::newRow("add with a comma")
            << "add" << -1 << "12,34"
            << "x" << StringEnd::Ok << "Site phone number can not contain a comma." << before;
        QTest::newRow("add cancelled") << "add" << -1 << "0912"
                                       << "East" << StringEnd::Cancel << "" << before;
        QTest::newRow("add closed with the close button")
            << "add" << -1 << "0912"
            << "East" << StringEnd::CloseButton << "" << before;
        QTest::newRow("modify keeping its own number")
            << "modify" << 1 << "1234"
            << "South Dam" << StringEnd::Ok << ""
            << QStringList{"5678|North Pump Station", "1234|South Dam"};
        QTest::newRow("modify to a new number")
            << "modify" << 0 << "8765"
            << "North" << StringEnd::Ok << "" << QStringList{"8765|North", "1234|South Reservoir"};
        QTest::newRow("modify to another row's number") << "modify" << 0 << "1234"
                                                        << "x" << StringEnd::Ok << dup << before;
        QTest::newRow("modify to blank") << "modify" << 0 << " "
                                         << "x" << StringEnd::Ok << blank << before;
        QTest::newRow("modify cancelled") << "modify" << 0 << "9999"
                                          << "x" << StringEnd::Cancel << "" << before;
    }
    void mapEditor()
    {
        QFETCH(QString, action);
        QFETCH(int, row);
        QFETCH(QString, phone);
        QFETCH(QString, description);
        QFETCH(StringEnd, end);
        QFETCH(QString, box);
        QFETCH(QStringList, expected);

        BoxRecorder boxes;
        frmSettings &f = open();
        f.SSTab1->setCurrentIndex(2);
        const QStringList initial = rows(f.lvTelList);
        auto answer = AnswerStringForm(phone, description, end);
        if (action == QLatin1String("add")) {
            QTest::mouseClick(f.cmdAddTel, Qt::LeftButton);
        } else {
            selectRow(f.lvTelList, row);
            QTest::mouseClick(f.cmdModifyTel, Qt::LeftButton);
        }
        QVERIFY(answer->answered);
        if (action == QLatin1String("add")) {
            QCOMPARE(answer->title, QStringLiteral("New site phone number"));
            QCOMPARE(answer->prompt1, QStringLiteral("Phone numer :"));
            QCOMPARE(answer->default1, QString());
        } else {
            QCOMPARE(answer->title, QStringLiteral("Modify site phone number"));
            QCOMPARE(answer->prompt1, QStringLiteral("phone number :"));
            QCOMPARE(answer->default1 + '|' + answer->default2, initial.at(row));
        }
        QCOMPARE(answer->prompt2, QStringLiteral("Description :"));
        if (box.isEmpty()) {
            QCOMPARE(boxes.count(), 0);
        } else {
            QCOMPARE(boxes.count(), 1);
            QCOMPARE(boxes.last().title, QStringLiteral("Error site phone number"));
            QCOMPARE(boxes.last().text, box);
            QCOMPARE(boxes.last().icon, BoxIcon::Critical);
        }
        QCOMPARE(rows(f.lvTelList), expected);
        for (int i = 0; i < f.lvTelList->topLevelItemCount(); ++i)
            QCOMPARE(f.lvTelList->topLevelItem(i)->data(0, Qt::UserRole).toString(),
                     QStringLiteral("TEL,") + f.lvTelList->topLevelItem(i)->text(0));

        // What the list holds is what the file gets, trimmed.
        QTest::mouseClick(f.cmdApply, Qt::LeftButton);
        QCOMPARE(G.SitePhoneNumberCount, expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const QStringList parts = expected.at(i).split('|');
            QCOMPARE(mapLines().value(i), QStringLiteral("SitePhoneNumberMAP%1=%2,%3")
                                              .arg(i + 1)
                                              .arg(parts.at(0).trimmed(), parts.at(1).trimmed()));
        }
    }

    void modifyAndDeleteNeedASelection()
    {
        BoxRecorder boxes;
        frmSettings &f = open();
        selectRow(f.lvTelList, -1);
        auto answer = AnswerStringForm(QStringLiteral("1"), QStringLiteral("2"), StringEnd::Ok);
        QTest::mouseClick(f.cmdModifyTel, Qt::LeftButton);
        QTest::mouseClick(f.cmdDeleteTel, Qt::LeftButton);
        FlushStringAnswers();
        QVERIFY(!answer->answered);
        QCOMPARE(f.lvTelList->topLevelItemCount(), 2);
        QCOMPARE(boxes.count(), 0);
    }

    void deleteRemovesAtOnce()
    {
        BoxRecorder boxes;
        frmSettings &f = open();
        selectRow(f.lvTelList, 0);
        QTest::mouseClick(f.cmdDeleteTel, Qt::LeftButton);
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(rows(f.lvTelList), QStringList{"1234|South Reservoir"});
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);
        QCOMPARE(mapLines(), QStringList{"SitePhoneNumberMAP1=1234,South Reservoir"});
    }

    void doubleClickModifies()
    {
        frmSettings &f = open();
        f.SSTab1->setCurrentIndex(2);
        QTreeWidgetItem *item = f.lvTelList->topLevelItem(0);
        selectRow(f.lvTelList, 0);
        QCoreApplication::processEvents(); // lay the tab out
        const QPoint at = f.lvTelList->visualItemRect(item).center();
        auto answer =
            AnswerStringForm(QStringLiteral("5678"), QStringLiteral("Renamed"), StringEnd::Ok);
        // The view takes a double click as the second press of a pair.
        QTest::mouseClick(f.lvTelList->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(f.lvTelList->viewport(), Qt::LeftButton, {}, at);
        QVERIFY(answer->answered);
        QCOMPARE(answer->title, QStringLiteral("Modify site phone number"));
        QCOMPARE(rows(f.lvTelList).first(), QStringLiteral("5678|Renamed"));

        // With the map off the rows are for viewing only.
        f.chkIsUseTelListMap->setChecked(false);
        auto ignored = AnswerStringForm(QStringLiteral("1"), QStringLiteral("2"), StringEnd::Ok);
        QTest::mouseClick(f.lvTelList->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(f.lvTelList->viewport(), Qt::LeftButton, {}, at);
        FlushStringAnswers();
        QVERIFY(!ignored->answered);
        QCOMPARE(rows(f.lvTelList).first(), QStringLiteral("5678|Renamed"));
    }

    void mapTurnedOffKeepsEntries()
    {
        G.IsGiveUpUnknownSitePhoneNumberSMS = true;
        frmSettings &f = open();
        f.chkIsUseTelListMap->setChecked(false);
        // Shown greyed, still there.
        QCOMPARE(f.lvTelList->topLevelItemCount(), 2);
        QVERIFY(!(f.lvTelList->topLevelItem(0)->flags() & Qt::ItemIsEnabled));
        f.chkGiveUpMsg->setChecked(false); // disabled box: its value is not taken
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);

        QVERIFY(!G.EnableSitePhoneNumberMap);
        QVERIFY(G.IsGiveUpUnknownSitePhoneNumberSMS);
        QCOMPARE(G.SitePhoneNumberCount, 2);
        QCOMPARE(fileValue("SitePhoneNumberMAP", "EnableSitePhoneNumberMap"), QStringLiteral("0"));
        QCOMPARE(mapLines(), QStringList({"SitePhoneNumberMAP1=5678,North Pump Station",
                                          "SitePhoneNumberMAP2=1234,South Reservoir"}));

        // Reading the file back and reopening shows the entries, greyed.
        G = GlobalState{};
        G.SettingFile = m_dir.filePath(QStringLiteral("Quillet.set"));
        QVERIFY(LoadSettings());
        frmSettings &again = open();
        QVERIFY(!again.chkIsUseTelListMap->isChecked());
        QCOMPARE(rows(again.lvTelList),
                 QStringList({"5678|North Pump Station", "1234|South Reservoir"}));
        QVERIFY(!(again.lvTelList->topLevelItem(1)->flags() & Qt::ItemIsEnabled));

        // Ticking it again makes them usable.
        again.chkIsUseTelListMap->setChecked(true);
        QVERIFY(again.lvTelList->topLevelItem(1)->flags() & Qt::ItemIsEnabled);
    }

    void fullMapRefusesAnotherEntry()
    {
        G.SitePhoneNumberCount = 0;
        for (int i = 0; i < frmSettings::MaxSiteEntries; ++i)
            G.SitePhoneNumberMap[G.SitePhoneNumberCount++] =
                SiteEntry{QString::number(1000 + i), QStringLiteral("Site %1").arg(i)};
        BoxRecorder boxes;
        frmSettings &f = open();
        auto answer = AnswerStringForm(QStringLiteral("99"), QStringLiteral("x"), StringEnd::Ok);
        QTest::mouseClick(f.cmdAddTel, Qt::LeftButton);
        FlushStringAnswers();
        QVERIFY(!answer->answered); // refused before asking
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QStringLiteral("Error site phone number"));
        QVERIFY(boxes.last().text.contains(QStringLiteral("255")));
        QCOMPARE(f.lvTelList->topLevelItemCount(), frmSettings::MaxSiteEntries);

        // Every entry survives the file.
        QTest::mouseClick(f.cmdOK, Qt::LeftButton);
        G = GlobalState{};
        G.SettingFile = m_dir.filePath(QStringLiteral("Quillet.set"));
        QVERIFY(LoadSettings());
        QCOMPARE(int(G.SitePhoneNumberCount), frmSettings::MaxSiteEntries);
        QCOMPARE(G.SitePhoneNumberMap[254].PhoneNo, QStringLiteral("1254"));
    }
};

QTEST_MAIN(tst_frmSettings)
#include "tst_frmsettings.moc"
