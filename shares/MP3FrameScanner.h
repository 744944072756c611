#pragma once

#include <cstdint>

#include <QString>

class QIODevice;

// Finds an MP3 file's bit rate and whether it is constant, from the Layer III frame headers found
// at any byte position: the headers vote on version, protection, sample rate and channel mode,
// and those that agree with the vote give the bit rate. Memory stays fixed whatever the file
// holds: headers are counted per kind, and the file is read in blocks.
class MP3FrameScanner
{
public:
    static constexpr int blockSize = 65536;

    // The whole scan of one file. False when the file cannot be read or holds no usable stream;
    // then only the bit rate is written, as -1. The frequency is the sample-rate index (0 to 2).
    static bool ScanMP3(const QString& path, int& mpegVersion, QString& channelMode, int& frequency,
                        bool& vbr, int& bitrate);
    // The same over an open device, read from its current position up to its size.
    static bool ScanMP3(QIODevice& device, int& mpegVersion, QString& channelMode, int& frequency,
                        bool& vbr, int& bitrate);

    // Scans one block. A header must lie wholly inside its block.
    void ScanBlock(const char* block, int length);
    // The outcome of the blocks scanned so far; writes nothing when there is none.
    bool GetResults(int& mpegVersion, QString& channelMode, int& frequency, bool& vbr,
                    int& bitrate) const;

private:
    static constexpr int versions = 3; // MPEG-1, MPEG-2, MPEG-2.5
    static constexpr int sampleRates = 3;
    static constexpr int channelModes = 4;
    static constexpr int bitrateIndexes = 15; // 1 to 14 are usable

    void ScanHeader(std::int64_t position, unsigned char b1, unsigned char b2, unsigned char b3);

    std::int64_t blockStart = 0;
    std::uint64_t versionVotes[versions] = {};
    std::uint64_t protectionVotes[2] = {};
    std::uint64_t sampleRateVotes[sampleRates] = {};
    std::uint64_t channelModeVotes[channelModes] = {};
    std::uint64_t frameCount = 0;
    // Headers with a usable bit rate, per kind.
    std::uint64_t frames[versions][2][sampleRates][channelModes][bitrateIndexes] = {};
    // Headers that sit exactly where the previous header of their kind said the next frame
    // begins: audio data that happens to look like a header almost never does.
    std::uint64_t chainedFrames[versions][2][sampleRates][channelModes] = {};
    std::int64_t nextFrameAt[versions][2][sampleRates][channelModes] = {};
};
