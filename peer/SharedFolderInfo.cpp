#include "SharedFolderInfo.h"

#include <cstdint>

#include "InputStream.h"
#include "OutputStream.h"

bool SharedFolderInfo::Read(InputStream& stream)
{
    // The trailing field is always 0 and has no meaning, but it must be there.
    std::uint32_t trailer = 0;
    return stream.Read(files) && stream.Read(trailer);
}

bool SharedFolderInfo::Write(OutputStream& stream) const
{
    return stream.Write(files) && stream.Write(std::uint32_t{0});
}
