#include "OutputStream.h"

#include <limits>

#include <QByteArray>

#include "Persistent.h"

bool OutputStream::Write(bool value)
{
    const unsigned char byte = value ? 1 : 0;
    return WriteBuffer(&byte, 1);
}

bool OutputStream::Write(const std::string& value)
{
    // A length that does not fit the 32-bit field would be written truncated.
    if (value.size() > std::numeric_limits<std::uint32_t>::max())
        return false;
    if (!Write(static_cast<std::uint32_t>(value.size())))
        return false;
    return WriteBuffer(value.data(), value.size());
}

bool OutputStream::Write(const QString& value)
{
    const QByteArray bytes = value.toUtf8();
    return Write(std::string(bytes.constData()));
}

bool OutputStream::Write(const StreamWritable& record)
{
    return record.Write(*this);
}

bool OutputStream::WriteCount(std::size_t count)
{
    if (count > std::numeric_limits<std::uint32_t>::max())
        return false;
    return Write(static_cast<std::uint32_t>(count));
}
