// Bytes as the contents of a shared audio file, scanned for its frame headers.

#include <QBuffer>

#include "FuzzTarget.h"
#include "MP3FrameScanner.h"

namespace {
// A run of MPEG-1 Layer III frames at the bit rate index, 44.1 kHz, no padding.
QByteArray Frames(int bitrateIndex, int count)
{
    static const int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    const int frameLength = 144 * kbps[bitrateIndex] * 1000 / 44100;
    QByteArray frame(frameLength, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xFB);
    frame[2] = char(bitrateIndex << 4);
    frame[3] = char(0x40);
    QByteArray frames;
    for (int index = 0; index < count; ++index)
        frames += frame;
    return frames;
}
} // namespace

namespace FuzzTarget {
std::vector<QByteArray> Seeds()
{
    return {Frames(9, 8), Frames(9, 3) + Frames(11, 3) + Frames(5, 2),
            QByteArray("ID3") + Frames(14, 4)};
}
} // namespace FuzzTarget

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    int version = 0, frequency = 0, bitrate = 0;
    QString channels;
    bool vbr = false;
    MP3FrameScanner::ScanMP3(file, version, channels, frequency, vbr, bitrate);
    return 0;
}
