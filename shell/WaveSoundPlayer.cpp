#include "WaveSoundPlayer.h"

#include <atomic>

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

#include "Log.h"

namespace {
const char* const logArea = "Sounds";

std::atomic<bool> serviceRefused{false};
QtMessageHandler forwardedHandler = nullptr;

// The effect reports a missing sound server on the console while it is made; the player says so
// in its own log instead.
void HoldBackServiceMessages(QtMsgType type, const QMessageLogContext& context,
                             const QString& message)
{
    if (message.startsWith("PulseAudioService:"))
    {
        serviceRefused = true;
        return;
    }
    if (forwardedHandler)
        forwardedHandler(type, context, message);
}
} // namespace

QSoundEffect* WaveSoundPlayer::NewEffect()
{
    serviceRefused = false;
    forwardedHandler = qInstallMessageHandler(HoldBackServiceMessages);
    auto* effect = new QSoundEffect(&effectsOwner);
    qInstallMessageHandler(forwardedHandler);
    if (!serviceRefused)
        return effect;
    delete effect;
    return nullptr;
}

void WaveSoundPlayer::Play(const QString& path)
{
    if (soundServiceMissing)
        return;
    // A chosen file may have been moved since.
    if (!QFileInfo(path).isFile())
    {
        Log(logArea, 1, QString("Sound file %1 not found").arg(path));
        return;
    }
    QSoundEffect* effect = effects.value(path);
    if (!effect)
    {
        effect = NewEffect();
        if (!effect)
        {
            soundServiceMissing = true;
            Log(logArea, 1, "No sound service: event sounds are off");
            return;
        }
        effect->setSource(QUrl::fromLocalFile(path));
        effects.insert(path, effect);
    }
    effect->play();
}
