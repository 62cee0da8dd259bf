// The simulator's pure parts: its line syntax and how it finds requests in
// the byte stream.

#include "frames.h"
#include "messageline.h"

#include <QTest>

using namespace devsim;

class TestDevSimParts : public QObject
{
    Q_OBJECT
private slots:
    void quotedValueReadsBack_data();
    void quotedValueReadsBack();
    void brokenLinesAreRefused_data();
    void brokenLinesAreRefused();
    void wordsSplitAtUnquotedBlanks();
    void requestsFoundInStream_data();
    void requestsFoundInStream();
};

void TestDevSimParts::quotedValueReadsBack_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "Pump3";
    QTest::newRow("empty") << "";
    QTest::newRow("blanks and commas") << "Level low, tank 2";
    QTest::newRow("quotes") << "say \"hi\"";
    QTest::newRow("backslash") << "C:\\x\\n";
    QTest::newRow("line breaks") << "one\r\ntwo\nthree";
    QTest::newRow("equals sign") << "a=b";
    QTest::newRow("control byte") << QString("bell") + QChar(7);
    QTest::newRow("chinese") << QString::fromUtf8("水位過低");
}

void TestDevSimParts::quotedValueReadsBack()
{
    QFETCH(QString, value);
    QList<Word> words;
    QString error;
    QVERIFY2(ParseWords("text=" + QuoteValue(value) + " next", words, error), qPrintable(error));
    QCOMPARE(words.size(), 2);
    QCOMPARE(words[0].key, QString("text"));
    QCOMPARE(words[0].value, value);
    QCOMPARE(words[1].value, QString("next"));
}

void TestDevSimParts::brokenLinesAreRefused_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("open quote") << "text=\"abc";
    QTest::newRow("lone backslash") << "text=abc\\";
    QTest::newRow("short hex escape") << "text=\\x4";
    QTest::newRow("bad unicode escape") << "text=\\u12G4";
}

void TestDevSimParts::brokenLinesAreRefused()
{
    QFETCH(QString, line);
    QList<Word> words;
    QString error;
    QVERIFY(!ParseWords(line, words, error));
    QVERIFY(!error.isEmpty());
}

void TestDevSimParts::wordsSplitAtUnquotedBlanks()
{
    QList<Word> words;
    QString error;
    QVERIFY(ParseWords("  exception 160  text=a\\ b \"x=y\" k=\"v=w\" \\u4F60", words, error));
    QCOMPARE(words.size(), 6);
    QCOMPARE(words[0].value, QString("exception"));
    QCOMPARE(words[1].value, QString("160"));
    QCOMPARE(words[2].key, QString("text"));
    QCOMPARE(words[2].value, QString("a b"));
    QVERIFY(words[3].key.isEmpty()); // a quoted '=' does not make a key
    QCOMPARE(words[3].value, QString("x=y"));
    QCOMPARE(words[4].key, QString("k"));
    QCOMPARE(words[4].value, QString("v=w"));
    QCOMPARE(words[5].value, QString(QChar(0x4F60)));
}

void TestDevSimParts::requestsFoundInStream_data()
{
    // Chunks arrive one after the other; "|" in a chunk list marks a pause
    // long enough to end a half-received request.
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("expected");

    // Requests as the logger sends them.
    const QByteArray regs = WithCRC(QByteArray::fromHex("f70400020004"));
    const QByteArray poll = WithCRC(QByteArray::fromHex("f75066"));
    // AT text whose bytes include the station number and the poll's bytes.
    const QByteArray at = WithCRC(QByteArray::fromHex("f7506500054154f75066"));
    QByteArray spoiled = regs;
    spoiled[6] = char(spoiled[6] ^ 0x40);
    const QByteArray other = WithCRC(QByteArray::fromHex("010400020004"));
    const QByteArray unknown = WithCRC(QByteArray::fromHex("f7030000000a"));

    QTest::newRow("one chunk") << QList<QByteArray>{regs} << QList<QByteArray>{regs};
    QList<QByteArray> bytes;
    for (char c : at)
        bytes << QByteArray(1, c);
    QTest::newRow("byte by byte") << bytes << QList<QByteArray>{at};
    QTest::newRow("back to back") << QList<QByteArray>{poll + at + regs}
                                  << QList<QByteArray>{poll, at, regs};
    QTest::newRow("noise first") << QList<QByteArray>{QByteArray::fromHex("00f7ff") + poll}
                                 << QList<QByteArray>{poll};
    QTest::newRow("bad crc skipped")
        << QList<QByteArray>{spoiled + poll} << QList<QByteArray>{poll};
    QTest::newRow("other station") << QList<QByteArray>{other, poll} << QList<QByteArray>{poll};
    QTest::newRow("unknown function by its crc")
        << QList<QByteArray>{unknown.left(3), unknown.mid(3)} << QList<QByteArray>{unknown};
    QTest::newRow("half request then pause")
        << QList<QByteArray>{at.left(6), "|", regs} << QList<QByteArray>{regs};
    QTest::newRow("length announced but never sent")
        << QList<QByteArray>{QByteArray::fromHex("f7506500ff41"), "|", poll}
        << QList<QByteArray>{poll};
}

void TestDevSimParts::requestsFoundInStream()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, expected);
    FrameAssembler assembler;
    QList<QByteArray> found;
    for (const QByteArray &chunk : chunks)
        found += chunk == "|" ? assembler.gap() : assembler.feed(chunk);
    found += assembler.gap();
    QCOMPARE(found, expected);
    QVERIFY(!assembler.pending());
}

QTEST_GUILESS_MAIN(TestDevSimParts)
#include "tst_devsimparts.moc"
