#include "FileInfo.h"

#include "InputStream.h"
#include "OutputStream.h"

bool FileInfo::Read(InputStream& stream)
{
    bool present = false;
    if (!stream.Read(present))
        return false;
    // A cleared flag carries nothing more; the record keeps what it held.
    if (!present)
        return true;
    return stream.Read(name) && stream.Read(size) && attributes.Read(stream);
}

bool FileInfo::Write(OutputStream& stream) const
{
    return stream.Write(true) && stream.Write(name) && stream.Write(size) &&
           attributes.Write(stream);
}

bool FileInfo::operator<(const FileInfo& other) const
{
    // std::string compares its bytes as unsigned char, as the order requires.
    if (name != other.name)
        return name < other.name;
    return size < other.size;
}
