// One +CMGR reply fixture, named on the command line after the mode:
//   tst_cmgrfixture accept|refuse FILE
// A fixture holds the raw reply bytes ("reply:" lines, joined) and what the
// parser must make of them ("status:", "phone:", "date:", "sms:", and where
// it matters "concat: 8-bit reference 42, part 2 of 3", "sender-type: 208",
// "complete: when the time is up" for a body short of its length field;
// for a refused one "refusal: profile" or "refusal: unreadable"). Values take
// the escapes \r \n \t \\ \xHH (a byte in a reply, a character in a text)
// and \uHHHH (texts only).
#include "atreply.h"
#include "gsmcodemapfile.h"

#include <QFile>
#include <QTest>

using namespace quillet;

namespace {

// False on a broken escape.
bool unescape(const QString &text, bool bytes, QByteArray &outBytes, QString &outText)
{
    auto put = [&](uint code) {
        if (bytes)
            outBytes.append(char(code));
        else
            outText.append(QChar(char16_t(code)));
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\') {
            if (bytes && c.unicode() > 127)
                return false; // reply bytes beyond ASCII go in as \xHH
            if (bytes)
                outBytes.append(char(c.unicode()));
            else
                outText.append(c);
            continue;
        }
        if (++i >= text.size())
            return false;
        const QChar e = text.at(i);
        if (e == u'r') {
            put('\r');
        } else if (e == u'n') {
            put('\n');
        } else if (e == u't') {
            put('\t');
        } else if (e == u'\\') {
            put('\\');
        } else if (e == u'x' || (e == u'u' && !bytes)) {
            const int digits = e == u'x' ? 2 : 4;
            bool ok = false;
            const uint code = text.mid(i + 1, digits).toUInt(&ok, 16);
            if (!ok || i + digits >= text.size())
                return false;
            put(code);
            i += digits;
        } else {
            return false;
        }
    }
    return true;
}

QString g_mode;
QString g_file;

} // namespace

class TestCMGRFixture : public QObject
{
    Q_OBJECT
    GSMCodeMap m_map;

private slots:
    void initTestCase();
    void parse();
};

void TestCMGRFixture::initTestCase()
{
    QVERIFY(LoadGSMCodeMap(m_map, QStringLiteral(QUILLET_GSMCODEMAP_FILE)));
    QVERIFY2(g_mode == u"accept" || g_mode == u"refuse", "mode must be accept or refuse");
}

void TestCMGRFixture::parse()
{
    QFile file(g_file);
    QVERIFY2(file.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(g_file));
    QByteArray raw;
    QMap<QString, QString> expected;
    bool sawReply = false;
    for (const QByteArray &lineBytes : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(lineBytes);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype colon = line.indexOf(QLatin1String(": "));
        const QString key =
            colon < 0 ? line.chopped(line.endsWith(u':') ? 1 : 0) : line.left(colon);
        const QString value = colon < 0 ? QString() : line.mid(colon + 2);
        QByteArray bytes;
        QString text;
        QVERIFY2(unescape(value, key == u"reply", bytes, text), qPrintable(line));
        if (key == u"reply") {
            raw += bytes;
            sawReply = true;
        } else {
            QVERIFY2(key == u"status" || key == u"phone" || key == u"date" || key == u"sms" ||
                         key == u"concat" || key == u"sender-type" || key == u"refusal" ||
                         key == u"complete",
                     qPrintable(line));
            expected.insert(key, text);
        }
    }
    QVERIFY2(sawReply, "a fixture needs a reply line");

    const CMGRTokens tokens = CMGRTokens::fromCodeMap(m_map);
    QString phone = QStringLiteral("stale"), sms = QStringLiteral("stale"), status;
    QDateTime date;
    const bool parsed = ParseCMGRReply(raw, tokens, phone, date, sms, status);
    if (expected.contains(QStringLiteral("status")))
        QCOMPARE(status, expected.value(QStringLiteral("status")));

    SIMMessage message;
    const CMGRReply read = ReadCMGRTextReply(raw, tokens, message);
    QCOMPARE(read.kind == CMGRRead::Message, parsed);

    if (g_mode == u"refuse") {
        QVERIFY(!parsed);
        QVERIFY(phone.isEmpty());
        QVERIFY(sms.isEmpty());
        const QString refusal = expected.value(QStringLiteral("refusal"));
        if (!refusal.isEmpty())
            QCOMPARE(int(read.kind),
                     int(refusal == u"profile" ? CMGRRead::ProfileLost : CMGRRead::Unreadable));
        return;
    }

    QVERIFY(parsed);
    QCOMPARE(phone, expected.value(QStringLiteral("phone")));
    QCOMPARE(sms, expected.value(QStringLiteral("sms")));
    const QString when = expected.value(QStringLiteral("date"));
    // The stamp as the modem wrote it, in no zone of this host.
    QCOMPARE(date.timeSpec(), Qt::UTC);
    QCOMPARE(date.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
             when == u"zero" ? QStringLiteral("1899-12-30 00:00:00") : when);

    const Concatenation &c = message.concatenation;
    const QString concat = c.isPart() ? QStringLiteral("%1 reference %2, part %3 of %4")
                                            .arg(c.wideReference ? "16-bit" : "8-bit")
                                            .arg(c.reference)
                                            .arg(c.part)
                                            .arg(c.parts)
                                      : QString();
    QCOMPARE(concat, expected.value(QStringLiteral("concat")));
    if (expected.contains(QStringLiteral("sender-type")))
        QCOMPARE(QString::number(message.addressType),
                 expected.value(QStringLiteral("sender-type")));

    // The wait for this reply ends with its final result and not a byte
    // before (or, for a body short of its length, when the time is up),
    // whatever the modem volunteers behind it, and an accepted message is
    // never taken for an error or an empty slot.
    QString text;
    QByteArray unmapped;
    GSMToText(m_map, raw, text, unmapped);
    const bool waits = expected.value(QStringLiteral("complete")) == u"when the time is up";
    QVERIFY(IsCMGRReplyFinished(text));
    QCOMPARE(IsCMGRReplyComplete(text, m_map), !waits);
    QVERIFY(!IsErrorReply(text));
    QVERIFY(!IsEmptySlotReply(text));
    const qsizetype finalEnd = text.lastIndexOf(QLatin1String("\r\nOK\r\n")) + 6;
    for (qsizetype n = 1; n < text.size(); ++n)
        QVERIFY2(IsCMGRReplyComplete(text.left(n), m_map) == (!waits && n >= finalEnd),
                 qPrintable(QString::number(n)));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        fprintf(stderr, "usage: %s accept|refuse FILE [test options]\n", argv[0]);
        return 2;
    }
    g_mode = QString::fromLocal8Bit(argv[1]);
    g_file = QString::fromLocal8Bit(argv[2]);
    std::vector<char *> rest{argv[0]};
    for (int i = 3; i < argc; ++i)
        rest.push_back(argv[i]);
    TestCMGRFixture test;
    return QTest::qExec(&test, int(rest.size()), rest.data());
}

#include "tst_cmgrfixture.moc"
