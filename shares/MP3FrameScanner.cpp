#include "MP3FrameScanner.h"

#include <cstring>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

namespace {
// Bit rates in kbit/s by bit-rate index, Layer III.
constexpr int mpeg1Bitrates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int mpeg2Bitrates[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int sampleRatesHz[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
const char* const channelModeNames[] = {"stereo", "joint stereo", "dual mono", "mono"};
constexpr int mpeg1 = 0, mpeg2 = 1, mpeg25 = 2;

// Fewer chained frames than this is noise, not a stream.
constexpr std::uint64_t minChainedFrames = 2;

int Bitrate(int version, int index)
{
    return version == mpeg1 ? mpeg1Bitrates[index] : mpeg2Bitrates[index];
}

// Index of the greatest count; a tie goes to the higher index.
template <size_t count> int Vote(const std::uint64_t (&votes)[count])
{
    int winner = 0;
    for (size_t index = 1; index < count; ++index)
        if (votes[index] >= votes[winner])
            winner = int(index);
    return winner;
}
} // namespace

bool MP3FrameScanner::ScanMP3(const QString& path, int& mpegVersion, QString& channelMode,
                              int& frequency, bool& vbr, int& bitrate)
{
    bitrate = -1;
    // Only regular files: opening a named pipe would wait for a writer that never comes.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return ScanMP3(file, mpegVersion, channelMode, frequency, vbr, bitrate);
}

bool MP3FrameScanner::ScanMP3(QIODevice& device, int& mpegVersion, QString& channelMode,
                              int& frequency, bool& vbr, int& bitrate)
{
    bitrate = -1;
    qint64 remaining = device.size() - device.pos();
    if (remaining <= 0)
        return false;
    std::vector<char> block(blockSize);
    MP3FrameScanner scanner;
    // The size bounds the work even when the file grows meanwhile; a file that shrinks ends early.
    while (remaining > 0)
    {
        const qint64 length = device.read(block.data(), qMin<qint64>(remaining, blockSize));
        if (length < 0)
            return false;
        if (length == 0)
            break;
        scanner.ScanBlock(block.data(), int(length));
        remaining -= length;
    }
    return scanner.GetResults(mpegVersion, channelMode, frequency, vbr, bitrate);
}

void MP3FrameScanner::ScanBlock(const char* block, int length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(block);
    // A header is the 0xFF and three more bytes, all inside the block.
    const unsigned char* end = length > 4 ? bytes + length - 4 : bytes;
    const unsigned char* cursor = bytes;
    while (cursor < end)
    {
        const auto* sync =
            static_cast<const unsigned char*>(std::memchr(cursor, 0xFF, end - cursor));
        if (!sync)
            break;
        if (sync[1] >> 5 == 7)
            ScanHeader(blockStart + (sync - bytes), sync[1], sync[2], sync[3]);
        cursor = sync + 1;
    }
    blockStart += length;
}

void MP3FrameScanner::ScanHeader(std::int64_t position, unsigned char b1, unsigned char b2,
                                 unsigned char b3)
{
    int version = mpeg1;
    switch (b1 & 0x18)
    {
    case 0x18:
        version = mpeg1;
        break;
    case 0x10:
        version = mpeg2;
        break;
    case 0x00:
        version = mpeg25;
        break;
    default:
        return; // reserved
    }
    ++versionVotes[version];
    if ((b1 & 0x06) != 0x02)
        return; // not Layer III
    const int protection = b1 & 0x01;
    ++protectionVotes[protection];
    const int sampleRate = (b2 >> 2) & 0x03;
    if (sampleRate == 3)
        return;
    ++sampleRateVotes[sampleRate];
    const int mode = b3 >> 6;
    ++channelModeVotes[mode];
    const int bitrateIndex = b2 >> 4;
    if (bitrateIndex == 0 || bitrateIndex == 15)
        return; // free format or invalid: no length, no bit rate

    ++frameCount;
    ++frames[version][protection][sampleRate][mode][bitrateIndex];
    std::int64_t& expected = nextFrameAt[version][protection][sampleRate][mode];
    if (expected == position && position > 0) // 0: no header of this kind yet
        ++chainedFrames[version][protection][sampleRate][mode];
    const int eighthOfSamples = version == mpeg1 ? 1152 / 8 : 576 / 8; // samples per frame / 8
    const int padding = (b2 >> 1) & 0x01;
    expected = position +
               eighthOfSamples * Bitrate(version, bitrateIndex) * 1000 /
                   sampleRatesHz[version][sampleRate] +
               padding;
}

bool MP3FrameScanner::GetResults(int& mpegVersion, QString& channelMode, int& frequency, bool& vbr,
                                 int& bitrate) const
{
    const int version = versionVotes[mpeg1] > versionVotes[mpeg2] ? mpeg1 : mpeg2;
    if (versionVotes[mpeg25] >= versionVotes[version])
        return false;
    const int protection = protectionVotes[1] > protectionVotes[0] ? 1 : 0;
    const int sampleRate = Vote(sampleRateVotes);
    const int mode = Vote(channelModeVotes);
    if (frameCount == 0)
        return false;

    const std::uint64_t(&matching)[bitrateIndexes] = frames[version][protection][sampleRate][mode];
    std::uint64_t count = 0;
    std::uint64_t sum = 0;
    for (int index = 1; index < bitrateIndexes; ++index)
    {
        count += matching[index];
        sum += matching[index] * std::uint64_t(Bitrate(version, index));
    }
    if (count == 0 || chainedFrames[version][protection][sampleRate][mode] < minChainedFrames)
        return false;

    mpegVersion = version == mpeg1 ? 1 : 2;
    channelMode = QString::fromLatin1(channelModeNames[mode]);
    frequency = sampleRate;
    bitrate = int(sum / count);
    vbr = true;
    // Constant when one bit rate holds at least 99 % of the frames (share truncated to percent).
    for (int index = 1; index < bitrateIndexes; ++index)
    {
        if (matching[index] * 100 / count > 98)
        {
            vbr = false;
            bitrate = Bitrate(version, index);
        }
    }
    return true;
}
