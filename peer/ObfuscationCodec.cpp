#include "ObfuscationCodec.h"

ObfuscationCodec::ObfuscationCodec(std::uint32_t key) : runningKey(key)
{}

void ObfuscationCodec::Apply(char* data, int length)
{
    for (int index = 0; index < length; ++index)
    {
        if (position == 0)
            runningKey = (runningKey << 1) | (runningKey >> 31);
        const auto keyByte = (runningKey >> (8 * position)) & 0xff;
        data[index] = static_cast<char>(static_cast<unsigned char>(data[index]) ^ keyByte);
        position = (position + 1) % 4;
    }
}
