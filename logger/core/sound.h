#pragma once
// The alert sound: the wave file plays over and over from the first new
// message until the operator silences it.

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

namespace quillet {

struct GlobalState;

// What the alert needs of a player; tests put a fake in its place.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void open(const QString &fullPath) = 0;
    virtual void play() = 0;
    virtual bool isStopped() const = 0;
    virtual void rewind() = 0;
    virtual void close() = 0;
};

class SoundAlert : public QObject
{
public:
    // Reads IsUseSoundAlert and SoundFilePath from `settings` (the
    // program's by default).
    explicit SoundAlert(GlobalState *settings = nullptr, QObject *parent = nullptr);
    ~SoundAlert() override;

    void setSettings(GlobalState &settings) { m_settings = &settings; }
    // Installs the player (the default plays through Qt Multimedia); returns
    // the previous one.
    std::unique_ptr<SoundPlayer> setPlayer(std::unique_ptr<SoundPlayer> player);

    void PlaySoundAlert();
    void StopSoundAlert();
    // One tick of tmrMCI: a finished sound starts again from the beginning.
    void SoundAlertTick();

    bool IsSoundPlaying = false;
    bool IsSoundClosed = false;
    // 1000 ms, running only while the alert sounds.
    QTimer tmrMCI;

private:
    GlobalState *m_settings;
    std::unique_ptr<SoundPlayer> m_player;
};

} // namespace quillet
