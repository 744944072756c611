#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include "SoundPlayer.h"

class QSoundEffect;

// Plays wave files through the desktop's sound service. One effect is kept per file, so a
// repeated event restarts its sound. When there is no sound service the first attempt says so
// in the log, once, and sounds stay off for the run.
class WaveSoundPlayer : public SoundPlayer
{
public:
    void Play(const QString& path) override;

private:
    // Null when the sound service cannot be reached.
    QSoundEffect* NewEffect();

    bool soundServiceMissing = false;
    // Parent of the effects.
    QObject effectsOwner;
    QHash<QString, QSoundEffect*> effects;
};
