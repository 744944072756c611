#include "ShareListBody.h"

#include "InputStream.h"
#include "OutputStream.h"

bool ShareListBody::Read(InputStream& stream)
{
    if (!stream.Read(folders))
        return false;
    if (!stream.Read(attributeNames))
        attributeNames.clear();
    return true;
}

bool ShareListBody::Write(OutputStream& stream) const
{
    return stream.Write(folders) && stream.Write(attributeNames);
}
