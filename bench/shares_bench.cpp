// MP3 frame scanner benchmark: scanning a 50 MB synthetic variable-bit-rate file beside plain
// 64 KiB reads of the same file (the floor the scan cannot beat). The file is written first, so
// both read from the page cache. Figures are the best of a few runs; only a failed sanity check
// fails the run.

#include <chrono>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "BenchTiming.h"
#include "MP3FrameScanner.h"

namespace {
constexpr qint64 fileSize = 50 * 1000 * 1000;
constexpr int runs = 5;

using Clock = std::chrono::steady_clock;

// MPEG-1 Layer III frames at 44.1 kHz, joint stereo, bit rates 128 to 320 kbit/s, with random
// audio bytes, so that stray header-like patterns turn up as often as in real files.
bool WriteFile(const QString& path)
{
    static const int kbps[] = {128, 160, 192, 224, 256, 320};
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator random(42);
    QByteArray frame;
    qint64 written = 0;
    while (written < fileSize)
    {
        const int choice = random.bounded(6);
        frame.resize(144 * kbps[choice] * 1000 / 44100);
        random.fillRange(reinterpret_cast<quint32*>(frame.data()), frame.size() / 4);
        frame[0] = char(0xFF);
        frame[1] = char(0xFB);
        frame[2] = char((9 + choice) << 4);
        frame[3] = char(0x40);
        if (file.write(frame) != frame.size())
            return false;
        written += frame.size();
    }
    return true;
}

qint64 ReadPlain(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    std::vector<char> block(MP3FrameScanner::blockSize);
    qint64 total = 0;
    qint64 length = 0;
    while ((length = file.read(block.data(), qint64(block.size()))) > 0)
        total += length;
    return total;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    const QString path = folder.filePath("bench.mp3");
    if (!folder.isValid() || !WriteFile(path))
    {
        std::fprintf(stderr, "sanity check failed: cannot write %s\n", qPrintable(path));
        return 1;
    }
    const qint64 size = QFile(path).size();

    qint64 readBytes = 0;
    const double readSeconds = BestSeconds(runs, [&] { readBytes = ReadPlain(path); });

    bool found = false;
    int version = 0, frequency = 0, bitrate = 0;
    bool vbr = false;
    QString mode;
    const double scanSeconds = BestSeconds(runs, [&] {
        found = MP3FrameScanner::ScanMP3(path, version, mode, frequency, vbr, bitrate);
    });

    if (readBytes != size || !found || version != 1 || !vbr || bitrate < 200 || bitrate > 240)
    {
        std::fprintf(stderr, "sanity check failed: read %lld of %lld bytes, scan %d %d %d %d\n",
                     readBytes, size, found, version, vbr, bitrate);
        return 1;
    }
    const double megabytes = double(size) / 1e6;
    std::printf("file: %.1f MB, scan found MPEG-%d %s, VBR average %d kbit/s\n", megabytes, version,
                qPrintable(mode), bitrate);
    std::printf("plain QFile reads: %8.1f MB/s (%.3f s)\n", megabytes / readSeconds, readSeconds);
    std::printf("frame scan:        %8.1f MB/s (%.3f s)\n", megabytes / scanSeconds, scanSeconds);
    return 0;
}
