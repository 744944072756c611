#pragma once

#include <QObject>

#include "SoundPlayer.h"

// Plays wave files through the desktop's sound service, several at once if events overlap.
// Without a sound service nothing is heard and nothing else happens.
class WaveSoundPlayer : public SoundPlayer
{
public:
    void Play(const QString& path) override;

private:
    // Parent of the effects still playing; each is deleted when it ends or fails.
    QObject playing;
};
