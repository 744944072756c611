#include "ExtendedAsciiTranslator.h"

#include <cstring>

QString ToQString(const std::string& bytes)
{
    const QString decoded = QString::fromUtf8(bytes.c_str());
    const QByteArray reencoded = decoded.toUtf8();
    if (static_cast<size_t>(reencoded.size()) == bytes.size() &&
        std::memcmp(reencoded.constData(), bytes.data(), bytes.size()) == 0)
        return decoded;
    return QString::fromLatin1(bytes.c_str());
}
