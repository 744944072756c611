#include "MessageFields.h"

#include "Log.h"

namespace MessageFields {
quint8 ReadUInt8(InputStream& stream, quint8 start)
{
    unsigned char byte = 0;
    return stream.ReadBuffer(&byte, 1) ? byte : start;
}

quint16 ReadUInt16(InputStream& stream, quint16 start)
{
    unsigned char bytes[2] = {};
    if (!stream.ReadBuffer(bytes, 2))
        return start;
    return static_cast<quint16>(bytes[0] | (bytes[1] << 8));
}

bool ReadName(InputStream& stream, QString& name, const char* what)
{
    if (stream.Read(name))
        return true;
    Log("server", 1, QString("Ignored a server message too short to hold its %1 name.").arg(what));
    return false;
}
} // namespace MessageFields
