#include "sound.h"

#include "filehelpers.h"
#include "globals.h"
#include "mainwindow.h"

#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace quillet {

namespace {

class EffectPlayer : public SoundPlayer
{
public:
    void open(const QString &fullPath) override
    {
        m_effect = std::make_unique<QSoundEffect>();
        m_effect->setSource(QUrl::fromLocalFile(fullPath));
    }
    void play() override
    {
        if (m_effect)
            m_effect->play();
    }
    // Like the media device's mode query: a file that could not be loaded has
    // no mode, so only a loaded sound that has finished counts as stopped.
    bool isStopped() const override
    {
        return m_effect && m_effect->status() == QSoundEffect::Ready && !m_effect->isPlaying();
    }
    void rewind() override {} // a QSoundEffect always plays from the start
    void close() override { m_effect.reset(); }

private:
    std::unique_ptr<QSoundEffect> m_effect;
};

std::unique_ptr<SoundPlayer> &player()
{
    // Never destroyed: the exit path ends the process without closing the
    // sound, and a media object torn down among the static destructors, after
    // the multimedia back end, can crash the exit.
    static auto *p = new std::unique_ptr<SoundPlayer>(std::make_unique<EffectPlayer>());
    return *p;
}

QTimer *timer()
{
    return G.MainForm ? G.MainForm->tmrMCI : nullptr;
}

} // namespace

std::unique_ptr<SoundPlayer> SetSoundPlayer(std::unique_ptr<SoundPlayer> next)
{
    if (!next)
        next = std::make_unique<EffectPlayer>();
    return std::exchange(player(), std::move(next));
}

void PlaySoundAlert()
{
    if (!G.IsUseSoundAlert)
        return;
    if (G.IsSoundPlaying && !G.IsSoundClosed)
        return; // already sounding: a new message does not restart it
    G.IsSoundClosed = false;
    G.IsSoundPlaying = true;
    // The path is handed over whole: nothing splits it at blanks.
    player()->open(GetFullPath(G.SoundFilePath));
    player()->play();
    if (QTimer *t = timer())
        t->start();
}

void SoundAlertTick()
{
    if (player()->isStopped()) {
        player()->rewind();
        player()->play();
    }
}

void StopSoundAlert()
{
    player()->close();
    G.IsSoundClosed = true;
    G.IsSoundPlaying = false;
    if (QTimer *t = timer())
        t->stop();
}

} // namespace quillet
