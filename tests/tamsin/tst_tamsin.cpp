// libtamsin through its C interface, on files the tests write: what opens,
// how records read back, group enumeration, filters, time texts, and where
// export and delete cut a file.

#include "logindex.h"
#include "messagebuilder.h"
#include "recordformat.h"
#include "tamsin.h"
#include "utf8check.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <numeric>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {
// Which syncs fail: 0 none, 1 folders, 2 files.
std::atomic<int> g_failSync{0};
} // namespace

// A folder's sync can fail on a real disk after the rename went through;
// here it fails on demand. The library's fsync() binds to this definition,
// which the dynamic linker finds in the program before the C library's.
extern "C" int fsync(int fd)
{
    struct stat st;
    const int which = g_failSync.load();
    if (which != 0 && ::fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) ? which == 1 : which == 2)) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

struct Record
{
    QByteArray time, group, subgroup, message, ack, append;
};

Record GetRecord(int index)
{
    const char *t[6] = {};
    if (LogGetRecord(index, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5]) != 1)
        return {};
    return {t[0], t[1], t[2], t[3], t[4], t[5]};
}

QByteArrayList Messages(int count)
{
    QByteArrayList out;
    for (int i = 0; i < count; ++i)
        out << GetRecord(i).message;
    return out;
}

QByteArrayList Groups()
{
    QByteArrayList out;
    const char *name = nullptr;
    for (int32_t c = LogGetGroup(0, &name); c > 0; c = LogGetGroup(c, &name))
        out << name;
    return out;
}

// The stamp text of seconds after 01/01/2000.
QByteArray Stamp(qint64 seconds)
{
    return QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC)
        .addSecs(seconds)
        .toString(QStringLiteral("MM/dd/yyyy HH:mm:ss"))
        .toLatin1();
}

long StatusKiB(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Starts a new peak of resident memory; false where the kernel cannot.
bool ResetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Seven records over three callers, one without a caller; times spread so
// range edges can be tested to the second.
const QByteArray kSample = "03/01/2024 08:00:00 [Pump A] one\r\n"
                           "03/01/2024 09:30:00 [泵站] 二\r\n"
                           "03/02/2024 00:00:00 [Pump A] three\r\n"
                           "03/02/2024 12:00:00 four\r\n"
                           "03/03/2024 23:59:59 [Tank] five\r\n"
                           "03/04/2024 00:00:00 [泵站] six\r\n"
                           "03/05/2024 06:00:00 [Pump A] seven\r\n";

} // namespace

class TestTamsin : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString Write(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.log").arg(++m_serial));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    int32_t Open(const QByteArray &content) { return LogOpen(Write(content).toUtf8().constData()); }

private slots:
    void init()
    {
        LogClose();
        LogSetTimeRange(nullptr, nullptr, nullptr, nullptr);
    }
    void cleanupTestCase() { LogClose(); }

    void openCounts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("hasGroup");

        QTest::newRow("empty file") << QByteArray() << 0 << 0;
        QTest::newRow("only line ends") << QByteArray("\r\n\n\r\n") << 0 << 0;
        QTest::newRow("sample") << kSample << 7 << 1;
        QTest::newRow("LF line ends") << QByteArray("03/01/2024 08:00:00 [A] x\n"
                                                    "03/01/2024 08:00:01 [B] y\n")
                                      << 2 << 1;
        QTest::newRow("no final line end") << QByteArray("03/01/2024 08:00:00 [A] x") << 1 << 1;
        QTest::newRow("empty lines before the first record")
            << QByteArray("\r\n\r\n03/01/2024 08:00:00 [A] x\r\n") << 1 << 1;
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "03/01/2024 08:00:00 [A] x\r\n")
                                         << 1 << 1;
        QTest::newRow("continuations are not records")
            << QByteArray("03/01/2024 08:00:00 [A] x\r\n y\r\nno stamp\r\n"
                          "13/01/2024 08:00:00 [A] bad month\r\n"
                          "02/30/2024 08:00:00 [A] bad day\r\n"
                          "03/01/2024 08:00:001 glued\r\n"
                          "03/01/2024 08:00:01 [A] two\r\n")
            << 2 << 1;
        QTest::newRow("no callers") << QByteArray("03/01/2024 08:00:00 plain\r\n"
                                                  "03/01/2024 08:00:01\r\n"
                                                  "03/01/2024 08:00:02 [] empty caller\r\n")
                                    << 3 << 0;
        QTest::newRow("leap day") << QByteArray("02/29/2024 23:59:59 [A] x\r\n") << 1 << 1;

        QTest::newRow("text file") << QByteArray("hello\r\n") << -1 << 0;
        QTest::newRow("blank first line")
            << QByteArray(" \r\n03/01/2024 08:00:00 [A] x\r\n") << -1 << 0;
        QTest::newRow("bad date first") << QByteArray("02/29/2023 08:00:00 [A] x\r\n") << -1 << 0;
        QTest::newRow("short stamp first") << QByteArray("3/1/2024 08:00:00 [A] x\r\n") << -1 << 0;
        // One bad byte must not cost the whole history: a NUL is text.
        QTest::newRow("NUL byte late") << QByteArray("03/01/2024 08:00:00 [A] x\r\n"
                                                     "03/01/2024 08:00:01 [A] y") +
                                              QByteArray(1, '\0') + "z\r\n"
                                       << 2 << 1;
        QTest::newRow("NUL in the first record")
            << QByteArray("03/01/2024 08:00:00 [A] x") + QByteArray(1, '\0') + "\r\n"
            << 1 << 1;
        QTest::newRow("zero-filled tail")
            << QByteArray("03/01/2024 08:00:00 [A] x\r\n") + QByteArray(4096, '\0') << 1 << 1;
        QTest::newRow("NUL before the first record")
            << QByteArray(1, '\0') + "\r\n03/01/2024 08:00:00 [A] x\r\n"
            << -1 << 0;
        QTest::newRow("binary") << QByteArray("\x7f"
                                              "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0",
                                              16)
                                << -1 << 0;
    }
    void openCounts()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, count);
        QFETCH(int, hasGroup);
        QCOMPARE(Open(content), count);
        QCOMPARE(LogHasGroup(), hasGroup);
        QCOMPARE(LogHasSubgroup(), 0);
        // A refused file leaves nothing current.
        QCOMPARE(LogSelect(nullptr, nullptr), count);
    }

    void openRefusesNonFiles()
    {
        QCOMPARE(LogOpen(nullptr), -1);
        QCOMPARE(LogOpen(""), -1);
        QCOMPARE(LogOpen(m_dir.path().toUtf8().constData()), -1);
        QCOMPARE(LogOpen(m_dir.filePath("missing.log").toUtf8().constData()), -1);
        QCOMPARE(LogOpen("/dev/null"), -1);
        // A failed open also drops the file that was current.
        QCOMPARE(Open(kSample), 7);
        QCOMPARE(LogOpen(m_dir.filePath("missing.log").toUtf8().constData()), -1);
        QCOMPARE(LogSelect(nullptr, nullptr), -1);
        QCOMPARE(LogHasGroup(), 0);
    }

    void tooManyRecordsRefused()
    {
        // The real limit is 2^31 - 1 records; the index takes a lower one
        // so the refusal path runs without a huge file.
        tamsin::LogIndex index;
        const QByteArray three = kSample.left(kSample.indexOf("03/02/2024 12"));
        QCOMPARE(index.Build(three.constData(), size_t(three.size()), 3),
                 tamsin::LogIndex::Status::Ok);
        QCOMPARE(index.Build(kSample.constData(), size_t(kSample.size()), 3),
                 tamsin::LogIndex::Status::TooManyRecords);
        QCOMPARE(index.Count(), size_t(0));
    }

    void chunkedReadMatchesMemory_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("sample") << kSample;
        QTest::newRow("continuations, LF, no final line end")
            << QByteArray("\xEF\xBB\xBF\n03/01/2024 08:00:00 [A] x\n y\nz\n"
                          "03/01/2024 08:00:01 [泵站] 很長的一行 long line\r\n"
                          "03/01/2024 08:00:02");
        QTest::newRow("late NUL") << QByteArray("03/01/2024 08:00:00 [A] x\r\n") +
                                         QByteArray(1, '\0');
        QTest::newRow("caller and text beyond any chunk")
            << QByteArray("03/01/2024 08:00:00 [") + QByteArray(300, 'c') + "] " +
                   QByteArray(500, 'm') +
                   "\r\n 03/01/2024 08:00:01 [B] cont\r\n"
                   "03/01/2024 08:00:02 [" +
                   QByteArray(90, 'd') +
                   "]\r\n"
                   "03/01/2024 08:00:03 [" +
                   QByteArray(70, 'e') + "]]\r\r\n";
        QTest::newRow("out of order, shared and new callers")
            << QByteArray("03/02/2024 08:00:00 [A] x\r\n03/01/2024 08:00:00 [B] y\r\n"
                          "03/03/2024 08:00:00 [A] z\r\n03/01/2024 09:00:00 [C] w\r\n");
        QTest::newRow("refused first line") << QByteArray("\r\nnot a record\r\n");
        // Long enough for a thread to take over parts of the other's
        // stretch: callers new in every part, stamps out of order, text
        // that continues a record across where parts meet.
        QByteArray many;
        for (int i = 0; i < 1500; ++i) {
            many += Stamp(86400 + (i % 7 == 3 ? -i : i)) + " [S" + QByteArray::number(i / 5) +
                    "] alarm " + QByteArray::number(i) + "\r\n";
            if (i % 11 == 0)
                many += "  continued " + QByteArray::number(i) + "\n";
        }
        QTest::newRow("many records, callers throughout") << many;
        // Lines of every shape the one-pass scan of common lines must tell
        // apart, each with enough bytes after it to be scanned that way.
        QByteArray shapes;
        for (const QByteArray &line :
             {QByteArray("03/01/2024 08:00:00 [A] x"),
              QByteArray("03/01/2024 08:00:01 no caller"),
              QByteArray("03/01/2024 08:00:02 "),
              QByteArray("03/01/2024 08:00:03"),
              QByteArray("03/01/2024 08:00:04 [] empty"),
              QByteArray("03/01/2024 08:00:05 [A]"),
              QByteArray("03/01/2024 08:00:06 [A] "),
              QByteArray("03/01/2024 08:00:07 [A]B] y"),
              QByteArray("03/01/2024 08:00:08 [A\0] nul") + QByteArray(1, '\0'),
              QByteArray("03/01/2024 08:00:09 [") + QByteArray(31, 'c') + "] 31",
              QByteArray("03/01/2024 08:00:10 [") + QByteArray(32, 'c') + "] 32",
              QByteArray("03/01/2024 08:00:11 [") + QByteArray(63, 'c') + "] 63",
              QByteArray("03/01/2024 08:00:12 [") + QByteArray(64, 'c') + "] 64",
              QByteArray("03/01/2024 08:00:13 [A] ") + QByteArray(200, 'm'),
              QByteArray("03/01/2024 24:00:00 [A] bad hour"),
              QByteArray("03/01/2024 08:60:00 [A] bad minute"),
              QByteArray("03/01/2024 08:00:60 [A] bad second"),
              QByteArray("03/01/2024 08:00:0x [A] bad digit"),
              QByteArray("03/01/2024 \xB1"
                         "8:00:00 [A] high byte"),
              QByteArray("03/01/2024-08:00:14 [A] bad space"),
              QByteArray("02/30/2024 08:00:15 [A] bad date"),
              QByteArray("03/01/2024 08:00:16[A] glued"),
              QByteArray("03/01/2024 08:00:17 [A [B] z"),
              QByteArray(" 03/01/2024 08:00:18 [A] c"),
              QByteArray("03/01/2024 08:00:19 [") + QByteArray(20, 'n') + "\r\n] not a caller",
              QByteArray("12/31/2067 23:59:59 [A] late"),
              QByteArray("01/19/2068 03:14:08 [A] clamped")}) {
            shapes += line + "\r\n";
            shapes += line + "\n";
        }
        QTest::newRow("each shape of line") << shapes + QByteArray(300, '\n');
    }
    void chunkedReadMatchesMemory()
    {
        // The file is read in chunks that split lines anywhere; the index
        // must not depend on where.
        QFETCH(QByteArray, content);
        const QString path = Write(content);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        tamsin::LogIndex whole;
        const auto expected = whole.Build(content.constData(), size_t(content.size()));
        // Two threads split the file at a line end in its middle; with the
        // first thread's stretch made short, it is done first and takes over
        // from the other, whose rest is then read in several parts.
        struct Split
        {
            uint64_t parallelFrom;
            unsigned firstShare;
        };
        for (const Split split : {Split{tamsin::LogIndex::kParallelFrom, 50}, Split{1, 50},
                                  Split{1, 5}})
            for (size_t chunk : {size_t(1), size_t(2), size_t(7), size_t(30), size_t(1) << 20}) {
                // Which thread takes over how much is up to the scheduler: a
                // takeover is looked for where the file is long enough.
                const qsizetype firstEnd = content.indexOf('\n', content.size() * 5 / 100);
                const bool takeover = split.firstShare == 5 && chunk <= 30 && firstEnd >= 0 &&
                                      size_t(content.size() - firstEnd) >= 200 * chunk &&
                                      firstEnd < content.size() / 4 &&
                                      expected == tamsin::LogIndex::Status::Ok;
                tamsin::LogIndex read;
                auto status = read.Read(f.handle(), uint64_t(content.size()), chunk,
                                        tamsin::LogIndex::kMaxRecords, split.parallelFrom,
                                        split.firstShare);
                for (int tries = 0; takeover && read.Stretches() <= 2 && tries < 100; ++tries)
                    status = read.Read(f.handle(), uint64_t(content.size()), chunk,
                                       tamsin::LogIndex::kMaxRecords, split.parallelFrom,
                                       split.firstShare);
                if (takeover)
                    QVERIFY2(read.Stretches() > 2, qPrintable(QString::number(chunk)));
                QCOMPARE(status == tamsin::LogIndex::Status::Ok,
                         expected == tamsin::LogIndex::Status::Ok);
                QCOMPARE(read.Count(), whole.Count());
                QCOMPARE(read.Size(), whole.Size());
                QCOMPARE(read.TimeOrdered(), whole.TimeOrdered());
                QCOMPARE(read.IsUtf8(), whole.IsUtf8());
                for (size_t i = 0; i < whole.Count(); ++i) {
                    QCOMPARE(read.Begin(i), whole.Begin(i));
                    QCOMPARE(read.Time(i), whole.Time(i));
                    QCOMPARE(read.GroupName(read.Group(i)), whole.GroupName(whole.Group(i)));
                }
            }
    }

    void groupsBeyondOneByte_data()
    {
        // A record's group takes the fewest bytes the file's callers need,
        // and the column widens when the 256th or 65,536th name appears:
        // while indexing, while the halves of two threads are joined, and
        // while appended records are indexed.
        QTest::addColumn<int>("names");
        QTest::newRow("255 callers: one byte") << 255;
        QTest::newRow("256 callers: two bytes") << 256;
        QTest::newRow("65,536 callers: four bytes") << 65536;
    }
    void groupsBeyondOneByte()
    {
        QFETCH(int, names);
        const int records = names + 5000;
        QByteArray content;
        QList<qsizetype> ends;
        for (int i = 0; i < records; ++i) {
            content += Stamp(86400 + i) + " [C" + QByteArray::number(i % names) + "] r\r\n";
            ends << content.size();
        }
        const QString path = Write(content);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const auto check = [&](const tamsin::LogIndex &index, int count) -> QString {
            if (index.Count() != size_t(count))
                return QString("%1 records, not %2").arg(index.Count()).arg(count);
            for (int i = 0; i < count; ++i) {
                if (index.GroupName(index.Group(size_t(i))) != "C" + std::to_string(i % names))
                    return QString("record %1 of %2: %3").arg(i).arg(count).arg(
                        QString::fromStdString(index.GroupName(index.Group(size_t(i)))));
            }
            return QString();
        };
        tamsin::LogIndex memory;
        QVERIFY(memory.Build(content.constData(), size_t(content.size())) ==
                tamsin::LogIndex::Status::Ok);
        QCOMPARE(check(memory, records), QString());
        tamsin::LogIndex halves;
        QVERIFY(halves.Read(f.handle(), uint64_t(content.size()), 1 << 20,
                            tamsin::LogIndex::kMaxRecords, 1) == tamsin::LogIndex::Status::Ok);
        QCOMPARE(check(halves, records), QString());
        // Most names arrive with the appended records, after a read by one
        // thread or by two.
        const int first = std::min(records / 3, 200);
        for (const uint64_t parallel : {tamsin::LogIndex::kParallelFrom, uint64_t(1)}) {
            tamsin::LogIndex extended;
            QVERIFY(extended.Read(f.handle(), uint64_t(ends[first - 1]), 1 << 20,
                                  tamsin::LogIndex::kMaxRecords,
                                  parallel) == tamsin::LogIndex::Status::Ok);
            QCOMPARE(check(extended, first), QString());
            QVERIFY(extended.Extend(f.handle(), uint64_t(content.size())) ==
                    tamsin::LogIndex::Status::Ok);
            QCOMPARE(check(extended, records), QString());
        }
    }

    void fileCutShortAfterOpen()
    {
        // Another program truncating the open file must cost the reader
        // its records, not its life.
        const QString path = Write(kSample);
        QCOMPARE(LogOpen(path.toUtf8().constData()), 7);
        QVERIFY(QFile::resize(path, 40));
        const char *m = "x";
        QCOMPARE(LogGetRecord(0, nullptr, nullptr, nullptr, &m, nullptr, nullptr), 1);
        QCOMPARE(QByteArray(m), QByteArray("one"));
        QCOMPARE(LogGetRecord(6, nullptr, nullptr, nullptr, &m, nullptr, nullptr), -1);
        QVERIFY(m == nullptr);
    }

    void recordFields_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("group");
        QTest::addColumn<QByteArray>("message");

        QTest::newRow("plain") << QByteArray("03/07/2024 14:05:09 [North Pump Station] A3 Pump "
                                             "failure\r\n")
                               << QByteArray("North Pump Station") << QByteArray("A3 Pump failure");
        QTest::newRow("Chinese") << QByteArray("03/07/2024 14:05:09 [北區泵站] 水位過高 警報\r\n")
                                 << QByteArray("北區泵站") << QByteArray("水位過高 警報");
        QTest::newRow("bracket inside caller") << QByteArray("03/07/2024 14:05:09 [A]B] m] n\r\n")
                                               << QByteArray("A]B") << QByteArray("m] n");
        QTest::newRow("empty message")
            << QByteArray("03/07/2024 14:05:09 [A] \r\n") << QByteArray("A") << QByteArray("");
        QTest::newRow("caller closing the line")
            << QByteArray("03/07/2024 14:05:09 [A]\r\n") << QByteArray("A") << QByteArray("");
        QTest::newRow("no caller") << QByteArray("03/07/2024 14:05:09 hello [x] y\r\n")
                                   << QByteArray("") << QByteArray("hello [x] y");
        QTest::newRow("unclosed bracket") << QByteArray("03/07/2024 14:05:09 [abc def\r\n")
                                          << QByteArray("") << QByteArray("[abc def");
        QTest::newRow("stamp only")
            << QByteArray("03/07/2024 14:05:09\r\n") << QByteArray("") << QByteArray("");
        QTest::newRow("logger continuation")
            << QByteArray("03/07/2024 14:05:09 [A] L1\r\n"
                          " L2\r\n"
                          "  L3 indented\r\n")
            << QByteArray("A") << QByteArray("L1\r\nL2\r\n L3 indented");
        QTest::newRow("continuation of an empty line")
            << QByteArray("03/07/2024 14:05:09 [A] L1\r\n"
                          " \r\n")
            << QByteArray("A") << QByteArray("L1\r\n");
        QTest::newRow("old continuation without space")
            << QByteArray("03/07/2024 14:05:09 [A] L1\r\nL2\r\n\r\nL4\r\n") << QByteArray("A")
            << QByteArray("L1\r\nL2\r\n\r\nL4");
        QTest::newRow("LF continuation joins with CR LF")
            << QByteArray("03/07/2024 14:05:09 [A] L1\n L2\n") << QByteArray("A")
            << QByteArray("L1\r\nL2");
        QTest::newRow("continued stamp-like line")
            << QByteArray("03/07/2024 14:05:09 [A] L1\r\n 03/07/2024 14:05:10 [B] L2\r\n")
            << QByteArray("A") << QByteArray("L1\r\n03/07/2024 14:05:10 [B] L2");
        QTest::newRow("Chinese continuation")
            << QByteArray("03/07/2024 14:05:09 [泵站] 第一行\r\n"
                          " 第二行\r\n")
            << QByteArray("泵站") << QByteArray("第一行\r\n第二行");
        QTest::newRow("lone CR kept") << QByteArray("03/07/2024 14:05:09 [A] a\rb\r\n")
                                      << QByteArray("A") << QByteArray("a\rb");
        QTest::newRow("NUL runs shown as one symbol")
            << QByteArray("03/07/2024 14:05:09 [A] a") + QByteArray(1, '\0') + "b" +
                   QByteArray(3, '\0') + "\r\n " + QByteArray(1, '\0') + "c\r\n"
            << QByteArray("A")
            << QByteArray("a\xE2\x90\x80"
                          "b\xE2\x90\x80\r\n\xE2\x90\x80"
                          "c");
        QTest::newRow("NUL in a caller")
            << QByteArray("03/07/2024 14:05:09 [A") + QByteArray(1, '\0') + "B] m\r\n"
            << QByteArray("A\xE2\x90\x80"
                          "B")
            << QByteArray("m");
    }
    void recordFields()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, group);
        QFETCH(QByteArray, message);
        QCOMPARE(Open(content + "03/07/2024 14:05:10 [Z] next\r\n"), 2);
        QCOMPARE(LogSelect(nullptr, nullptr), 2);
        const Record r = GetRecord(0);
        QCOMPARE(r.time, QByteArray("03/07/2024 14:05:09"));
        QCOMPARE(r.group, group);
        QCOMPARE(r.message, message);
        QCOMPARE(r.subgroup, QByteArray(""));
        QCOMPARE(r.ack, QByteArray(""));
        QCOMPARE(r.append, QByteArray(""));
        QCOMPARE(GetRecord(1).message, QByteArray("next"));
        // The name handed out selects its records.
        QCOMPARE(LogSelect(group.constData(), nullptr), 1);

        // A record too long to read whole is assembled piece by piece, to
        // the same text.
        tamsin::RecordHead head;
        const qsizetype lineEnd = content.indexOf('\n');
        QVERIFY(tamsin::ParseRecordHead(
            std::string_view(content.constData(), size_t(lineEnd))
                .substr(0, size_t(lineEnd) - (content[lineEnd - 1] == '\r')),
            &head));
        std::string streamed;
        tamsin::MessageBuilder builder(&streamed);
        for (qsizetype i = qsizetype(head.messageBegin); i < content.size(); ++i)
            builder.Feed(content.constData() + i, 1);
        builder.Finish();
        QCOMPARE(QByteArray::fromStdString(streamed), message);
    }

    void getRecordBounds()
    {
        const char *t = "x";
        QCOMPARE(LogGetRecord(0, &t, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
        QVERIFY(t == nullptr);
        QCOMPARE(Open(kSample), 7);
        QCOMPARE(LogGetRecord(-1, &t, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
        QCOMPARE(LogGetRecord(7, &t, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
        // Records are selected from the open on, in file order; any out
        // pointer may be left out.
        const char *m = nullptr;
        QCOMPARE(LogGetRecord(6, nullptr, nullptr, nullptr, &m, nullptr, nullptr), 1);
        QCOMPARE(QByteArray(m), QByteArray("seven"));
        QCOMPARE(LogSelect("Tank", nullptr), 1);
        QCOMPARE(LogGetRecord(1, &t, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
        QCOMPARE(GetRecord(0).message, QByteArray("five"));
    }

    void groupEnumeration()
    {
        const char *name = "x";
        QCOMPARE(LogGetGroup(0, &name), -1);
        QCOMPARE(Open(kSample), 7);
        QCOMPARE(LogGetGroup(0, nullptr), -1);
        QCOMPARE(Groups(), (QByteArrayList{"Pump A", "Tank", "泵站"}));

        int32_t cursor = LogGetGroup(0, &name);
        QVERIFY(cursor > 0);
        QCOMPARE(QByteArray(name), QByteArray("Pump A"));
        // Asking again from the same cursor gives the same answer.
        QCOMPARE(LogGetGroup(0, &name), cursor);
        QCOMPARE(LogGetGroup(3, &name), 0);
        QVERIFY(name == nullptr);
        QCOMPARE(LogGetGroup(-5, &name), 0);

        QCOMPARE(LogGetSubgroup("Pump A", 0, &name), 0);
        QVERIFY(name == nullptr);
        QCOMPARE(LogGetSubgroup(nullptr, 0, &name), -1);

        QCOMPARE(Open("03/07/2024 14:05:09 no caller\r\n"), 1);
        QCOMPARE(LogGetGroup(0, &name), 0);
        LogClose();
        QCOMPARE(LogGetSubgroup("Pump A", 0, &name), -1);
    }

    void select_data()
    {
        QTest::addColumn<QByteArrayList>("range"); // four texts or empty = no filter
        QTest::addColumn<QByteArray>("group");     // "<null>" = any
        QTest::addColumn<QByteArray>("subgroup");  // "<null>" = any
        QTest::addColumn<QByteArrayList>("messages");

        const QByteArray any("<null>");
        const QByteArrayList all{"one", "two", "three", "four", "five", "six", "seven"};
        QTest::newRow("no filter") << QByteArrayList() << any << any << all;
        QTest::newRow("group") << QByteArrayList() << QByteArray("Pump A") << any
                               << QByteArrayList{"one", "three", "seven"};
        QTest::newRow("Chinese group")
            << QByteArrayList() << QByteArray("泵站") << any << QByteArrayList{"two", "six"};
        QTest::newRow("no-caller records")
            << QByteArrayList() << QByteArray("") << any << QByteArrayList{"four"};
        QTest::newRow("unknown group")
            << QByteArrayList() << QByteArray("Pump") << any << QByteArrayList();
        QTest::newRow("empty subgroup is any") << QByteArrayList() << any << QByteArray("") << all;
        QTest::newRow("named subgroup matches nothing")
            << QByteArrayList() << any << QByteArray("x") << QByteArrayList();
        QTest::newRow("range ends inclusive")
            << QByteArrayList{"03/02/2024", "00:00:00", "03/04/2024", "00:00:00"} << any << any
            << QByteArrayList{"three", "four", "five", "six"};
        QTest::newRow("range one second inside")
            << QByteArrayList{"03/02/24", "00:00:01", "03/03/24", "23:59:58"} << any << any
            << QByteArrayList{"four"};
        QTest::newRow("range and group")
            << QByteArrayList{"03/01/2024", "09:30:00", "03/05/2024", "06:00:00"}
            << QByteArray("Pump A") << any << QByteArrayList{"three", "seven"};
        QTest::newRow("reversed range")
            << QByteArrayList{"03/05/2024", "00:00:00", "03/01/2024", "00:00:00"} << any << any
            << QByteArrayList();
        QTest::newRow("single moment")
            << QByteArrayList{"3/3/2024", "23:59:59", "3/3/2024", "23:59:59"} << any << any
            << QByteArrayList{"five"};
    }
    void select()
    {
        QFETCH(QByteArrayList, range);
        QFETCH(QByteArray, group);
        QFETCH(QByteArray, subgroup);
        QFETCH(QByteArrayList, messages);
        QCOMPARE(Open(QByteArray(kSample).replace("二", "two")), 7);
        if (!range.isEmpty()) {
            QCOMPARE(LogSetTimeRange(range[0].constData(), range[1].constData(),
                                     range[2].constData(), range[3].constData()),
                     1);
        }
        const char *g = group == "<null>" ? nullptr : group.constData();
        const char *s = subgroup == "<null>" ? nullptr : subgroup.constData();
        const int n = LogSelect(g, s);
        QCOMPARE(n, int(messages.size()));
        QCOMPARE(Messages(n), messages);
    }

    void timeFilterLifecycle()
    {
        QCOMPARE(LogSelect(nullptr, nullptr), -1);
        // The filter is set without a file and outlives close and reopen.
        QCOMPARE(LogSetTimeRange("03/04/2024", "00:00:00", "03/05/2024", "06:00:00"), 1);
        QCOMPARE(Open(kSample), 7);
        QCOMPARE(LogSelect(nullptr, nullptr), 2);
        LogClose();
        QCOMPARE(Open(kSample), 7);
        QCOMPARE(LogSelect(nullptr, nullptr), 2);
        // A refused range keeps the previous one.
        QCOMPARE(LogSetTimeRange("03/04/2024", "00:00:00", nullptr, nullptr), 0);
        QCOMPARE(LogSetTimeRange("03/04/2024", "25:00:00", "03/05/2024", "06:00:00"), 0);
        QCOMPARE(LogSelect(nullptr, nullptr), 2);
        QCOMPARE(LogSetTimeRange(nullptr, nullptr, nullptr, nullptr), 1);
        QCOMPARE(LogSelect(nullptr, nullptr), 7);
    }

    void timeTexts_data()
    {
        QTest::addColumn<QByteArray>("date");
        QTest::addColumn<QByteArray>("time");
        QTest::addColumn<int>("key");

        QTest::newRow("epoch") << QByteArray("01/01/2000") << QByteArray("00:00:00") << 0;
        QTest::newRow("two-digit year") << QByteArray("01/01/00") << QByteArray("00:00:01") << 1;
        QTest::newRow("one-digit fields")
            << QByteArray("1/2/2000") << QByteArray("1:00:00") << 86400 + 3600;
        QTest::newRow("after a leap day")
            << QByteArray("03/01/2000") << QByteArray("00:00:00") << (31 + 29) * 86400;
        QTest::newRow("last second")
            << QByteArray("01/19/2068") << QByteArray("03:14:07") << INT_MAX;
        QTest::newRow("'68 is 2068") << QByteArray("01/19/68") << QByteArray("03:14:07") << INT_MAX;

        QTest::newRow("past the last second")
            << QByteArray("01/19/2068") << QByteArray("03:14:08") << -1;
        QTest::newRow("'99 is 1999") << QByteArray("12/31/99") << QByteArray("23:59:59") << -1;
        QTest::newRow("no leap day") << QByteArray("02/29/2023") << QByteArray("00:00:00") << -1;
        QTest::newRow("month 13") << QByteArray("13/01/2024") << QByteArray("00:00:00") << -1;
        QTest::newRow("day 0") << QByteArray("01/00/2024") << QByteArray("00:00:00") << -1;
        QTest::newRow("hour 24") << QByteArray("01/01/2024") << QByteArray("24:00:00") << -1;
        QTest::newRow("no seconds") << QByteArray("01/01/2024") << QByteArray("12:00") << -1;
        QTest::newRow("three-digit year")
            << QByteArray("01/01/024") << QByteArray("12:00:00") << -1;
        QTest::newRow("dashes") << QByteArray("2024-01-01") << QByteArray("12:00:00") << -1;
        QTest::newRow("trailing text")
            << QByteArray("01/01/2024") << QByteArray("12:00:00 PM") << -1;
        QTest::newRow("sign") << QByteArray("+1/01/2024") << QByteArray("12:00:00") << -1;
        QTest::newRow("empty") << QByteArray("") << QByteArray("") << -1;
    }
    void timeTexts()
    {
        QFETCH(QByteArray, date);
        QFETCH(QByteArray, time);
        QFETCH(int, key);
        QCOMPARE(LogTimeKey(date.constData(), time.constData()), key);
        // The time filter reads the same texts (and has no range limit, but
        // refuses what is not a date).
        tamsin::Seconds s;
        const bool valid = tamsin::ParseDateTime(date.toStdString(), time.toStdString(), &s);
        QCOMPARE(
            LogSetTimeRange(date.constData(), time.constData(), date.constData(), time.constData()),
            valid ? 1 : 0);
        if (key >= 0)
            QVERIFY(valid);
    }

    void timeKeyNulls()
    {
        QCOMPARE(LogTimeKey(nullptr, "00:00:00"), -1);
        QCOMPARE(LogTimeKey("01/01/2024", nullptr), -1);
    }

    void exportAndDeleteCut_data()
    {
        QTest::addColumn<QByteArray>("moment"); // "date time"
        QTest::addColumn<QByteArrayList>("exported");
        QTest::addColumn<QByteArrayList>("kept");

        QTest::newRow("record exactly at the moment stays")
            << QByteArray("03/02/2024 12:00:00") << QByteArrayList{"one", "two", "three"}
            << QByteArrayList{"four", "five", "six", "seven", "late"};
        QTest::newRow("one second later takes it")
            << QByteArray("03/02/2024 12:00:01") << QByteArrayList{"one", "two", "three", "four"}
            << QByteArrayList{"five", "six", "seven", "late"};
        QTest::newRow("before everything")
            << QByteArray("01/01/2000 00:00:00") << QByteArrayList()
            << QByteArrayList{"one", "two", "three", "four", "five", "six", "seven", "late"};
        QTest::newRow("after everything")
            << QByteArray("01/01/2030 00:00:00")
            << QByteArrayList{"one", "two", "three", "four", "five", "six", "seven", "late"}
            << QByteArrayList();
        // Time stamps come from the SIM, so the file need not be in order.
        QTest::newRow("out-of-order record")
            << QByteArray("03/05/2024 00:00:00")
            << QByteArrayList{"one", "two", "three", "four", "five", "six", "late"}
            << QByteArrayList{"seven"};
    }
    void exportAndDeleteCut()
    {
        QFETCH(QByteArray, moment);
        QFETCH(QByteArrayList, exported);
        QFETCH(QByteArrayList, kept);
        const QByteArray content = QByteArray(kSample).replace("二", "two") +
                                   "03/04/2024 12:00:00 [Tank] late\r\n continued\r\n";
        const QString source = Write(content);
        const QString target = m_dir.filePath(QStringLiteral("export%1.log").arg(m_serial));
        QCOMPARE(LogOpen(source.toUtf8().constData()), 8);
        const QList<QByteArray> parts = moment.split(' ');
        const int32_t key = LogTimeKey(parts[0].constData(), parts[1].constData());
        QVERIFY(key >= 0);
        QCOMPARE(LogExportBefore(key, target.toUtf8().constData()), 1);
        QCOMPARE(LogDeleteBefore(key, source.toUtf8().constData()), 1);

        // Both files hold the original bytes of their records, in order, and
        // together exactly the original records.
        const auto linesOf = [&](const QByteArrayList &messages) {
            QByteArray bytes;
            for (const QByteArray &line : content.split('\n')) {
                for (const QByteArray &m : messages) {
                    if (line.endsWith(" " + m + "\r"))
                        bytes += line + '\n';
                }
                if (line == " continued\r" && messages.contains("late"))
                    bytes += line + '\n';
            }
            return bytes;
        };
        QCOMPARE(ReadAll(target), linesOf(exported));
        QCOMPARE(ReadAll(source), linesOf(kept));
        // The current file still shows what was opened.
        QCOMPARE(LogSelect(nullptr, nullptr), 8);
        QCOMPARE(LogOpen(source.toUtf8().constData()), int(kept.size()));
        QCOMPARE(LogOpen(target.toUtf8().constData()), int(exported.size()));
    }

    void deleteKeepsModeAndTouchesNothingNeedless()
    {
        const QString source = Write(kSample);
        QVERIFY(::chmod(QFile::encodeName(source).constData(), 0640) == 0);
        struct stat before;
        QVERIFY(::stat(QFile::encodeName(source).constData(), &before) == 0);
        const QByteArray path = source.toUtf8();

        // Nothing before the moment: success, and the file is not rewritten.
        QCOMPARE(LogDeleteBefore(LogTimeKey("01/01/2024", "00:00:00"), path.constData()), 1);
        struct stat after;
        QVERIFY(::stat(path.constData(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);

        // The delete works on a path without a current file, keeps the
        // mode, and leaves no temporary file behind.
        QCOMPARE(LogDeleteBefore(LogTimeKey("03/03/2024", "00:00:00"), path.constData()), 1);
        QVERIFY(::stat(path.constData(), &after) == 0);
        QCOMPARE(after.st_mode & 07777, mode_t(0640));
        QCOMPARE(LogOpen(path.constData()), 3);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Hidden | QDir::Files).filter(".tamsin"),
                 QStringList());
    }

    void deleteThroughSymlinkRewritesTarget()
    {
        const QString source = Write(kSample);
        const QString link = m_dir.filePath("link.log");
        QVERIFY(QFile::link(source, link));
        QCOMPARE(LogDeleteBefore(LogTimeKey("03/03/2024", "00:00:00"), link.toUtf8().constData()),
                 1);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(LogOpen(source.toUtf8().constData()), 3);
    }

    void exportThenDeleteKeepsLateArrival()
    {
        // A message stamped long ago may reach the file between the export
        // and the delete; a move must neither lose nor duplicate it.
        const QString source = Write(kSample);
        const QString target = m_dir.filePath("moved.log");
        QCOMPARE(LogOpen(source.toUtf8().constData()), 7);
        const int32_t key = LogTimeKey("03/03/2024", "00:00:00");
        QCOMPARE(LogExportBefore(key, target.toUtf8().constData()), 1);
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::Append));
            f.write("03/01/2024 07:00:00 [Tank] delayed\r\n");
        }
        QCOMPARE(LogDeleteBefore(key, source.toUtf8().constData()), 1);
        QCOMPARE(LogOpen(target.toUtf8().constData()), 4);
        QCOMPARE(LogOpen(source.toUtf8().constData()), 4);
        QCOMPARE(GetRecord(0).message, QByteArray("delayed")); // the earliest

        // A delete on its own discards every record before the moment.
        QCOMPARE(LogDeleteBefore(key, source.toUtf8().constData()), 1);
        QCOMPARE(LogOpen(source.toUtf8().constData()), 3);
    }

    void moveRefusedWhenFileReplaced()
    {
        const QString source = Write(kSample);
        QCOMPARE(LogOpen(source.toUtf8().constData()), 7);
        const int32_t key = LogTimeKey("03/03/2024", "00:00:00");
        QCOMPARE(LogExportBefore(key, m_dir.filePath("replaced.log").toUtf8().constData()), 1);
        // Someone else rewrote the file meanwhile: what was exported can no
        // longer be told apart, so nothing is removed.
        QVERIFY(QFile::remove(source));
        const QByteArray other = kSample + "03/01/2024 07:00:00 [Tank] other\r\n";
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(other);
        }
        QCOMPARE(LogDeleteBefore(key, source.toUtf8().constData()), 0);
        QCOMPARE(ReadAll(source), other);
    }

    void deleteFollowsFileReplacedWhileWaiting()
    {
        // Another rewriter holds the lock and renames a new file over the
        // path before letting go. The delete that waited must work on the
        // new file: rewriting from the old inode would drop the record that
        // only the new file holds.
        const QString path = Write(kSample);
        const QByteArray name = QFile::encodeName(path);
        const int held = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(held >= 0);
        QVERIFY(::flock(held, LOCK_EX) == 0);

        int32_t result = -1;
        std::thread waiter([&] {
            result = LogDeleteBefore(LogTimeKey("03/03/2024", "00:00:00"), name.constData());
        });
        // Wait (bounded) until the delete has the old file open and waits
        // for its lock: a second descriptor of this process names it.
        const QString canonical = QFileInfo(path).canonicalFilePath();
        bool queued = false;
        for (int i = 0; i < 500 && !queued; ++i) {
            int open = 0;
            const QDir fds(QStringLiteral("/proc/self/fd"));
            for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::Files))
                open += fd.symLinkTarget() == canonical;
            queued = open >= 2;
            if (!queued)
                QThread::msleep(10);
        }
        const QString next = m_dir.filePath("next.log");
        {
            QFile f(next);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kSample + "03/06/2024 00:00:00 [Tank] only in the new file\r\n");
        }
        QVERIFY(::rename(QFile::encodeName(next).constData(), name.constData()) == 0);
        ::close(held);
        waiter.join();
        QVERIFY(queued);
        QCOMPARE(result, 1);
        QCOMPARE(LogOpen(name.constData()), 4);
        QCOMPARE(GetRecord(3).message, QByteArray("only in the new file"));
    }

    void exportRefusals()
    {
        const QString source = Write(kSample);
        const int32_t key = LogTimeKey("03/03/2024", "00:00:00");
        const QByteArray target = m_dir.filePath("refused.log").toUtf8();
        QCOMPARE(LogExportBefore(key, target.constData()), 0); // no current file
        QCOMPARE(LogOpen(source.toUtf8().constData()), 7);
        QCOMPARE(LogExportBefore(-1, target.constData()), 0);
        QCOMPARE(LogExportBefore(key, nullptr), 0);
        QCOMPARE(LogExportBefore(key, source.toUtf8().constData()), 0);
        QCOMPARE(LogExportBefore(key, m_dir.filePath("no/such/dir.log").toUtf8().constData()), 0);
        QCOMPARE(LogExportBefore(key, m_dir.path().toUtf8().constData()), 0);
        // The open file survives every attempt, also through another name.
        const QString alias = m_dir.filePath("alias.log");
        QVERIFY(QFile::link(source, alias));
        QCOMPARE(LogExportBefore(key, alias.toUtf8().constData()), 0);
        QCOMPARE(ReadAll(source), kSample);
        QVERIFY(!QFile::exists(QString::fromUtf8(target)));
    }

    void deleteRefusals()
    {
        const int32_t key = LogTimeKey("03/03/2024", "00:00:00");
        QCOMPARE(LogDeleteBefore(key, nullptr), 0);
        QCOMPARE(LogDeleteBefore(key, m_dir.filePath("missing.log").toUtf8().constData()), 0);
        QCOMPARE(LogDeleteBefore(key, m_dir.path().toUtf8().constData()), 0);
        const QByteArray notALog("not a log\r\n03/01/2024 08:00:00 [A] x\r\n");
        const QString path = Write(notALog);
        QCOMPARE(LogDeleteBefore(key, path.toUtf8().constData()), 0);
        QCOMPARE(LogDeleteBefore(-1, path.toUtf8().constData()), 0);
        QCOMPARE(ReadAll(path), notALog);
    }

    void exportTerminatesLastLine()
    {
        const QString source = Write("03/01/2024 08:00:00 [A] x\r\n03/01/2024 08:00:01 [A] y");
        const QString target = m_dir.filePath("terminated.log");
        QCOMPARE(LogOpen(source.toUtf8().constData()), 2);
        QCOMPARE(LogExportBefore(LogTimeKey("03/02/2024", "00:00:00"), target.toUtf8().constData()),
                 1);
        QCOMPARE(ReadAll(target), QByteArray("03/01/2024 08:00:00 [A] x\r\n"
                                             "03/01/2024 08:00:01 [A] y\r\n"));
    }

    void deleteKeepsPreamble()
    {
        const QByteArray bom("\xEF\xBB\xBF");
        const QString source = Write(bom + kSample);
        QCOMPARE(LogDeleteBefore(LogTimeKey("03/05/2024", "00:00:00"), source.toUtf8().constData()),
                 1);
        QCOMPARE(ReadAll(source), bom + "03/05/2024 06:00:00 [Pump A] seven\r\n");
    }

    void earliestFirst_data()
    {
        QTest::addColumn<QByteArrayList>("range");
        QTest::addColumn<QByteArray>("group"); // "<null>" = any; "<open>": no LogSelect
        QTest::addColumn<QByteArrayList>("messages");

        const QByteArrayList all{"first\r\ncontinued", "a", "b", "c", "d", "last"};
        QTest::newRow("straight after open") << QByteArrayList() << QByteArray("<open>") << all;
        QTest::newRow("no filter") << QByteArrayList() << QByteArray("<null>") << all;
        QTest::newRow("group") << QByteArrayList() << QByteArray("A")
                               << QByteArrayList{"b", "c", "d", "last"};
        QTest::newRow("time range")
            << QByteArrayList{"03/01/2024", "10:00:01", "03/01/2024", "10:00:05"}
            << QByteArray("<null>") << QByteArrayList{"a", "b", "c", "d"};
    }
    void earliestFirst()
    {
        QFETCH(QByteArrayList, range);
        QFETCH(QByteArray, group);
        QFETCH(QByteArrayList, messages);
        // A burst read slot by slot: the SIM's stamps are not in file order.
        QCOMPARE(Open("03/01/2024 10:00:05 [A] c\r\n"
                      "03/01/2024 10:00:01 [B] a\r\n"
                      "03/01/2024 10:00:05 [A] d\r\n"
                      "03/01/2024 10:00:03 [A] b\r\n"
                      "02/28/2024 23:59:59 [B] first\r\n continued\r\n"
                      "03/02/2024 00:00:00 [A] last\r\n"),
                 6);
        if (!range.isEmpty())
            QCOMPARE(LogSetTimeRange(range[0], range[1], range[2], range[3]), 1);
        int n = 6;
        if (group != "<open>")
            n = LogSelect(group == "<null>" ? nullptr : group.constData(), nullptr);
        QCOMPARE(Messages(n), messages);
        // The first and last rows are the earliest and the latest moment.
        const QByteArray first = GetRecord(0).time;
        const QByteArray last = GetRecord(n - 1).time;
        QCOMPARE(first, range.isEmpty() ? (group == "A" ? QByteArray("03/01/2024 10:00:03")
                                                        : QByteArray("02/28/2024 23:59:59"))
                                        : QByteArray("03/01/2024 10:00:01"));
        QCOMPARE(last, range.isEmpty() ? QByteArray("03/02/2024 00:00:00")
                                       : QByteArray("03/01/2024 10:00:05"));
    }

    void sortMatchesStableSort_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("span");    // seconds the stamps spread over
        QTest::addColumn<int>("sameSecond"); // records sharing one stamp
        QTest::newRow("burst of a few minutes") << 3000 << qint64(600) << 0;
        QTest::newRow("sixty years") << 3000 << qint64(60) * 365 * 86400 << 0;
        // Stamps that fit beside the record numbers only in twice the buckets.
        QTest::newRow("ten years") << 3000 << qint64(10) * 365 * 86400 << 0;
        QTest::newRow("one second") << 2000 << qint64(1) << 2000;
        QTest::newRow("crowded second among decades") << 12000 << qint64(60) * 365 * 86400 << 6000;
        // Enough records for the buckets to be sorted by two threads.
        QTest::newRow("two threads") << 300000 << qint64(40) * 86400 << 1000;
    }
    void sortMatchesStableSort()
    {
        QFETCH(int, count);
        QFETCH(qint64, span);
        QFETCH(int, sameSecond);
        QRandomGenerator random(count + span);
        QList<qint64> times;
        QByteArray content;
        for (int i = 0; i < count; ++i) {
            const qint64 t =
                i < sameSecond ? 86400 * 365 : 86400 + qint64(random.bounded(double(span)));
            times << t;
            content += Stamp(t) + " [G" + QByteArray::number(i % 3) + "] r" +
                       QByteArray::number(i) + "\r\n";
        }
        QCOMPARE(Open(content), count);
        for (const QByteArray &group : {QByteArray(), QByteArray("G1")}) {
            QList<int> order(count);
            std::iota(order.begin(), order.end(), 0);
            std::stable_sort(order.begin(), order.end(),
                             [&](int a, int b) { return times[a] < times[b]; });
            QByteArrayList expected;
            for (int i : order) {
                if (group.isEmpty() || i % 3 == 1)
                    expected << "r" + QByteArray::number(i);
            }
            const int n = LogSelect(group.isEmpty() ? nullptr : group.constData(), nullptr);
            QCOMPARE(Messages(n), expected);
        }
    }

    void legacyFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("utf8");
        QStringEncoder big5("Big5");
        QVERIFY(big5.isValid());
        const QByteArray north = big5.encode(QStringLiteral("北區泵站"));
        const QByteArray south = big5.encode(QStringLiteral("南區水廠"));
        QTest::newRow("Big5") << QByteArray("03/07/2024 14:05:09 [" + north + "] " +
                                            big5.encode(QStringLiteral("水位過高")) +
                                            "\r\n03/07/2024 14:06:00 [" + south +
                                            "] ok\r\n03/07/2024 14:07:00 [" + north + "] " +
                                            big5.encode(QStringLiteral("泵浦故障")) + "\r\n")
                              << 0;
        QTest::newRow("UTF-8") << kSample << 1;
        QTest::newRow("ASCII with a NUL")
            << QByteArray("03/07/2024 14:05:09 [A] x") + QByteArray(1, '\0') + "\r\n"
            << 1;
        QTest::newRow("UTF-8 cut inside a character")
            << kSample + "03/07/2024 14:05:09 [A] \xE6\xB0\r\n"
            << 0;
    }
    void legacyFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, utf8);
        QCOMPARE(LogIsUtf8(), -1);
        const int total = Open(content);
        QVERIFY(total > 0);
        QCOMPARE(LogIsUtf8(), utf8);
        // Groups come out as the file's bytes, and those bytes select them.
        QByteArrayList names;
        int selected = 0;
        for (const QByteArray &name : Groups()) {
            QVERIFY(content.contains("[" + name + "]"));
            names << name;
            const int n = LogSelect(name.constData(), nullptr);
            QVERIFY(n > 0);
            for (int i = 0; i < n; ++i)
                QCOMPARE(GetRecord(i).group, name);
            selected += n;
        }
        QByteArrayList sorted = names;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(names, sorted);
        QCOMPARE(selected + LogSelect("", nullptr), total);
        // Texts are the file's bytes too.
        LogSelect(nullptr, nullptr);
        for (int i = 0; i < total; ++i) {
            const Record r = GetRecord(i);
            const QByteArray caller = r.group.isEmpty() ? "" : " [" + r.group + "]";
            QVERIFY(content.contains(r.time + caller + " " + r.message) ||
                    r.message.contains("\xE2\x90\x80"));
        }
    }

    void refresh_data()
    {
        QTest::addColumn<QByteArray>("select"); // a group, "<null>" or "range"
        QTest::addColumn<QByteArray>("action"); // bytes to append, or "<replace>", ...
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("firstChanged");
        QTest::addColumn<QByteArrayList>("messages");

        const QByteArray any("<null>");
        QTest::newRow("appended in order")
            << any << QByteArray("03/01/2024 11:00:00 [B] four\r\n") << 4 << 3
            << QByteArrayList{"one", "two", "three", "four"};
        QTest::newRow("appended out of order")
            << any << QByteArray("03/01/2024 08:30:00 [B] early\r\n") << 4 << 1
            << QByteArrayList{"one", "early", "two", "three"};
        QTest::newRow("same second goes after")
            << any << QByteArray("03/01/2024 09:00:00 [C] tie\r\n") << 4 << 2
            << QByteArrayList{"one", "two", "tie", "three"};
        QTest::newRow("only the selected group")
            << QByteArray("A")
            << QByteArray("03/01/2024 11:00:00 [B] four\r\n03/01/2024 07:00:00 [A] zero\r\n") << 5
            << 0 << QByteArrayList{"zero", "one", "three"};
        QTest::newRow("group that did not exist yet")
            << QByteArray("C") << QByteArray("03/01/2024 12:00:00 [C] new\r\n") << 4 << 0
            << QByteArrayList{"new"};
        QTest::newRow("time filter of the selection")
            << QByteArray("range")
            << QByteArray("03/01/2024 12:00:00 [A] out\r\n03/01/2024 08:15:00 [A] in\r\n") << 5 << 1
            << QByteArrayList{"one", "in", "two"};
        QTest::newRow("further line of the last record")
            << any << QByteArray(" more\r\n") << 3 << 2
            << QByteArrayList{"one", "two", "three\r\nmore"};
        QTest::newRow("last line had no line end")
            << any << QByteArray("<unterminated>") << 4 << 2
            << QByteArrayList{"one", "two", "three and the rest", "four"};
        QTest::newRow("nothing new")
            << any << QByteArray() << 3 << 3 << QByteArrayList{"one", "two", "three"};
        QTest::newRow("file gone for now")
            << any << QByteArray("<remove>") << 3 << 3 << QByteArrayList{"one", "two", "three"};
        QTest::newRow("replaced") << any << QByteArray("<replace>") << -1 << 3
                                  << QByteArrayList{"one", "two", "three"};
        // The old records are no longer in the file: unreadable, not fatal.
        QTest::newRow("cut short")
            << any << QByteArray("<truncate>") << -1 << 3 << QByteArrayList{"", "", ""};
    }
    void refresh()
    {
        QFETCH(QByteArray, select);
        QFETCH(QByteArray, action);
        QFETCH(int, total);
        QFETCH(int, firstChanged);
        QFETCH(QByteArrayList, messages);
        const bool unterminated = action == "<unterminated>";
        const QString path = Write("03/01/2024 08:00:00 [A] one\r\n"
                                   "03/01/2024 09:00:00 [B] two\r\n"
                                   "03/01/2024 10:00:00 [A] three" +
                                   QByteArray(unterminated ? "" : "\r\n"));
        const QByteArray name = QFile::encodeName(path);
        QCOMPARE(LogRefresh(nullptr, nullptr), -1); // no file
        QCOMPARE(LogOpen(name.constData()), 3);
        if (select == "range")
            QCOMPARE(LogSetTimeRange("03/01/2024", "08:00:00", "03/01/2024", "09:30:00"), 1);
        const char *group = select == "<null>" || select == "range" ? nullptr : select.constData();
        const int before = LogSelect(group, nullptr);
        // Set after the selection: the selection keeps the filter it had.
        LogSetTimeRange(nullptr, nullptr, nullptr, nullptr);

        if (action == "<remove>") {
            QVERIFY(QFile::remove(path));
        } else if (action == "<replace>") {
            const QString other = m_dir.filePath("other.log");
            QFile f(other);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kSample);
            f.close();
            QVERIFY(::rename(QFile::encodeName(other).constData(), name.constData()) == 0);
        } else if (action == "<truncate>") {
            QVERIFY(QFile::resize(path, 20));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append));
            f.write(unterminated ? " and the rest\r\n03/01/2024 11:00:00 [B] four\r\n" : action);
        }
        int32_t selected = -5;
        int32_t changed = -5;
        QCOMPARE(LogRefresh(&selected, &changed), total);
        QCOMPARE(changed, total < 0 ? 0 : firstChanged);
        if (total < 0) {
            // Nothing changed; the file must be opened again.
            QCOMPARE(Messages(before), messages);
            return;
        }
        QCOMPARE(selected, int(messages.size()));
        QCOMPARE(Messages(selected), messages);
        // Asked for the same again, the selection is what the refresh made.
        if (select == "range")
            LogSetTimeRange("03/01/2024", "08:00:00", "03/01/2024", "09:30:00");
        QCOMPARE(LogSelect(group, nullptr), selected);
        QCOMPARE(Messages(selected), messages);
        LogSetTimeRange(nullptr, nullptr, nullptr, nullptr);
        // What a refresh gives is what opening the file afresh gives.
        if (!action.startsWith('<') || unterminated) {
            QCOMPARE(LogOpen(name.constData()), total);
            if (select == "range")
                LogSetTimeRange("03/01/2024", "08:00:00", "03/01/2024", "09:30:00");
            QCOMPARE(LogSelect(group, nullptr), selected);
            QCOMPARE(Messages(selected), messages);
        }
    }

    void utf8VerdictWhateverThePieces()
    {
        // Whole pieces go 32 bytes at a time, single bytes one by one: both
        // must judge alike, wherever a sequence falls.
        const QByteArrayList samples{"plain",
                                     "\xC2\xA9",
                                     "\xE6\xB0\xB4",
                                     "\xF0\x9F\x98\x80",
                                     "\xED\x9F\xBF",
                                     "\xEF\xBF\xBF",
                                     "\xF4\x8F\xBF\xBF",
                                     "\xC0\x80",
                                     "\xC1\xBF",
                                     "\xE0\x80\x80",
                                     "\xE0\x9F\xBF",
                                     "\xED\xA0\x80",
                                     "\xF0\x8F\xBF\xBF",
                                     "\xF4\x90\x80\x80",
                                     "\xF5\x80\x80\x80",
                                     "\xFF",
                                     "\x80",
                                     "\xBF\x80",
                                     "\xE6\xB0",
                                     "\xF0\x9F\x98",
                                     "\xC2",
                                     "\xA4\x6A",
                                     "\xE6\x41\xB4"};
        QRandomGenerator random(17);
        for (int round = 0; round < 4000; ++round) {
            // The first rounds end a long piece with a character left open.
            QByteArray text = round < 8 ? QByteArray(60 + round, 'a') + "\xCF" : QByteArray();
            const int parts = round < 8 ? 0 : 1 + int(random.bounded(12));
            for (int i = 0; i < parts; ++i) {
                text += QByteArray(int(random.bounded(40)), 'a');
                text += samples[int(random.bounded(samples.size()))];
            }
            if (random.bounded(4) == 0)
                text.chop(int(random.bounded(3)));
            tamsin::Utf8Check whole;
            whole.Feed(text.constData(), size_t(text.size()));
            tamsin::Utf8Check bytes;
            for (char c : text)
                bytes.Feed(&c, 1);
            QVERIFY2(whole.Good() == bytes.Good() && whole.Complete() == bytes.Complete(),
                     text.toHex().constData());
            QCOMPARE(whole.Good(), QString::fromUtf8(text).toUtf8() == text ||
                                       (bytes.Good() && !bytes.Complete()));
        }
    }

    void longLineCostsItsOwnSize()
    {
        // A line of 64 MiB: the index must not hold it, and the record's
        // message may cost its own size once, not a copy besides.
        constexpr qsizetype kLine = qsizetype(64) << 20;
        const QString path = m_dir.filePath("long.log");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("03/01/2024 08:00:00 [Long] ");
            const QByteArray block(1 << 20, 'x');
            for (qsizetype done = 0; done < kLine; done += block.size())
                f.write(block);
            f.write("\r\n03/01/2024 07:00:00 [B] short\r\n");
        }
        const bool measured = ResetPeak();
        long base = StatusKiB("VmRSS:");
        QCOMPARE(LogOpen(QFile::encodeName(path).constData()), 2);
        const long openPeak = StatusKiB("VmHWM:") - base;
        QCOMPARE(Groups(), (QByteArrayList{"B", "Long"}));
        QCOMPARE(GetRecord(0).message, QByteArray("short"));

        ResetPeak();
        base = StatusKiB("VmRSS:");
        const char *m = nullptr;
        QCOMPARE(LogGetRecord(1, nullptr, nullptr, nullptr, &m, nullptr, nullptr), 1);
        QCOMPARE(qsizetype(std::strlen(m)), kLine);
        QVERIFY(m[0] == 'x' && m[kLine - 1] == 'x');
        const long readPeak = StatusKiB("VmHWM:") - base;
        qInfo("peaks: open %ld KiB, read %ld KiB", openPeak, readPeak);
        LogClose();
        QFile::remove(path);
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer's allocator keeps freed memory resident");
#endif
        if (!measured)
            QSKIP("this kernel cannot reset the peak of resident memory");
        const long lineKiB = long(kLine / 1024);
        QVERIFY2(openPeak < 8 * 1024, qPrintable(QString::number(openPeak)));
        QVERIFY2(readPeak < lineKiB + lineKiB / 10, qPrintable(QString::number(readPeak)));
    }

    void fileBeyondFourGiB()
    {
        // A sparse file: records, a hole past 4 GiB, records. The hole is
        // never read, neither by the index nor for the record it ends.
        const QString path = m_dir.filePath("huge.log");
        const QByteArray name = QFile::encodeName(path);
        const off_t far = (off_t(5) << 30) + 123;
        {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0);
            const QByteArray head("03/01/2024 08:00:00 [A] before\r\n");
            const QByteArray tail("\r\n03/01/2024 09:00:00 [B] after one\r\n"
                                  "03/01/2024 08:30:00 [B] after two\r\n");
            QVERIFY(::pwrite(fd, head.constData(), size_t(head.size()), 0) == head.size());
            QVERIFY(::pwrite(fd, tail.constData(), size_t(tail.size()), far) == tail.size());
            ::close(fd);
        }
        QCOMPARE(LogOpen(name.constData()), 3);
        QCOMPARE(LogIsUtf8(), 1);
        QCOMPARE(Messages(3), (QByteArrayList{"before\r\n\xE2\x90\x80", "after two", "after one"}));
        QCOMPARE(LogSelect("B", nullptr), 2);
        QCOMPARE(GetRecord(1).time, QByteArray("03/01/2024 09:00:00"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append));
            f.write("03/01/2024 08:45:00 [B] appended\r\n");
        }
        int32_t selected = 0;
        QCOMPARE(LogRefresh(&selected, nullptr), 4);
        QCOMPARE(Messages(selected), (QByteArrayList{"after two", "appended", "after one"}));
        LogClose();
        QVERIFY(QFile::remove(path));
    }

    void folderSyncFailure_data()
    {
        QTest::addColumn<int>("failing"); // 1 folders, 2 files
        QTest::addColumn<int>("deleted");
        QTest::addColumn<int>("exported");
        // Renamed, but the folder not synced: the records are gone, and
        // saying otherwise would tell the user the file is as it was. An
        // export must be sure of its copy before the source loses anything.
        QTest::newRow("folder sync fails") << 1 << 1 << 0;
        QTest::newRow("file sync fails") << 2 << 0 << 0;
    }
    void folderSyncFailure()
    {
        QFETCH(int, failing);
        QFETCH(int, deleted);
        QFETCH(int, exported);
        const QString source = Write(kSample);
        const QByteArray name = QFile::encodeName(source);
        const int32_t key = LogTimeKey("03/03/2024", "00:00:00");
        QCOMPARE(LogOpen(name.constData()), 7);
        g_failSync = failing;
        const int32_t exportResult =
            LogExportBefore(key, QFile::encodeName(m_dir.filePath("old.log")).constData());
        const int32_t deleteResult = LogDeleteBefore(key, name.constData());
        g_failSync = 0;
        QCOMPARE(exportResult, exported);
        QCOMPARE(deleteResult, deleted);
        QCOMPARE(ReadAll(source) == kSample, deleted == 0);
        QCOMPARE(LogOpen(name.constData()), deleted ? 3 : 7);
    }

    void closeIsHarmless()
    {
        QCOMPARE(LogClose(), 0);
        QCOMPARE(Open(kSample), 7);
        QCOMPARE(LogClose(), 1);
        QCOMPARE(LogClose(), 0);
        QCOMPARE(LogHasGroup(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTamsin)
#include "tst_tamsin.moc"
