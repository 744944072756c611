#include "CompressedBody.h"

#include <vector>

#include <zlib.h>

#include "MemStream.h"

bool CompressedBody::Compress(std::uint32_t code, const MemStream& body, MemStream& message)
{
    const auto bodyLength = static_cast<uLong>(body.GetWrittenLength());
    uLongf compressedLength = compressBound(bodyLength);
    std::vector<Bytef> compressed(compressedLength);
    const int result =
        compress2(compressed.data(), &compressedLength,
                  reinterpret_cast<const Bytef*>(body.GetWrittenData()), bodyLength, 9);
    if (result != Z_OK)
        return false;
    return message.Write(code) && message.WriteBuffer(compressed.data(), compressedLength);
}

bool CompressedBody::Inflate(const char* data, int length, MemStream& body, int maxSize)
{
    if (length <= 0)
        return false;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = static_cast<uInt>(length);

    constexpr uInt chunkSize = 64 * 1024;
    std::vector<Bytef> chunk(chunkSize);
    long long total = 0;
    int result = Z_OK;
    while (result == Z_OK)
    {
        stream.next_out = chunk.data();
        stream.avail_out = chunkSize;
        // A cut stream ends with Z_BUF_ERROR once no progress can be made.
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            break;
        const uInt produced = chunkSize - stream.avail_out;
        total += produced;
        if (total > maxSize || !body.WriteBuffer(chunk.data(), produced))
        {
            result = Z_MEM_ERROR;
            break;
        }
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}
