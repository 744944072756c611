#include "AttributeMap.h"

#include "InputStream.h"
#include "OutputStream.h"

bool AttributeMap::Read(InputStream& stream)
{
    return stream.Read(extension) && stream.Read(pairs);
}

bool AttributeMap::Write(OutputStream& stream) const
{
    return stream.Write(extension) && stream.Write(pairs);
}
