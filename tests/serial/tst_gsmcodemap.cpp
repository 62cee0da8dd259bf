// The code map loader's line rules, and the GSM and UCS2 conversions built on
// the tables it fills.
#include "boxrecorder.h"
#include "gsmcodemapfile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quillet;

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    f.write(content);
    return path;
}

// Codes 0..count-1 mapped to U+0100 + code, plain four-digit form.
QByteArray plainMap(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += QByteArray::number(i, 16).rightJustified(4, '0') + ' ' +
               QByteArray::number(0x100 + i, 16).rightJustified(4, '0') + '\n';
    return out;
}

} // namespace

class TestGsmCodeMap : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void shippedMapLoads();
    void lineRules_data();
    void lineRules();
    void decoratedAndPlainFilesLoadTheSame();
    void loadResult_data();
    void loadResult();
    void missingFileShowsBox();
    void laterLineReplacesEarlier();
    void textToGsm_data();
    void textToGsm();
    void basicCodeWinsOverExtension();
    void gsmToText_data();
    void gsmToText();
    void split_data();
    void split();
    void ucs2_data();
    void ucs2();
    void ucs2Decoding_data();
    void ucs2Decoding();

private:
    QTemporaryDir m_dir;
    GSMCodeMap m_map;
};

void TestGsmCodeMap::init()
{
    m_map = GSMCodeMap{};
}

void TestGsmCodeMap::shippedMapLoads()
{
    test::BoxRecorder boxes;
    QVERIFY(LoadGSMCodeMap(m_map, QStringLiteral(QUILLET_GSMCODEMAP_FILE)));
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(m_map.basic(0x00), QStringLiteral("@"));
    QCOMPARE(m_map.basic(0x02), QStringLiteral("$"));
    QCOMPARE(m_map.basic(0x11), QStringLiteral("_"));
    QCOMPARE(m_map.basic(0x24), QString(QChar(0x00A4)));
    QCOMPARE(m_map.basic(0x41), QStringLiteral("A"));
    QCOMPARE(m_map.basic(0x7F), QString(QChar(0x00E0)));
    QCOMPARE(m_map.extension(0x65), QString(QChar(0x20AC)));
    QCOMPARE(m_map.extension(0x28), QStringLiteral("{"));
    QCOMPARE(m_map.extension(0x41), QString());
}

void TestGsmCodeMap::lineRules_data()
{
    // `table` is "basic", "ext" or "" (line ignored); `character` the code unit set.
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("character");

    QTest::newRow("tabs, prefixes, comment") << "0x41\t0x0041\t# LATIN CAPITAL LETTER A"
                                             << "basic" << 0x41 << 0x41;
    QTest::newRow("extension, euro") << "0x1B65 0x20AC"
                                     << "ext" << 0x65 << 0x20AC;
    QTest::newRow("short fields") << "00 40"
                                  << "basic" << 0 << 0x40;
    QTest::newRow("two-digit second column") << "0x42 41"
                                             << "basic" << 0x42 << 0x41;
    QTest::newRow("upper-case prefix") << "0X43 0X00C7"
                                       << "basic" << 0x43 << 0xC7;
    QTest::newRow("blanks around and between") << "   0x44 \t\t  0x0044   "
                                               << "basic" << 0x44 << 0x44;
    QTest::newRow("digits after the fourth ignored") << "0x45 00459999"
                                                     << "basic" << 0x45 << 0x45;
    QTest::newRow("hex read up to a non-hex digit") << "0x46 4G"
                                                    << "basic" << 0x46 << 0x04;
    QTest::newRow("other high byte goes to basic") << "4147 0x0047"
                                                   << "basic" << 0x47 << 0x47;
    QTest::newRow("lower-case hex") << "0x1b3c 0x005b"
                                    << "ext" << 0x3C << 0x5B;
    QTest::newRow("comment line") << "# 0x41 0x0041"
                                  << "" << 0x41 << 0;
    QTest::newRow("comment after blanks") << "  #0x41 0x0041"
                                          << "" << 0x41 << 0;
    QTest::newRow("one field") << "0x41"
                               << "" << 0x41 << 0;
    QTest::newRow("empty") << ""
                           << "" << 0 << 0;
    QTest::newRow("blanks only") << " \t "
                                 << "" << 0 << 0;
    QTest::newRow("code 128 and up") << "0x80 0x0041"
                                     << "" << 0 << 0;
    QTest::newRow("extension code 128 and up") << "0x1BFF 0x0041"
                                               << "" << 0x7F << 0;
}

void TestGsmCodeMap::lineRules()
{
    QFETCH(QString, line);
    QFETCH(QString, table);
    QFETCH(int, index);
    QFETCH(int, character);

    QCOMPARE(m_map.applyLine(line), !table.isEmpty());
    for (int i = 0; i < 128; ++i) {
        const QString want = QString(QChar(char16_t(character)));
        QCOMPARE(m_map.basic(i), table == "basic" && i == index ? want : QString());
        QCOMPARE(m_map.extension(i), table == "ext" && i == index ? want : QString());
    }
}

void TestGsmCodeMap::decoratedAndPlainFilesLoadTheSame()
{
    QByteArray decorated = "# header\n\n";
    for (int i = 0; i < 128; ++i)
        decorated += "0x" + QByteArray::number(i, 16).rightJustified(2, '0') + "\t0x" +
                     QByteArray::number(0x100 + i, 16).rightJustified(4, '0') + "\t# NAME " +
                     QByteArray::number(i) + "\r\n";
    decorated += "0x1B65\t0x20AC\t# EURO SIGN"; // no line end on the last line
    const QByteArray plain = plainMap(128) + "1B65 20AC\n";

    QVERIFY(LoadGSMCodeMap(m_map, writeFile(m_dir, "decorated.cod", decorated)));
    QStringList first;
    for (int i = 0; i < 128; ++i)
        first << m_map.basic(i) << m_map.extension(i);
    m_map = GSMCodeMap{};
    QVERIFY(LoadGSMCodeMap(m_map, writeFile(m_dir, "plain.cod", plain)));
    QStringList second;
    for (int i = 0; i < 128; ++i)
        second << m_map.basic(i) << m_map.extension(i);
    QCOMPARE(first, second);
    QCOMPARE(m_map.basic(127), QString(QChar(0x17F)));
    QCOMPARE(m_map.extension(0x65), QString(QChar(0x20AC)));
}

void TestGsmCodeMap::loadResult_data()
{
    QTest::addColumn<bool>("preloaded");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("result");

    QTest::newRow("all 128") << false << plainMap(128) << true;
    QTest::newRow("0 to 126 only") << false << plainMap(127) << false;
    QTest::newRow("extension table may have gaps") << false << plainMap(128) + "1B65 20AC\n"
                                                   << true;
    // A load applies over the map it is given: a partial file tops up what an
    // earlier load filled.
    QTest::newRow("partial file over full tables") << true << plainMap(3) << true;
    // An empty file names nothing; it must not pass on the strength of an earlier load.
    QTest::newRow("empty file") << true << QByteArray() << false;
    QTest::newRow("comments only") << true << QByteArray("# nothing\n\n") << false;
}

void TestGsmCodeMap::loadResult()
{
    QFETCH(bool, preloaded);
    QFETCH(QByteArray, content);
    QFETCH(bool, result);

    if (preloaded)
        QVERIFY(LoadGSMCodeMap(m_map, writeFile(m_dir, "full.cod", plainMap(128))));
    test::BoxRecorder boxes;
    QCOMPARE(LoadGSMCodeMap(m_map, writeFile(m_dir, "map.cod", content)), result);
    QCOMPARE(boxes.count(), 0);
}

void TestGsmCodeMap::missingFileShowsBox()
{
    test::BoxRecorder boxes;
    QVERIFY(!LoadGSMCodeMap(m_map, m_dir.filePath("absent.cod")));
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("GSMCodeMap system initialize failed"));
    QCOMPARE(boxes.last().text, QStringLiteral("GSMCodeMap system initialize failed!\r\n"
                                               "File [GSMCodeMap.cod]  not found."));
    QCOMPARE(boxes.last().icon, BoxIcon::Critical);
}

void TestGsmCodeMap::laterLineReplacesEarlier()
{
    QVERIFY(LoadGSMCodeMap(m_map, writeFile(m_dir, "twice.cod", plainMap(128) + "0x41 0x0041\n")));
    QCOMPARE(m_map.basic(0x41), QStringLiteral("A"));
}

void TestGsmCodeMap::textToGsm_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("gsm");
    QTest::addColumn<QString>("unmapped");

    QTest::newRow("ascii") << "AT+CMGR=1\r" << QByteArray("AT+CMGR=1\r") << "";
    QTest::newRow("moved ascii") << "@$_" << QByteArray::fromHex("000211") << "";
    QTest::newRow("latin and greek")
        << QString::fromUtf8("é£ΔÄ") << QByteArray::fromHex("0501105B") << "";
    QTest::newRow("extension") << QString::fromUtf8("{€}") << QByteArray::fromHex("1B281B651B29")
                               << "";
    QTest::newRow("unmapped kept out")
        << QString::fromUtf8("A你B`") << QByteArray("AB") << QString::fromUtf8("你`");
    QTest::newRow("empty") << "" << QByteArray() << "";
}

void TestGsmCodeMap::textToGsm()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, gsm);
    QFETCH(QString, unmapped);
    QVERIFY(LoadGSMCodeMap(m_map, QStringLiteral(QUILLET_GSMCODEMAP_FILE)));

    QByteArray out = "stale";
    QString missing = "stale";
    QCOMPARE(TextToGSM(m_map, text, out, missing), unmapped.isEmpty());
    QCOMPARE(out.toHex(), gsm.toHex());
    QCOMPARE(missing, unmapped);
}

void TestGsmCodeMap::basicCodeWinsOverExtension()
{
    QVERIFY(LoadGSMCodeMap(m_map, writeFile(m_dir, "dup.cod", plainMap(128) + "1B30 0105\n")));
    QByteArray out;
    QString missing;
    QVERIFY(TextToGSM(m_map, QString(QChar(0x105)), out, missing));
    QCOMPARE(out, QByteArray("\x05", 1));
}

void TestGsmCodeMap::gsmToText_data()
{
    QTest::addColumn<QByteArray>("gsm");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("unmapped");

    const QString nbsp(QChar(0x00A0)); // what the shipped map holds for the escape code
    QTest::newRow("ascii") << QByteArray("OK\r\n") << "OK\r\n" << QByteArray();
    QTest::newRow("moved codes") << QByteArray::fromHex("00021105") << QString::fromUtf8("@$_é")
                                 << QByteArray();
    QTest::newRow("escape with entry")
        << QByteArray::fromHex("411B6542") << QString::fromUtf8("A€B") << QByteArray();
    QTest::newRow("escape without entry")
        << QByteArray::fromHex("1B41") << nbsp + "A" << QByteArray();
    QTest::newRow("escape escape")
        << QByteArray::fromHex("1B1B41") << nbsp + nbsp + "A" << QByteArray();
    QTest::newRow("trailing escape") << QByteArray::fromHex("411B") << "A" + nbsp << QByteArray();
    QTest::newRow("high bytes left out")
        << QByteArray::fromHex("41804281FF") << "AB" << QByteArray::fromHex("8081FF");
    // A high byte does not consume a pending escape.
    QTest::newRow("high byte after escape")
        << QByteArray::fromHex("1B9065") << QString::fromUtf8("€") << QByteArray::fromHex("90");
}

void TestGsmCodeMap::gsmToText()
{
    QFETCH(QByteArray, gsm);
    QFETCH(QString, text);
    QFETCH(QByteArray, unmapped);
    QVERIFY(LoadGSMCodeMap(m_map, QStringLiteral(QUILLET_GSMCODEMAP_FILE)));

    QString out = "stale";
    QByteArray missing = "stale";
    QCOMPARE(GSMToText(m_map, gsm, out, missing), unmapped.isEmpty());
    QCOMPARE(out, text);
    QCOMPARE(missing.toHex(), unmapped.toHex());
}

void TestGsmCodeMap::split_data()
{
    QTest::addColumn<QByteArray>("gsm");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QList<QByteArray>>("parts");

    using L = QList<QByteArray>;
    QTest::newRow("empty part kept, none at end")
        << QByteArray("A,B,,C,") << "," << L{"A", "B", "", "C"};
    QTest::newRow("leading delimiter") << QByteArray(",A") << "," << L{"", "A"};
    QTest::newRow("no delimiter") << QByteArray("ABC") << "," << L{"ABC"};
    QTest::newRow("empty input") << QByteArray() << "," << L{};
    QTest::newRow("lines") << QByteArray("+CMGR: x\r\nbody\r\n\r\nOK\r\n") << "\n"
                           << L{"+CMGR: x\r", "body\r", "\r", "OK\r"};
    // An escaped delimiter is two bytes; neither may end up in a part.
    QTest::newRow("extension delimiter")
        << QByteArray::fromHex("611B40621B4063") << "|" << L{"a", "b", "c"};
    QTest::newRow("unmapped delimiter") << QByteArray("A,B") << QString::fromUtf8("你") << L{"A,B"};
}

void TestGsmCodeMap::split()
{
    QFETCH(QByteArray, gsm);
    QFETCH(QString, delimiter);
    QFETCH(QList<QByteArray>, parts);
    QVERIFY(LoadGSMCodeMap(m_map, QStringLiteral(QUILLET_GSMCODEMAP_FILE)));

    QList<QByteArray> out{"stale"};
    int count = -1;
    SplitGSMText(m_map, gsm, delimiter, out, count);
    QCOMPARE(out, parts);
    QCOMPARE(count, int(parts.size()));
}

void TestGsmCodeMap::ucs2_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hex");

    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("latin") << "A"
                           << "0041";
    QTest::newRow("chinese") << QString::fromUtf8("你好") << "4F60597D";
    QTest::newRow("upper-case digits") << QString::fromUtf8("é€") << "00E920AC";
    QTest::newRow("surrogate pair") << QString::fromUtf8("😀") << "D83DDE00";
    QTest::newRow("control") << "\r\n"
                             << "000D000A";
}

void TestGsmCodeMap::ucs2()
{
    QFETCH(QString, text);
    QFETCH(QString, hex);
    QCOMPARE(TextToUCS2Hex(text), hex);
    QCOMPARE(UCS2HexToText(hex), text);
}

void TestGsmCodeMap::ucs2Decoding_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("text");

    QTest::newRow("lower-case") << "4f60" << QString::fromUtf8("你");
    QTest::newRow("short last group") << "004100" << QString("A") + QChar(0);
    QTest::newRow("two-digit last group") << "004142" << QString("A") + QChar(0x4200);
    QTest::newRow("non-hex stops a pair") << "0G41" << QString(QChar(0x0041));
}

void TestGsmCodeMap::ucs2Decoding()
{
    QFETCH(QString, hex);
    QFETCH(QString, text);
    QCOMPARE(UCS2HexToText(hex), text);
}

QTEST_GUILESS_MAIN(TestGsmCodeMap)
#include "tst_gsmcodemap.moc"
