// Share-list benchmark: a list of 100,000 files is encoded (records written, then compressed) and
// decoded (inflated, then records read) by the peer codec, beside zlib alone compressing and
// inflating the same body bytes. Times are the best of a few runs and only informational; a failed
// sanity check fails the run.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <zlib.h>

#include "BenchTiming.h"
#include "CompressedBody.h"
#include "MemStream.h"
#include "ShareListBody.h"

namespace {
constexpr int fileCount = 100000;
constexpr int filesPerFolder = 20;
constexpr int runs = 3;

ShareListBody MakeShareList()
{
    ShareListBody list;
    for (int index = 0; index < fileCount; ++index)
    {
        const int folder = index / filesPerFolder;
        FileInfo file;
        file.name = std::to_string(index % filesPerFolder + 1) + " - track " +
                    std::to_string(index * 7919 % 100003) + ".mp3";
        file.size = 3000000 + index * 37 % 5000000;
        file.attributes.extension = "mp3";
        file.attributes.pairs = {{0, 128 + 64 * (index % 4)}, {2, index % 2}};
        list.folders["\\home\\user\\Music\\artist " + std::to_string(folder / 10) + "\\album " +
                     std::to_string(folder % 10)]
            .insert(file);
    }
    return list;
}
} // namespace

int main()
{
    const ShareListBody list = MakeShareList();

    MemStream message;
    int bodyLength = 0;
    const double encodeSeconds = BestSeconds(runs, [&] {
        MemStream body;
        message = MemStream();
        if (!list.Write(body) || !CompressedBody::Compress(5, body, message))
            std::fprintf(stderr, "encoding failed\n");
        bodyLength = body.GetWrittenLength();
    });
    const char* compressedData = message.GetWrittenData() + 4;
    const int compressedLength = message.GetWrittenLength() - 4;

    ShareListBody decoded;
    bool decodedWell = false;
    const double decodeSeconds = BestSeconds(runs, [&] {
        MemStream body;
        decodedWell = CompressedBody::Inflate(compressedData, compressedLength, body) &&
                      decoded.Read(body) && body.GetPendingReadLength() == 0;
    });

    MemStream body;
    list.Write(body);
    std::vector<Bytef> compressed(compressBound(static_cast<uLong>(bodyLength)));
    uLongf zlibLength = 0;
    const double zlibCompressSeconds = BestSeconds(runs, [&] {
        zlibLength = compressed.size();
        compress2(compressed.data(), &zlibLength,
                  reinterpret_cast<const Bytef*>(body.GetWrittenData()),
                  static_cast<uLong>(bodyLength), 9);
    });
    std::vector<Bytef> inflated(static_cast<size_t>(bodyLength));
    bool zlibInflatedWell = false;
    const double zlibInflateSeconds = BestSeconds(runs, [&] {
        uLongf length = inflated.size();
        zlibInflatedWell =
            uncompress(inflated.data(), &length, compressed.data(), zlibLength) == Z_OK &&
            length == inflated.size();
    });

    size_t decodedFiles = 0;
    for (const auto& folder : decoded.folders)
        decodedFiles += folder.second.size();
    if (!decodedWell || !zlibInflatedWell || decodedFiles != fileCount ||
        zlibLength != static_cast<uLongf>(compressedLength))
    {
        std::fprintf(stderr, "sanity check failed: %zu files decoded\n", decodedFiles);
        return 1;
    }

    std::printf("%d files in %zu folders: body %.2f MB, compressed %.2f MB; best of %d runs\n\n",
                fileCount, decoded.folders.size(), bodyLength / 1e6, compressedLength / 1e6, runs);
    std::printf("%-36s %9s %9s\n", "", "codec s", "zlib s");
    std::printf("%-36s %9.3f %9.3f\n", "encode (write + compress2 level 9)", encodeSeconds,
                zlibCompressSeconds);
    std::printf("%-36s %9.3f %9.3f\n", "decode (inflate + read)", decodeSeconds,
                zlibInflateSeconds);
    std::printf("%-36s %9.0f %9.0f\n", "files per second, decode", fileCount / decodeSeconds,
                fileCount / zlibInflateSeconds);
    return 0;
}
