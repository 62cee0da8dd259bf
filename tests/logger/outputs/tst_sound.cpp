// The alert sound: its three states, what starts, repeats and silences it, and
// the real player's behaviour with a file that cannot be played.

#include "globals.h"
#include "sound.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace quillet;

namespace {

struct PlayerLog
{
    QStringList calls;
    QString openedPath;
    bool finished = false; // what the fake answers to the mode query
};

class FakePlayer : public SoundPlayer
{
public:
    explicit FakePlayer(PlayerLog *log) : m_log(log) {}
    void open(const QString &fullPath) override
    {
        m_log->calls << QStringLiteral("open");
        m_log->openedPath = fullPath;
        m_log->finished = false;
    }
    void play() override
    {
        m_log->calls << QStringLiteral("play");
        m_log->finished = false;
    }
    bool isStopped() const override { return m_log->finished; }
    void rewind() override { m_log->calls << QStringLiteral("rewind"); }
    void close() override { m_log->calls << QStringLiteral("close"); }

private:
    PlayerLog *m_log;
};

enum class State
{
    Silent,
    Sounding,
    Silenced
};

State currentState(const SoundAlert &sound)
{
    if (!sound.IsSoundPlaying && !sound.IsSoundClosed)
        return State::Silent;
    if (sound.IsSoundPlaying && !sound.IsSoundClosed)
        return State::Sounding;
    if (!sound.IsSoundPlaying && sound.IsSoundClosed)
        return State::Silenced;
    return State(-1);
}

// A minimal PCM wave file: 0.1 s of silence, 8 kHz, 8 bit, mono.
QByteArray silentWave()
{
    const quint32 samples = 800;
    QByteArray w;
    QDataStream out(&w, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + samples);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(8000) << quint16(1)
        << quint16(8);
    out.writeRawData("data", 4);
    out << samples;
    w.append(QByteArray(int(samples), char(0x80)));
    return w;
}

} // namespace

class tst_Sound : public QObject
{
    Q_OBJECT

private:
    PlayerLog m_log;
    std::unique_ptr<SoundAlert> m_sound;

private slots:
    void init()
    {
        G = GlobalState{};
        G.IsUseSoundAlert = true;
        G.SoundFilePath = QStringLiteral("Notify.wav");
        m_log = PlayerLog{};
        m_sound = std::make_unique<SoundAlert>();
        m_sound->setPlayer(std::make_unique<FakePlayer>(&m_log));
    }
    void cleanup()
    {
        m_sound->StopSoundAlert();
        m_sound.reset();
    }

    // Steps: m = a received message, t = a tick of tmrMCI, s = the operator
    // silences, e = the wave file reaches its end, o = the setting is turned
    // off, n = the setting is turned on again.
    void stateTable_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("timer");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("first message starts it")
            << "m" << int(State::Sounding) << true << QStringList{"open", "play"};
        QTest::newRow("two messages start it once")
            << "mm" << int(State::Sounding) << true << QStringList{"open", "play"};
        QTest::newRow("silencing closes and stops the timer")
            << "ms" << int(State::Silenced) << false << QStringList{"open", "play", "close"};
        QTest::newRow("silence then a new message starts it again")
            << "msm" << int(State::Sounding) << true
            << QStringList{"open", "play", "close", "open", "play"};
        QTest::newRow("tick leaves a playing sound alone")
            << "mtt" << int(State::Sounding) << true << QStringList{"open", "play"};
        QTest::newRow("tick restarts a finished sound from the start")
            << "mete" << int(State::Sounding) << true
            << QStringList{"open", "play", "rewind", "play"};
        QTest::newRow("setting off does not stop it")
            << "mometm" << int(State::Sounding) << true
            << QStringList{"open", "play", "rewind", "play"};
        QTest::newRow("setting off: messages stay silent")
            << "omm" << int(State::Silent) << false << QStringList{};
        QTest::newRow("silenced, setting off: stays silenced")
            << "msom" << int(State::Silenced) << false << QStringList{"open", "play", "close"};
        QTest::newRow("on again after off")
            << "omnm" << int(State::Sounding) << true << QStringList{"open", "play"};
    }
    void stateTable()
    {
        QFETCH(QString, steps);
        QFETCH(int, state);
        QFETCH(bool, timer);
        QFETCH(QStringList, calls);
        QCOMPARE(currentState(*m_sound), State::Silent);
        QVERIFY(!m_sound->tmrMCI.isActive());
        for (const QChar step : steps) {
            switch (step.toLatin1()) {
            case 'm':
                m_sound->PlaySoundAlert();
                break;
            case 't':
                m_sound->SoundAlertTick();
                break;
            case 's':
                m_sound->StopSoundAlert();
                break;
            case 'e':
                m_log.finished = true;
                break;
            case 'o':
                G.IsUseSoundAlert = false;
                break;
            case 'n':
                G.IsUseSoundAlert = true;
                break;
            }
        }
        QCOMPARE(int(currentState(*m_sound)), state);
        QCOMPARE(m_sound->tmrMCI.isActive(), timer);
        QCOMPARE(m_log.calls, calls);
    }

    void timerTicksRestartTheSound()
    {
        // The loop runs on tmrMCI itself, not on direct calls.
        m_sound->PlaySoundAlert();
        QCOMPARE(m_sound->tmrMCI.interval(), 1000);
        m_log.finished = true;
        QTRY_COMPARE_WITH_TIMEOUT(m_log.calls.count(QStringLiteral("play")), 2, 5000);
        QCOMPARE(m_log.calls.count(QStringLiteral("rewind")), 1);
    }

    void pathHandedOverWhole()
    {
        QTemporaryDir dir;
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        G.SoundFilePath = QStringLiteral("alert sounds/my  alarm #1.wav");
        m_sound->PlaySoundAlert();
        QDir::setCurrent(old);
        QCOMPARE(m_log.openedPath, dir.path() + QStringLiteral("/alert sounds/my  alarm #1.wav"));
    }

    void realPlayerCopesWithBadFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::newRow("missing file") << QByteArray();
        QTest::newRow("not a wave file") << QByteArray("this is text, not sound");
        QTest::newRow("short silent wave") << silentWave();
    }
    void realPlayerCopesWithBadFiles()
    {
        QFETCH(QByteArray, content);
        m_sound->setPlayer(nullptr);
        QTemporaryDir dir;
        G.SoundFilePath = dir.filePath(QStringLiteral("alert.wav"));
        if (!content.isEmpty()) {
            QFile f(G.SoundFilePath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        m_sound->PlaySoundAlert();
        QCOMPARE(currentState(*m_sound), State::Sounding);
        QVERIFY(m_sound->tmrMCI.isActive());
        // Let the back end load (or fail) and the loop tick a few times.
        QTest::qWait(1200);
        m_sound->SoundAlertTick();
        m_sound->StopSoundAlert();
        QCOMPARE(currentState(*m_sound), State::Silenced);
        QVERIFY(!m_sound->tmrMCI.isActive());
        m_sound->PlaySoundAlert();
        QCOMPARE(currentState(*m_sound), State::Sounding);
    }
};

QTEST_MAIN(tst_Sound)
#include "tst_sound.moc"
