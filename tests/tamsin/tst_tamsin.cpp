// libtamsin through its C interface, on files the tests write: what opens,
// how records read back, group enumeration, filters, time texts, and where
// export and delete cut a file.

#include "logformat.h"
#include "tamsin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
        QTest::newRow("NUL byte late") << QByteArray("03/01/2024 08:00:00 [A] x\r\n"
                                                     "03/01/2024 08:00:01 [A] y") +
                                              QByteArray(1, '\0') + "z\r\n"
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
        QTest::newRow("refused late NUL")
            << QByteArray("03/01/2024 08:00:00 [A] x\r\n") + QByteArray(1, '\0');
        QTest::newRow("refused first line") << QByteArray("\r\nnot a record\r\n");
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
        for (size_t chunk : {size_t(1), size_t(2), size_t(7), size_t(30), size_t(1) << 20}) {
            tamsin::LogIndex read;
            const auto status = read.Read(f.handle(), uint64_t(content.size()), chunk);
            QCOMPARE(status == tamsin::LogIndex::Status::Ok,
                     expected == tamsin::LogIndex::Status::Ok);
            QCOMPARE(read.Count(), whole.Count());
            QCOMPARE(read.Size(), whole.Size());
            for (size_t i = 0; i < whole.Count(); ++i) {
                QCOMPARE(read.Begin(i), whole.Begin(i));
                QCOMPARE(read.Time(i), whole.Time(i));
                QCOMPARE(read.GroupName(read.Group(i)), whole.GroupName(whole.Group(i)));
            }
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
        QCOMPARE(GetRecord(3).message, QByteArray("delayed"));

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
