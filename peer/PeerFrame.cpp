#include "PeerFrame.h"

#include <cstdlib>
#include <cstring>

#include "MemStream.h"
#include "ObfuscationCodec.h"

namespace {
std::uint32_t ReadU32(const char* data)
{
    std::uint32_t value = 0;
    for (int index = 3; index >= 0; --index)
        value = (value << 8) | static_cast<unsigned char>(data[index]);
    return value;
}

void WriteU32(char* data, std::uint32_t value)
{
    for (int index = 0; index < 4; ++index)
        data[index] = static_cast<char>((value >> (8 * index)) & 0xff);
}
} // namespace

QByteArray PeerFrame::Encode(const char* body, int length)
{
    QByteArray frame(PlainHeaderSize + length, Qt::Uninitialized);
    WriteU32(frame.data(), static_cast<std::uint32_t>(length));
    if (length > 0)
        std::memcpy(frame.data() + PlainHeaderSize, body, static_cast<size_t>(length));
    return frame;
}

QByteArray PeerFrame::EncodeObfuscated(const char* body, int length, std::uint32_t key)
{
    QByteArray frame(4, Qt::Uninitialized);
    WriteU32(frame.data(), key);
    frame += Encode(body, length);
    ObfuscationCodec(key).Apply(frame.data() + 4, frame.size() - 4);
    return frame;
}

std::uint32_t PeerFrame::NewKey()
{
    std::uint32_t key = 0;
    for (int draw = 0; draw < 4; ++draw)
        key = (key << 8) | static_cast<std::uint32_t>(std::rand() & 0xff);
    return key;
}

PeerFrame::Verdict PeerFrame::ReadHeader(const char* data, int length, bool obfuscated,
                                         Header& header)
{
    if (!obfuscated)
    {
        if (length < PlainHeaderSize)
            return Verdict::Incomplete;
        header = Header{ReadU32(data), PlainHeaderSize, 0};
    }
    else
    {
        if (length < ObfuscatedHeaderSize)
            return Verdict::Incomplete;
        char lengthField[4];
        std::memcpy(lengthField, data + 4, 4);
        ObfuscationCodec codec(ReadU32(data));
        codec.Apply(lengthField, 4);
        header = Header{ReadU32(lengthField), ObfuscatedHeaderSize, codec.Key()};
    }
    return header.bodyLength > MaxBodyLength ? Verdict::TooLong : Verdict::Whole;
}

PeerFrame::Verdict PeerFrame::Decode(const char* data, int length, bool obfuscated, MemStream& body,
                                     int& used)
{
    used = 0;
    Header header;
    const Verdict verdict = ReadHeader(data, length, obfuscated, header);
    if (verdict == Verdict::TooLong)
        used = header.size;
    if (verdict != Verdict::Whole)
        return verdict;
    const int bodyLength = static_cast<int>(header.bodyLength);
    if (length - header.size < bodyLength)
        return Verdict::Incomplete;

    body.Reset();
    body.EnsureBufferCapacity(bodyLength);
    char* target = body.GetWriteBuffer();
    if (bodyLength > 0)
        std::memcpy(target, data + header.size, static_cast<size_t>(bodyLength));
    if (obfuscated)
        ObfuscationCodec(header.bodyKey).Apply(target, bodyLength);
    body.AdvanceWriteIndex(bodyLength);
    used = header.size + bodyLength;
    return Verdict::Whole;
}
