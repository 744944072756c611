#pragma once

class QString;

// Plays a sound file. The event tool bar plays through one of these so that a test can record
// what would be heard instead.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    // Starts the file and returns at once; a file that cannot be played is skipped quietly.
    virtual void Play(const QString& path) = 0;
};
