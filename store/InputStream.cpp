#include "InputStream.h"

#include <QByteArray>

#include "ExtendedAsciiTranslator.h"
#include "Persistent.h"

bool InputStream::Read(bool& value)
{
    unsigned char byte = 0;
    if (!ReadBuffer(&byte, 1))
        return false;
    value = byte != 0;
    return true;
}

bool InputStream::Read(std::string& value)
{
    std::uint32_t length = 0;
    if (!Read(length) || length > MaxCount)
        return false;
    std::string bytes(length, '\0');
    if (!ReadBuffer(bytes.data(), length))
        return false;
    const std::size_t end = bytes.find('\0');
    if (end != std::string::npos)
        bytes.resize(end);
    value = std::move(bytes);
    return true;
}

bool InputStream::Read(QString& value)
{
    std::string bytes;
    if (!Read(bytes))
        return false;
    const QString decoded = QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
    // Older clients send 8-bit text; bytes that are not UTF-8 go through the code page.
    if (decoded.toUtf8() == QByteArray::fromRawData(bytes.data(), static_cast<int>(bytes.size())))
        value = decoded;
    else
        value = ToQString(bytes);
    return true;
}

bool InputStream::Read(StreamReadable& record)
{
    return record.Read(*this);
}

bool InputStream::ReadCount(std::uint32_t& count)
{
    return Read(count) && count <= MaxCount;
}
