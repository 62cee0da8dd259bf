// The central database in-process, against a private PostgreSQL server:
// the URI taken apart as libpq itself reads it, the outbox drained in order
// and once, hostile servers (each reported in the trace and the status bar
// while the rows wait, then fixed and the rows sent), the end of the program
// while the server no longer answers, and the settings dialog's Test.

#include "alarms.h"
#include "boxrecorder.h"
#include "centralsender.h"
#include "centraluri.h"
#include "database.h"
#include "debuglog.h"
#include "frmsettings.h"
#include "globals.h"
#include "hostservices.h"
#include "journal.h"
#include "mainwindow.h"
#include "outbox.h"
#include "outputpaths.h"
#include "pgserver.h"
#include "pipeline.h"
#include "receivedstore.h"
#include "testfiles.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>
#include <libpq-fe.h>
#include <memory>

using namespace quillet;
using quillet::test::BoxRecorder;
using quillet::test::PgServer;
using quillet::test::TempWorkingFolder;

namespace {

// libpq's own reading of a connection string or URI: keyword -> value.
QMap<QString, QString> libpqReads(const QString &conninfo)
{
    QMap<QString, QString> values;
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (!options) {
        values.insert(QStringLiteral("(error)"), QString::fromUtf8(error));
        PQfreemem(error);
        return values;
    }
    for (PQconninfoOption *o = options; o->keyword; ++o)
        if (o->val)
            values.insert(QString::fromUtf8(o->keyword), QString::fromUtf8(o->val));
    PQconninfoFree(options);
    return values;
}

QDateTime stamp(int n)
{
    return QDateTime(QDate(2024, 3, 7), QTime(0, 0).addSecs(n), Qt::UTC);
}

} // namespace

class tst_Central : public QObject
{
    Q_OBJECT

    PgServer m_server;
    std::unique_ptr<TempWorkingFolder> m_folder;
    QStringList m_trace;
    int m_databases = 0;
    std::unique_ptr<AlarmPipeline> m_pipeline;

    // A fresh database owned by `owner` (quillet: it may create the table).
    QString freshDatabase(const QString &owner = QStringLiteral("quillet"))
    {
        const QString db = QStringLiteral("t%1").arg(++m_databases);
        if (!m_server.createDatabase(db, owner))
            qWarning("%s", qPrintable(m_server.error()));
        return db;
    }
    void useCentral(const QString &uri)
    {
        G.IsSaveAsMDB = true;
        G.MDBFilePath = uri;
        QVERIFY(CheckMDBFilePath(false));
    }
    // Alarm n through the whole commit path: log line, outbox row.
    void record(int n, const QString &text)
    {
        const QString phone = QStringLiteral("+88691234%1").arg(n % 10);
        const AlarmOutcome outcome = m_pipeline->ProcessAlarmSMS(
            ReceivedStore::Key(qint16(n), stamp(n), phone, text), stamp(n), phone, text);
        QCOMPARE(outcome, AlarmOutcome::Recorded);
    }
    int rowCount(const QString &db)
    {
        const QStringList r = m_server.rows(QStringLiteral("SELECT count(*) FROM tarrow"), db);
        return r.size() == 1 ? r.first().toInt() : -1;
    }
    void traceToList()
    {
        SetTraceHandler([this](const QString &line) { m_trace << line; });
    }
    int outboxCount() { return int(CountOutboxRows(OutboxGuiConnection())); }
    int logRecords() { return int(test::ReadFileBytes(QStringLiteral("Quillet.log")).count('\n')); }

private slots:
    void initTestCase()
    {
        if (PgServer::BinDir().isEmpty())
            QSKIP("the PostgreSQL server binaries (postgresql-15) are not installed");
        qputenv("QUILLET_CENTRAL_RETRY_MS", "20");
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    }
    void init()
    {
        traceToList();
        m_folder = std::make_unique<TempWorkingFolder>();
        G = GlobalState{};
        G.LogFilePath = QStringLiteral("Quillet.log");
        G.LoggerName = QStringLiteral("north");
        m_pipeline = std::make_unique<AlarmPipeline>();
        m_pipeline->LoadReceivedStore();
        m_trace.clear();
    }
    void cleanup()
    {
        StopCentralSender();
        m_pipeline.reset();
        m_folder.reset();
    }

    // Every URI the issue names, and the faults an operator may type. A URI
    // taken apart must mean to libpq exactly what the URI itself means.
    void uriParsing_data()
    {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("error"); // empty: good, else a part of the message
        QTest::newRow("socket folder") << "postgresql://quillet@/alarms?host=/run/postgresql"
                                       << "";
        QTest::newRow("host, port, ssl")
            << "postgresql://quillet@db.example:6432/alarms?sslmode=require"
            << "";
        QTest::newRow("two hosts, IPv6") << "postgresql://[::1]:5433,db2.example/alarms"
                                         << "";
        QTest::newRow("escaped socket") << "postgresql://%2Fvar%2Frun%2Fpg/al%20arms"
                                        << "";
        QTest::newRow("quote in a value")
            << "postgres://q@h/a?application_name=o%27brien%5Cx&connect_timeout=3"
            << "";
        QTest::newRow("password in the user part") << "postgresql://quillet:secret@db/alarms"
                                                   << "password";
        QTest::newRow("password in the query") << "postgresql://db/alarms?password=x"
                                               << "password";
        QTest::newRow("bad port") << "postgresql://db:54x/alarms"
                                  << "port \"54x\"";
        QTest::newRow("port 0") << "postgresql://db:0/alarms"
                                << "port \"0\"";
        QTest::newRow("bad escape") << "postgresql://db/al%2"
                                    << "%-escape";
        QTest::newRow("no value") << "postgresql://db/alarms?sslmode"
                                  << "key=value";
        QTest::newRow("semicolon") << "postgresql://db/alarms?application_name=a;b"
                                   << "';'";
        QTest::newRow("open bracket") << "postgresql://[::1/alarms"
                                      << "']'";
        QTest::newRow("blank") << "postgresql://db/my alarms"
                               << "blank";
    }
    void uriParsing()
    {
        QFETCH(QString, uri);
        QFETCH(QString, error);
        QVERIFY(IsCentralURI(uri));
        CentralTarget target;
        QString why;
        const bool ok = ParseCentralURI(uri, target, why);
        if (!error.isEmpty()) {
            QVERIFY2(!ok && why.contains(error), qPrintable(why));
            return;
        }
        QVERIFY2(ok, qPrintable(why));
        const auto theirs = libpqReads(uri);
        const auto ours = libpqReads(target.connectOptions());
        QVERIFY2(!ours.contains(QStringLiteral("(error)")), qPrintable(target.connectOptions()));
        for (auto it = theirs.cbegin(); it != theirs.cend(); ++it)
            QCOMPARE(ours.value(it.key()), it.value());
        // A dead network must not hold a connect for libpq's unbounded default.
        QVERIFY(!ours.value(QStringLiteral("connect_timeout")).isEmpty());
        QVERIFY(!IsCentralURI(QStringLiteral("/var/lib/quillet/Quillet.mdb")));
    }

    // 1,234 alarms (a batch and a part) with awkward texts: every one
    // on the server once, in the order recorded, the table and its key made
    // at the first connection; a message seen again, waiting or already
    // sent, adds nothing.
    void drainsInOrderOnce()
    {
        const QString db = freshDatabase();
        useCentral(m_server.uri(db));
        const QStringList awkward{
            QStringLiteral("it's; DROP TABLE tarrow; --"), QStringLiteral("\"quoted\" \\ back"),
            QStringLiteral("東區配水池 水位"), QString::fromUtf8("nul\0here", 8),
            QString(3000, QLatin1Char('L'))};
        constexpr int injected = 1234;
        for (int n = 0; n < injected; ++n)
            record(n, n < awkward.size() ? awkward.at(n) : QStringLiteral("Alarm %1").arg(n));
        for (int n = 0; n < 5; ++n) // still waiting or sent: seen again after a crash
            QVERIFY(AppendAlarmToOutbox(MDBDateText(stamp(n)), QStringLiteral("+88691234%1").arg(n),
                                        awkward.at(n)));
        QTRY_COMPARE_WITH_TIMEOUT(outboxCount(), 0, 20000);
        QCOMPARE(rowCount(db), injected);
        QCOMPARE(logRecords(), injected);
        QTRY_COMPARE_WITH_TIMEOUT(CentralStatusText(), QString(), 5000); // its last report

        const QStringList rows = m_server.rows(
            QStringLiteral("SELECT AlarmMessage, logger, Date, received_at > now() - interval "
                           "'5 minutes' FROM tarrow ORDER BY id"),
            db);
        QCOMPARE(rows.size(), injected);
        for (int n = 0; n < injected; ++n) {
            QString text = n < awkward.size() ? awkward.at(n) : QStringLiteral("Alarm %1").arg(n);
            text.replace(QChar(0), QChar(0x2400));
            QCOMPARE(rows.at(n), text + QStringLiteral("|north|") + MDBDateText(stamp(n)) +
                                     QStringLiteral("|true"));
        }
        QCOMPARE(m_server
                     .rows(QStringLiteral("SELECT indexdef FROM pg_indexes WHERE indexname = "
                                          "'tarrow_alarm_key'"),
                           db)
                     .size(),
                 1);
        // Sent already, seen again: sent again and dropped by the server.
        QVERIFY(AppendAlarmToOutbox(MDBDateText(stamp(7)), QStringLiteral("+886912347"),
                                    QStringLiteral("Alarm 7")));
        QTRY_COMPARE_WITH_TIMEOUT(outboxCount(), 0, 5000);
        QCOMPARE(rowCount(db), injected);
    }

    // Each fault: a clear word in the status bar and the whole message in
    // the trace, the log written, the rows kept, retries with a growing wait;
    // then the fault mended and the rows sent, once.
    void hostileServers_data()
    {
        QTest::addColumn<QString>("uri");     // %1 the database, %2 the socket folder
        QTest::addColumn<QString>("owner");   // of the database
        QTest::addColumn<QString>("setup");   // run as the superuser
        QTest::addColumn<QString>("reason");  // shown in the status bar
        QTest::addColumn<QString>("detail");  // in the trace
        QTest::addColumn<QString>("mendSql"); // or, when empty, the right URI
        const QString table = CentralSchemaSql();
        QTest::newRow("malformed URI") << "postgresql://quillet:pw@/%1?host=%2"
                                       << "quillet"
                                       << ""
                                       << "malformed URI"
                                       << "the URI holds a password"
                                       << "";
        QTest::newRow("unknown host") << "postgresql://quillet@nohost.invalid/%1?connect_timeout=2"
                                      << "quillet"
                                      << ""
                                      << "unknown host"
                                      << "could not translate host name"
                                      << "";
        QTest::newRow("no server on the socket") << "postgresql://quillet@/%1?host=%2/nothere"
                                                 << "quillet"
                                                 << ""
                                                 << "server unreachable"
                                                 << "No such file or directory"
                                                 << "";
        QTest::newRow("unknown login")
            << "postgresql://ghost@/%1?host=%2"
            << "quillet"
            << ""
            << "login refused"
            << "role \"ghost\" does not exist"
            << "CREATE ROLE ghost LOGIN; ALTER DATABASE %1 OWNER TO ghost";
        QTest::newRow("password, no password file") << "postgresql://pwuser@/%1?host=%2"
                                                    << "pwuser"
                                                    << ""
                                                    << "login refused"
                                                    << "no password supplied"
                                                    << "PGPASSFILE";
        QTest::newRow("no insert privilege")
            << "postgresql://quillet@/%1?host=%2"
            << "postgres" << table + "; GRANT SELECT ON tarrow TO quillet"
            << "no privilege"
            << "permission denied for table tarrow"
            << "GRANT INSERT ON tarrow TO quillet; GRANT USAGE ON SEQUENCE tarrow_id_seq TO "
               "quillet";
        QTest::newRow("no table, may not create it")
            << "postgresql://quillet@/%1?host=%2"
            << "postgres"
            << ""
            << "no privilege"
            << "permission denied for schema public"
            << table + "; GRANT SELECT, INSERT ON tarrow TO quillet; "
                       "GRANT USAGE ON SEQUENCE tarrow_id_seq TO quillet";
    }
    void hostileServers()
    {
        QFETCH(QString, uri);
        QFETCH(QString, owner);
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        QFETCH(QString, detail);
        QFETCH(QString, mendSql);
        qunsetenv("PGPASSFILE");
        const QString db = freshDatabase(owner);
        if (!setup.isEmpty())
            QVERIFY2(m_server.exec(setup, db), qPrintable(m_server.error()));
        frmMain window;
        window.attach(*m_pipeline);
        QList<QByteArray> journal;
        quillet::app::Journal journalist;
        journalist.setSink([&journal](const QByteArray &line) { journal << line; });
        journalist.attach(*m_pipeline);
        useCentral(QString(uri)
                       .replace(QStringLiteral("%1"), db)
                       .replace(QStringLiteral("%2"), m_server.socketDir()));

        constexpr int injected = 3;
        for (int n = 0; n < injected; ++n)
            record(n, QStringLiteral("Alarm %1").arg(n));
        QCOMPARE(logRecords(), injected);
        QTRY_COMPARE_WITH_TIMEOUT(CentralStatusText(), QStringLiteral("3 waiting!"), 10000);
        QCOMPARE(window.statusPanelText(QStringLiteral("Action")),
                 QStringLiteral("SMS count : 3, 3 waiting!"));
        const QString why = CentralStatusDetail();
        QVERIFY2(why.startsWith(QStringLiteral("3 rows wait for the central database: ") + reason +
                                QStringLiteral(" (")) &&
                     why.contains(detail),
                 qPrintable(why));
        // Retries with a growing wait, never in a busy loop.
        static const QRegularExpression retry(QStringLiteral("retry in (\\d+) ms$"));
        QList<int> waits;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                waits.clear();
                for (const QString &line : std::as_const(m_trace)) {
                    const auto m = retry.match(line);
                    if (m.hasMatch() && line.contains(detail) && line.contains(reason))
                        waits << m.captured(1).toInt();
                }
                return waits.size() >= 4;
            }(),
            10000);
        for (qsizetype i = 1; i < waits.size(); ++i)
            QCOMPARE(waits.at(i), qMin(2 * waits.at(i - 1), 30 * CentralRetryMs()));
        QCOMPARE(outboxCount(), injected);
        QCOMPARE(logRecords(), injected);

        if (mendSql == QLatin1String("PGPASSFILE")) {
            QFile pass(m_folder->filePath(QStringLiteral("pgpass")));
            QVERIFY(pass.open(QIODevice::WriteOnly));
            pass.write("*:*:*:pwuser:pw-secret\n");
            pass.close();
            pass.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
            qputenv("PGPASSFILE", QFile::encodeName(pass.fileName()));
        } else if (!mendSql.isEmpty()) {
            QVERIFY2(m_server.exec(QString(mendSql).replace(QStringLiteral("%1"), db), db),
                     qPrintable(m_server.error()));
        } else {
            useCentral(m_server.uri(db));
        }
        QTRY_COMPARE_WITH_TIMEOUT(outboxCount(), 0, 10000);
        QCOMPARE(rowCount(db), injected);
        QTRY_COMPARE_WITH_TIMEOUT(CentralStatusText(), QString(), 5000);
        QCOMPARE(window.statusPanelText(QStringLiteral("Action")),
                 QStringLiteral("SMS count : %1").arg(injected));
        qunsetenv("PGPASSFILE");
        // The journal: why, once while the rows waited, and that it is over.
        QVERIFY2(journal.size() >= 2 &&
                     journal.first().startsWith("<4>Quillet: Central database: " + reason.toUtf8() +
                                                " (") &&
                     journal.last() == "<6>Quillet: Central database: sending again\n" &&
                     journal.count(journal.last()) == 1,
                 journal.join().constData());
    }

    // The sender's reports reach dbg.log in the order it made them, also
    // when they queued up while the window was busy: the trace's writer lets
    // events through, and the next report may run among them.
    void traceKeepsTheSendersOrder()
    {
        G.IsDebugMode = true;
        G.SettingFile = m_folder->filePath(QStringLiteral("Quillet.set"));
        InstallDebugTrace();
        useCentral(
            QStringLiteral("postgresql://quillet@/t?host=%1/nothere").arg(m_server.socketDir()));
        record(0, QStringLiteral("Alarm 0"));
        // Ahead of the reports, an event that posts another, as the window's
        // own work does: events are let through again inside the first report.
        QMetaObject::invokeMethod(
            qApp,
            [] {
                QMetaObject::invokeMethod(
                    qApp, [] {}, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        QThread::msleep(40 * CentralRetryMs()); // six tries or so queue their reports
        static const QRegularExpression retry(QStringLiteral("retry in (\\d+) ms"));
        QList<int> waits;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                waits.clear();
                auto it = retry.globalMatch(
                    QString::fromUtf8(test::ReadFileBytes(QStringLiteral("dbg.log"))));
                while (it.hasNext())
                    waits << it.next().captured(1).toInt();
                return waits.size() >= 6;
            }(),
            10000);
        QCOMPARE(waits.first(), CentralRetryMs());
        for (qsizetype i = 1; i < waits.size(); ++i)
            QCOMPARE(waits.at(i), qMin(2 * waits.at(i - 1), 30 * CentralRetryMs()));
    }

    // The end of the program while the server stops answering in the middle
    // of a batch: the end is not held up, the batch stays in the outbox, and
    // the next start sends it, once.
    void endWhileTheServerHangs()
    {
        const QString db = freshDatabase();
        useCentral(m_server.uri(db));
        record(0, QStringLiteral("before"));
        QTRY_COMPARE_WITH_TIMEOUT(rowCount(db), 1, 5000);
        m_server.pause(true);
        for (int n = 1; n <= 20; ++n)
            record(n, QStringLiteral("Alarm %1").arg(n));
        QTest::qWait(100); // the batch is on its way
        QElapsedTimer clock;
        clock.start();
        const bool stopped = StopCentralSender(300);
        const qint64 took = clock.elapsed();
        m_server.pause(false);
        QVERIFY(stopped);
        QVERIFY2(took < 1500, QByteArray::number(took));
        QString error;
        QVERIFY(OpenOutbox(QStringLiteral("check"), OutboxPath(), error));
        QCOMPARE(CountOutboxRows(QStringLiteral("check")), 20);
        CloseOutbox(QStringLiteral("check"));

        G.LastMDBFileFullPath.clear();
        useCentral(m_server.uri(db));
        QTRY_COMPARE_WITH_TIMEOUT(outboxCount(), 0, 10000);
        QCOMPARE(rowCount(db), 21);
    }

    // Test in the settings dialog: the server's answer in a box, and the
    // dialog keeps working while a server that does not answer is tried.
    void settingsDialogTest_data()
    {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<bool>("hang");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("icon");
        QTest::newRow("good") << "postgresql://quillet@/%1?host=%2" << false
                              << "Table tarrow is not there yet; it is created at the first "
                                 "connection."
                              << int(BoxIcon::Information);
        QTest::newRow("unknown login") << "postgresql://ghost2@/%1?host=%2" << false
                                       << "Cannot connect to ghost2@" << int(BoxIcon::Critical);
        QTest::newRow("server does not answer")
            << "postgresql://quillet@/%1?host=%2&connect_timeout=2" << true << "timeout expired"
            << int(BoxIcon::Critical);
    }
    void settingsDialogTest()
    {
        QFETCH(QString, uri);
        QFETCH(bool, hang);
        QFETCH(QString, answer);
        QFETCH(int, icon);
        BoxRecorder boxes;
        const QString db = freshDatabase();
        frmSettings dialog;
        dialog.LoadFormObj();
        dialog.chkMDB->setChecked(true);
        dialog.txtMDBFilePath->setText(QStringLiteral("Quillet.mdb"));
        QVERIFY(!dialog.cmdTestMDB->isEnabled()); // a file needs no test
        dialog.txtMDBFilePath->setText(QString(uri)
                                           .replace(QStringLiteral("%1"), db)
                                           .replace(QStringLiteral("%2"), m_server.socketDir()));
        QVERIFY(dialog.cmdTestMDB->isEnabled());
        if (hang)
            m_server.pause(true);
        QElapsedTimer clock, gap;
        clock.start();
        gap.start();
        qint64 longest = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longest = qMax(longest, gap.restart()); });
        ticker.start(10);
        dialog.cmdTestMDB->click();
        QVERIFY(!dialog.cmdTestMDB->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 15000);
        m_server.pause(false);
        QVERIFY2(boxes.last().text.contains(answer), qPrintable(boxes.last().text));
        QCOMPARE(int(boxes.last().icon), icon);
        QCOMPARE(boxes.last().title, QStringLiteral("Database Test"));
        QVERIFY(dialog.cmdTestMDB->isEnabled());
        QVERIFY2(longest < 100, QByteArray::number(longest));
        if (hang)
            QVERIFY(clock.elapsed() >= 1500); // the box came only after the time-out
    }

    // A URI with a password is refused before it can reach the file.
    void settingsDialogRefusesAPassword()
    {
        BoxRecorder boxes;
        frmSettings dialog;
        dialog.LoadFormObj();
        dialog.chkMDB->setChecked(true);
        dialog.txtMDBFilePath->setText(QStringLiteral("postgresql://quillet:secret@db/alarms"));
        QVERIFY(!dialog.CheckFormObj());
        QCOMPARE(boxes.count(), 1);
        QVERIFY(boxes.last().text.contains(QStringLiteral("~/.pgpass")));
        QCOMPARE(dialog.focusTarget.data(), static_cast<QWidget *>(dialog.txtMDBFilePath));
    }
};

QTEST_MAIN(tst_Central)
#include "tst_central.moc"
