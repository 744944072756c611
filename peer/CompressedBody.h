#pragma once

#include <cstdint>

class MemStream;

// The envelope of the share-list, search-result and folder-contents messages:
// the message code in clear, then one zlib stream that runs to the end of the
// message with no length field of its own.
class CompressedBody
{
public:
    // Far above any honest share list; a stream that inflates past it is
    // refused instead of filling memory.
    static constexpr int MaxInflatedSize = 128 * 1024 * 1024;

    // Appends the code and the compressed written bytes of body to message.
    // False when zlib refuses (message is then left untouched).
    static bool Compress(std::uint32_t code, const MemStream& body, MemStream& message);

    // Inflates one zlib stream from data into body, appending. False for data
    // that is not a whole zlib stream or inflates past maxSize bytes; bytes
    // after the end of the stream are ignored.
    static bool Inflate(const char* data, int length, MemStream& body,
                        int maxSize = MaxInflatedSize);
};
