#pragma once

#include <cstdint>

#include <QByteArray>

class MemStream;

// A frame of a peer link: a u32 body length and the body. On an obfuscated
// link a fresh key goes first in clear and the length and body are XORed
// (ObfuscationCodec, starting from that key).
class PeerFrame
{
public:
    static constexpr std::uint32_t MaxBodyLength = 0xA00000;
    static constexpr int PlainHeaderSize = 4;
    static constexpr int ObfuscatedHeaderSize = 8;
    // Bytes a link may hold unsent before it is given up: a peer that stops reading must not
    // make us keep all we send it.
    static constexpr std::int64_t MaxBytesWaiting = 16 * 1024 * 1024;

    // A frame has no other way to be malformed than a length over the limit.
    enum class Verdict
    {
        Whole,
        Incomplete,
        TooLong,
    };

    struct Header
    {
        std::uint32_t bodyLength = 0;
        // Bytes the header took: 4 plain, 8 obfuscated.
        int size = 0;
        // The running key after the length field; decode the body with an
        // ObfuscationCodec made from it. Unused on a plain link.
        std::uint32_t bodyKey = 0;
    };

    static QByteArray Encode(const char* body, int length);
    static QByteArray EncodeObfuscated(const char* body, int length, std::uint32_t key);
    // Four draws of rand(), the first giving the most significant byte.
    static std::uint32_t NewKey();

    // Whole when the header is in data; header is set for Whole and TooLong.
    static Verdict ReadHeader(const char* data, int length, bool obfuscated, Header& header);
    // Whole when a complete frame starts data: body is replaced by the plain
    // body and used is the frame's size. Otherwise used is 0 for Incomplete
    // and the header's size for TooLong.
    static Verdict Decode(const char* data, int length, bool obfuscated, MemStream& body,
                          int& used);
};
