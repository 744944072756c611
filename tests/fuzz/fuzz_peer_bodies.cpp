// Bytes as a peer sends them: the first byte picks the reader (a frame, plain or obfuscated; a
// compressed body; or one of the records and inflated bodies), the rest is its input.

#include "CompressedBody.h"
#include "FileInfo.h"
#include "FolderContentsBody.h"
#include "FuzzTarget.h"
#include "MemStream.h"
#include "PeerFrame.h"
#include "SearchResultBody.h"
#include "ShareListBody.h"
#include "SharedFolderInfo.h"

namespace {
enum Reader : uint8_t
{
    PlainFrame,
    ObfuscatedFrame,
    Compressed,
    File,
    Folder,
    ShareList,
    FolderContents,
    SearchResult,
    ReaderCount
};

QByteArray Input(Reader reader, const MemStream& bytes)
{
    return QByteArray(1, char(reader)) +
           QByteArray(bytes.GetWrittenData(), bytes.GetWrittenLength());
}

template <class Record> QByteArray Written(Reader reader, const Record& record)
{
    MemStream bytes;
    record.Write(bytes);
    return Input(reader, bytes);
}

FileInfo Song(const char* name, int64_t size)
{
    FileInfo file;
    file.name = name;
    file.size = size;
    file.attributes.extension = "mp3";
    file.attributes.pairs = {{0, 192}, {1, 240}, {2, 1}};
    return file;
}

template <class Body> bool ReadWhole(const char* data, int length)
{
    MemStream bytes;
    bytes.WriteBuffer(data, length);
    Body body;
    return body.Read(bytes);
}
} // namespace

namespace FuzzTarget {
std::vector<QByteArray> Seeds()
{
    ShareListBody shares;
    shares.folders["music\\a"] = {Song("music\\a\\one.mp3", 5), Song("music\\a\\two.mp3", 7)};
    shares.folders["music\\b"] = {Song("music\\b\\three.mp3", 1 << 20)};
    shares.attributeNames = {{0, "bitrate"}, {1, "length"}};
    SharedFolderInfo folder;
    folder.files = {Song("x.mp3", 9)};
    FolderContentsBody contents;
    contents.token = 7;
    contents.requestedFolder = "music\\a";
    contents.folders["music\\a"] = folder;
    SearchResultBody results;
    results.user = "bob";
    results.token = 12;
    results.results = {Song("music\\a\\one.mp3", 5)};
    results.freeSlot = true;
    results.uploadSpeed = 4000;

    MemStream body;
    shares.Write(body);
    MemStream compressed;
    CompressedBody::Compress(5, body, compressed);
    const char code4[] = {4, 0, 0, 0};
    std::vector<QByteArray> seeds{
        Written(ShareList, shares),
        Written(Folder, folder),
        Written(FolderContents, contents),
        Written(SearchResult, results),
        Written(File, Song("a.mp3", 3)),
        QByteArray(1, char(Compressed)) +
            QByteArray(compressed.GetWrittenData() + 4, compressed.GetWrittenLength() - 4),
        QByteArray(1, char(PlainFrame)) + PeerFrame::Encode(code4, 4),
        QByteArray(1, char(ObfuscatedFrame)) + PeerFrame::EncodeObfuscated(code4, 4, 0x12345678)};
    return seeds;
}
} // namespace FuzzTarget

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const auto* bytes = reinterpret_cast<const char*>(data + 1);
    const int length = int(size - 1);
    switch (data[0] % ReaderCount)
    {
    case PlainFrame:
    case ObfuscatedFrame: {
        MemStream body;
        int used = 0;
        PeerFrame::Decode(bytes, length, data[0] % ReaderCount == ObfuscatedFrame, body, used);
        break;
    }
    case Compressed: {
        // A small cap, so that the fuzzer meets it often.
        MemStream body;
        CompressedBody::Inflate(bytes, length, body, 1 << 16);
        break;
    }
    case File:
        ReadWhole<FileInfo>(bytes, length);
        break;
    case Folder:
        ReadWhole<SharedFolderInfo>(bytes, length);
        break;
    case ShareList:
        ReadWhole<ShareListBody>(bytes, length);
        break;
    case FolderContents:
        ReadWhole<FolderContentsBody>(bytes, length);
        break;
    case SearchResult:
        ReadWhole<SearchResultBody>(bytes, length);
        break;
    }
    return 0;
}
