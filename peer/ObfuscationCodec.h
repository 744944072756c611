#pragma once

#include <cstdint>

// The XOR of obfuscated peer links. The key rotates left by one bit before
// every 4-byte group, counted from the first byte given to this codec, and
// each byte is XORed with the matching byte of the key, lowest first. XOR is
// its own inverse, so the same calls encode and decode. Bytes may be given in
// pieces of any size; the grouping carries over.
class ObfuscationCodec
{
public:
    explicit ObfuscationCodec(std::uint32_t key);

    void Apply(char* data, int length);
    // The key as rotated for the group in progress.
    std::uint32_t Key() const { return runningKey; }

private:
    std::uint32_t runningKey;
    int position = 0;
};
