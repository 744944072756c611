#pragma once

#include <cstdint>

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "MemStream.h"

// Our answer to a peer's request for our user information: the description, the picture and
// the upload state. The picture file is read once and kept while its size and time stay the
// same, since every peer that asks would otherwise make us read it again.
class UserInfoReply
{
public:
    // The most description bytes a peer's reader accepts.
    static constexpr int maxDescriptionBytes = 131072;

    MemStream Build(const QString& description, const QString& picturePath,
                    std::uint32_t uploadSlots, std::uint32_t queuedUploads, bool freeToUpload);

    // The description's UTF-8 bytes, cut to the limit without splitting a character.
    static QByteArray DescriptionBytes(const QString& description);

private:
    // The picture's bytes when they fit in a frame beside the rest of the reply; false otherwise.
    bool Picture(const QString& path, qint64 room, QByteArray& bytes);

    QString cachedPath;
    qint64 cachedSize = -1;
    QDateTime cachedTime;
    QByteArray cachedBytes;
};
