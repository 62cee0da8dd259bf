// The lock protocol under load: a helper process appends records as fast as
// it can while this test moves the older half of the file out again and
// again (export, then delete). Afterwards every record written must be in
// exactly one place, whole. The control run appends without the lock and
// must be caught losing or tearing records, which shows the check can fail.

#include "tamsin.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

namespace {

constexpr int kRecords = 150000;

QByteArray ExpectedLine(int i)
{
    const QDateTime t = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(i);
    return t.toString(QStringLiteral("MM/dd/yyyy hh:mm:ss")).toLatin1() + " [Site " +
           QByteArray::number(i % 7) + "] record " + QByteArray::number(i);
}

struct Verdict
{
    int lost = 0;
    int doubled = 0;
    int torn = 0; // lines that are not a whole record of the helper's

    bool Clean() const { return lost == 0 && doubled == 0 && torn == 0; }
    QByteArray Text() const
    {
        return QByteArray("lost ") + QByteArray::number(lost) + ", doubled " +
               QByteArray::number(doubled) + ", torn " + QByteArray::number(torn);
    }
};

Verdict Check(const QStringList &files)
{
    std::vector<int> seen(kRecords, 0);
    Verdict v;
    for (const QString &path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            ++v.torn;
            continue;
        }
        const QByteArray all = f.readAll();
        QByteArrayList lines = all.split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        else if (!all.isEmpty())
            ++v.torn; // file ends inside a line
        for (QByteArray line : lines) {
            if (!line.endsWith('\r')) {
                ++v.torn;
                continue;
            }
            line.chop(1);
            const int at = line.lastIndexOf(" record ");
            bool ok = false;
            const int i = at < 0 ? -1 : line.mid(at + 8).toInt(&ok);
            if (!ok || i < 0 || i >= kRecords || line != ExpectedLine(i)) {
                ++v.torn;
                continue;
            }
            ++seen[size_t(i)];
        }
    }
    for (int count : seen) {
        v.lost += count == 0;
        v.doubled += count > 1;
    }
    return v;
}

} // namespace

class TestTamsinConcurrency : public QObject
{
    Q_OBJECT

private slots:
    void moveWhileAppending_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("logger takes the lock") << true;
        QTest::newRow("control: logger ignores the lock") << false;
    }

    void moveWhileAppending()
    {
        QFETCH(bool, locked);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString log = dir.filePath("Quillet.log");
        {
            QFile f(log);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QByteArray logPath = QFile::encodeName(log);

        QProcess appender;
        appender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        appender.start(QCoreApplication::applicationDirPath() + "/tamsin_appender",
                       {log, QString::number(kRecords), locked ? "lock" : "nolock"});
        QVERIFY(appender.waitForStarted(10000));

        QStringList files;
        int rounds = 0;
        QElapsedTimer timer;
        timer.start();
        bool finished = false;
        while (!(finished = appender.waitForFinished(1)) && timer.elapsed() < 60000) {
            const int n = LogOpen(logPath.constData());
            QVERIFY2(n >= 0, "the log could not be opened while being appended to");
            if (n >= 2) {
                const char *time = nullptr;
                QCOMPARE(LogGetRecord(n / 2, &time, nullptr, nullptr, nullptr, nullptr, nullptr),
                         1);
                const QByteArray stamp(time);
                const int32_t key =
                    LogTimeKey(stamp.left(10).constData(), stamp.mid(11).constData());
                QVERIFY(key >= 0);
                const QString target = dir.filePath(QStringLiteral("moved%1.log").arg(rounds));
                QCOMPARE(LogExportBefore(key, QFile::encodeName(target).constData()), 1);
                QCOMPARE(LogDeleteBefore(key, logPath.constData()), 1);
                files << target;
                ++rounds;
            }
            LogClose();
        }
        QVERIFY2(finished || appender.waitForFinished(60000), "the appender did not finish");
        QCOMPARE(appender.exitStatus(), QProcess::NormalExit);
        QCOMPARE(appender.exitCode(), 0);
        // Moves that ran only after the appender was done would prove nothing.
        QVERIFY2(rounds >= 3, qPrintable(QStringLiteral("only %1 moves ran").arg(rounds)));

        files << log;
        const Verdict verdict = Check(files);
        qInfo("%d moves; %s", rounds, verdict.Text().constData());
        if (locked)
            QVERIFY2(verdict.Clean(), verdict.Text().constData());
        else
            QVERIFY2(!verdict.Clean(), "appending without the lock lost nothing: the check "
                                       "cannot tell a safe protocol from an unsafe one");
    }
};

QTEST_GUILESS_MAIN(TestTamsinConcurrency)
#include "tst_tamsinconcurrency.moc"
