#include "FolderContentsBody.h"

#include "InputStream.h"
#include "OutputStream.h"

bool FolderContentsBody::Read(InputStream& stream)
{
    return stream.Read(token) && stream.Read(requestedFolder) && stream.Read(folders);
}

bool FolderContentsBody::Write(OutputStream& stream) const
{
    return stream.Write(token) && stream.Write(requestedFolder) && stream.Write(folders);
}
