#include "UserStats.h"

#include "InputStream.h"
#include "OutputStream.h"

bool UserStats::Read(InputStream& stream)
{
    return stream.Read(m_averageSpeed) && stream.Read(m_value64) &&
           stream.Read(m_sharedFileCount) && stream.Read(m_value32);
}

bool UserStats::Write(OutputStream& stream) const
{
    return stream.Write(m_averageSpeed) && stream.Write(m_value64) &&
           stream.Write(m_sharedFileCount) && stream.Write(m_value32);
}
