#include "SearchResultBody.h"

#include "InputStream.h"
#include "OutputStream.h"

bool SearchResultBody::Read(InputStream& stream)
{
    freeSlot = false;
    uploadSpeed = 0;
    queuedUploads = 0;
    attributeNames.clear();
    if (!stream.Read(user) || !stream.Read(token) || !stream.Read(results))
        return false;
    // A failed read leaves its field as it was, so a cut trailer reads as 0s.
    if (stream.Read(freeSlot) && stream.Read(uploadSpeed) && stream.Read(queuedUploads) &&
        !stream.Read(attributeNames))
        attributeNames.clear();
    return true;
}

bool SearchResultBody::Write(OutputStream& stream) const
{
    return stream.Write(user) && stream.Write(token) && stream.Write(results) &&
           stream.Write(freeSlot) && stream.Write(uploadSpeed) && stream.Write(queuedUploads) &&
           stream.Write(attributeNames);
}
