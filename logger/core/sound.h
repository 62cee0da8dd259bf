#pragma once
// The alert sound: the wave file plays over and over from the first new
// message until the operator silences it.

#include <QString>
#include <memory>

namespace quillet {

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

// Installs the player (the default plays through Qt Multimedia); returns the
// previous one.
std::unique_ptr<SoundPlayer> SetSoundPlayer(std::unique_ptr<SoundPlayer> player);

void PlaySoundAlert();
void StopSoundAlert();
// One tick of tmrMCI: a finished sound starts again from the beginning.
void SoundAlertTick();

} // namespace quillet
