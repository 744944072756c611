#include "UserInfoReply.h"

#include <QFile>
#include <QFileInfo>

#include "PeerFrame.h"
#include "PeerMessageCode.h"

namespace {
// Code, description count, picture flag, picture count, slots, queued, free flag.
constexpr qint64 fixedBytes = 4 + 4 + 1 + 4 + 4 + 4 + 1;
} // namespace

QByteArray UserInfoReply::DescriptionBytes(const QString& description)
{
    QByteArray bytes = description.toUtf8();
    if (bytes.size() <= maxDescriptionBytes)
        return bytes;
    int cut = maxDescriptionBytes;
    // Step back over continuation bytes to the start of the character that would be split.
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

MemStream UserInfoReply::Build(const QString& description, const QString& picturePath,
                               std::uint32_t uploadSlots, std::uint32_t queuedUploads,
                               bool freeToUpload)
{
    const QByteArray text = DescriptionBytes(description);
    MemStream message;
    message.Write(std::uint32_t(PeerMessageCode::PM_USER_INFO_REPLY));
    message.Write(std::uint32_t(text.size()));
    message.WriteBuffer(text.constData(), static_cast<unsigned long>(text.size()));
    QByteArray picture;
    const qint64 room = qint64(PeerFrame::MaxBodyLength) - fixedBytes - text.size();
    if (!picturePath.isEmpty() && Picture(picturePath, room, picture))
    {
        message.Write(true);
        message.Write(std::uint32_t(picture.size()));
        message.WriteBuffer(picture.constData(), static_cast<unsigned long>(picture.size()));
    }
    else
    {
        message.Write(false);
    }
    message.Write(uploadSlots);
    message.Write(queuedUploads);
    message.Write(freeToUpload);
    return message;
}

bool UserInfoReply::Picture(const QString& path, qint64 room, QByteArray& bytes)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    // A picture that would push the reply past the frame limit is left out, unread.
    if (info.size() > room)
        return false;
    if (path == cachedPath && info.size() == cachedSize && info.lastModified() == cachedTime)
    {
        bytes = cachedBytes;
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size > room)
        return false;
    QByteArray read = file.read(size);
    if (read.size() != size)
        return false;
    cachedPath = path;
    cachedSize = size;
    cachedTime = info.lastModified();
    cachedBytes = read;
    bytes = read;
    return true;
}
