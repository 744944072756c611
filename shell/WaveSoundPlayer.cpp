#include "WaveSoundPlayer.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

#include "Log.h"

namespace {
const char* const logArea = "Sounds";
}

void WaveSoundPlayer::Play(const QString& path)
{
    // A chosen file may have been moved since; the effect would only report a decoding error.
    if (!QFileInfo(path).isFile())
    {
        Log(logArea, 1, QString("Sound file %1 not found").arg(path));
        return;
    }
    auto* effect = new QSoundEffect(&playing);
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying())
            effect->deleteLater();
    });
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
        if (effect->status() == QSoundEffect::Error)
            effect->deleteLater();
    });
    effect->setSource(QUrl::fromLocalFile(path));
    effect->play();
}
