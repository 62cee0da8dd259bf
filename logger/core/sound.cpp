#include "sound.h"

#include "filehelpers.h"
#include "globals.h"

#include <QSoundEffect>
#include <QUrl>
#include <utility>

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

} // namespace

SoundAlert::SoundAlert(GlobalState *settings, QObject *parent)
    : QObject(parent), m_settings(settings ? settings : &G),
      m_player(std::make_unique<EffectPlayer>())
{
    tmrMCI.setInterval(1000);
    connect(&tmrMCI, &QTimer::timeout, this, [this] { SoundAlertTick(); });
}

SoundAlert::~SoundAlert() = default;

std::unique_ptr<SoundPlayer> SoundAlert::setPlayer(std::unique_ptr<SoundPlayer> next)
{
    if (!next)
        next = std::make_unique<EffectPlayer>();
    return std::exchange(m_player, std::move(next));
}

void SoundAlert::PlaySoundAlert()
{
    if (!m_settings->IsUseSoundAlert)
        return;
    if (IsSoundPlaying && !IsSoundClosed)
        return; // already sounding: a new message does not restart it
    IsSoundClosed = false;
    IsSoundPlaying = true;
    // The path is handed over whole: nothing splits it at blanks.
    m_player->open(GetFullPath(m_settings->SoundFilePath));
    m_player->play();
    tmrMCI.start();
}

void SoundAlert::SoundAlertTick()
{
    if (m_player->isStopped()) {
        m_player->rewind();
        m_player->play();
    }
}

void SoundAlert::StopSoundAlert()
{
    m_player->close();
    IsSoundClosed = true;
    IsSoundPlaying = false;
    tmrMCI.stop();
}

} // namespace quillet
