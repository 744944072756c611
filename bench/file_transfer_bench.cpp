// File transfer benchmark over loopback, with the other client played by plain blocking sockets
// on a thread of their own: a 256 MiB download and a 256 MiB upload through the transfer
// threads, beside a raw socket copy of the same bytes in the same run (target: at least 70% of
// its throughput), with the CPU time of each side. Raw copies into and from a file show how much
// of the gap is the disk work that a transfer does and the bare copy does not. Then the upload
// speed limit: 100 KiB/s held by one upload and shared by two, each measured over 5 seconds
// (target: within 5%). Each copy and transfer runs three times; the fastest run counts, being
// the one least disturbed by the rest of the machine. Last, removing 100 running downloads whose
// peers have fallen silent, and quitting with 100 more (target: 1.5 s in all). And an upload in
// its wait for the peer to close after the last byte, with the peer sending junk for 10 seconds
// instead, as fast as the link takes it and a little at a time (target: at most 5% of one core).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include "Data.h"
#include "DataSaver.h"
#include "FakePeer.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"
#include "TransfersTestSetup.h"

namespace {
using namespace TransferTypes;
using Clock = std::chrono::steady_clock;

constexpr qint64 fileSize = 256LL * 1024 * 1024;
constexpr int pieceSize = 64 * 1024;

TransfersTestSetup setup;
TransferQueueManager* manager = nullptr;
PeerMessenger* messenger = nullptr;

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ThreadCpu()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double ProcessCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// ---- plain blocking sockets, the other client ----
int Listener(quint16& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 4);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int Dial(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

bool SendAll(int fd, const char* bytes, qint64 length)
{
    while (length > 0)
    {
        const ssize_t sent = send(fd, bytes, size_t(length), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes += sent;
        length -= sent;
    }
    return true;
}

bool ReceiveAll(int fd, char* bytes, qint64 length)
{
    while (length > 0)
    {
        const ssize_t got = recv(fd, bytes, size_t(length), 0);
        if (got <= 0)
            return false;
        bytes += got;
        length -= got;
    }
    return true;
}

// The file's bytes from the pattern, piece by piece.
qint64 SendFile(int fd, const std::vector<char>& piece, qint64 length)
{
    qint64 sent = 0;
    while (sent < length)
    {
        const qint64 part = qMin<qint64>(length - sent, qint64(piece.size()));
        if (!SendAll(fd, piece.data(), part))
            break;
        sent += part;
    }
    return sent;
}

// Up to the byte count, or what arrives before the deadline; less when the other end closes.
// With a sink, what arrives is written to it.
qint64 Drain(int fd, qint64 limit, double deadlineSeconds = 0, int sink = -1)
{
    std::vector<char> buffer(pieceSize);
    const auto start = Clock::now();
    qint64 total = 0;
    while (total < limit)
    {
        const ssize_t got =
            recv(fd, buffer.data(), size_t(qMin<qint64>(pieceSize, limit - total)), 0);
        if (got <= 0)
            return total;
        if (sink >= 0 && write(sink, buffer.data(), size_t(got)) != got)
            return total;
        total += got;
        if (deadlineSeconds > 0 && Seconds(start) >= deadlineSeconds)
            return total;
    }
    return total;
}

// The frame header and init body that the client sends first on a link it dialled.
bool SkipFirstFrame(int fd)
{
    unsigned char header[4];
    if (!ReceiveAll(fd, reinterpret_cast<char*>(header), 4))
        return false;
    const quint32 length = header[0] | header[1] << 8 | header[2] << 16 | quint32(header[3]) << 24;
    std::vector<char> body(length);
    return ReceiveAll(fd, body.data(), length);
}

QByteArray LittleEndian(quint64 value, int width)
{
    return TransfersTestSetup::LittleEndian(value, width);
}

struct Figures
{
    double seconds = 0;
    double peerCpu = 0;
    double clientCpu = 0;
};

// The fastest of a few runs of the copy or transfer, with its own CPU figures.
template <class Run> Figures Fastest(Run run)
{
    constexpr int runs = 3;
    Figures fastest;
    for (int index = 0; index < runs; ++index)
    {
        const Figures figures = run();
        if (index == 0 || figures.seconds < fastest.seconds)
            fastest = figures;
    }
    return fastest;
}

void Print(const char* name, const Figures& figures, double rawSeconds)
{
    const double megabytes = double(fileSize) / 1e6;
    std::printf("%-22s %8.1f MB/s  peer CPU %6.2f s  client CPU %6.2f s", name,
                megabytes / figures.seconds, figures.peerCpu, figures.clientCpu);
    if (rawSeconds > 0)
        std::printf("  %5.1f%% of raw (target >= 70%%)", 100.0 * rawSeconds / figures.seconds);
    std::printf("\n");
}

// The file's bytes read with plain reads and sent, as an upload does.
qint64 SendFromFile(int fd, const QString& path)
{
    const int source = open(QFile::encodeName(path).constData(), O_RDONLY);
    std::vector<char> buffer(pieceSize);
    qint64 sent = 0;
    for (;;)
    {
        const ssize_t got = read(source, buffer.data(), buffer.size());
        if (got <= 0 || !SendAll(fd, buffer.data(), got))
            break;
        sent += got;
    }
    close(source);
    return sent;
}

// With a sink path, the receiver writes the bytes to that file, as a download does; with a
// source path, the sender reads them from that file, as an upload does.
Figures RawCopy(const std::vector<char>& piece, const QString& sinkPath = QString(),
                const QString& sourcePath = QString())
{
    const int sink = sinkPath.isEmpty() ? -1
                                        : open(QFile::encodeName(sinkPath).constData(),
                                               O_WRONLY | O_CREAT | O_TRUNC, 0644);
    quint16 port = 0;
    const int listener = Listener(port);
    Figures figures;
    std::atomic<double> receiverCpu{0};
    std::thread receiver([&] {
        const int fd = accept(listener, nullptr, nullptr);
        const double cpu = ThreadCpu();
        Drain(fd, fileSize, 0, sink);
        receiverCpu = ThreadCpu() - cpu;
        close(fd);
    });
    const int fd = Dial(port);
    const double cpu = ThreadCpu();
    const auto start = Clock::now();
    if (sourcePath.isEmpty())
        SendFile(fd, piece, fileSize);
    else
        SendFromFile(fd, sourcePath);
    close(fd);
    receiver.join();
    figures.seconds = Seconds(start);
    figures.peerCpu = ThreadCpu() - cpu;
    figures.clientCpu = receiverCpu;
    close(listener);
    if (sink >= 0)
    {
        close(sink);
        QFile::remove(sinkPath);
    }
    return figures;
}

// Runs the event loop until the entry holds the status, or fails after the limit.
bool AwaitStatus(ItemPtr entry, const char* statusType, const char* status, int limitMs)
{
    // Wakes the loop now and then, which otherwise sleeps until an event comes.
    QTimer tick;
    tick.start(50);
    QElapsedTimer clock;
    clock.start();
    while (entry[statusType].AsString() != status)
    {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

Figures Download(const std::vector<char>& piece, const QString& folder)
{
    Settings::Set(TransferSettings::downloadFolder, Value(folder));
    const uint request = 7;
    ItemPtr entry = manager->AddDownload("seller", "big.bin", "files", fileSize, true, 0);
    entry.Connect(d.GetType(remoteTransferReq)->GetItem(Value(request)));
    Figures figures;
    std::atomic<double> peerCpu{0};
    const double processCpu = ProcessCpu();
    const auto start = Clock::now();
    std::thread peer([&] {
        const double cpu = ThreadCpu();
        const int fd = Dial(messenger->ListeningPort());
        const QByteArray opening =
            FakePeer::Frame(false, FakePeer::InitBody("seller", "F")) + LittleEndian(request, 4);
        char offset[8];
        if (SendAll(fd, opening.constData(), opening.size()) && ReceiveAll(fd, offset, 8))
            SendFile(fd, piece, fileSize);
        char rest;
        recv(fd, &rest, 1, 0);
        close(fd);
        peerCpu = ThreadCpu() - cpu;
    });
    const bool done = AwaitStatus(entry, downloadEntryStatus, TransferStatus::complete, 120000);
    figures.seconds = Seconds(start);
    peer.join();
    figures.peerCpu = peerCpu;
    figures.clientCpu = ProcessCpu() - processCpu - figures.peerCpu;
    const QString path =
        TransferQueueManager::LocalPath(manager->GetDownloadTargetPath(entry, true));
    if (!done || QFileInfo(path).size() != fileSize)
        std::printf("download did not complete whole\n");
    QFile::remove(path);
    manager->RemoveDownload(entry);
    return figures;
}

// A peer that takes our file link, asks from offset 0 and reads for the given time (or all).
struct ReceivingPeer
{
    quint16 port = 0;
    int listener = -1;
    std::thread thread;
    std::atomic<qint64> received{0};
    std::atomic<double> cpu{0};

    void Start(const QString& user, double seconds)
    {
        listener = Listener(port);
        MessengerTestSetup::SetUserAddress(user, port);
        thread = std::thread([this, seconds] {
            const double start = ThreadCpu();
            const int fd = accept(listener, nullptr, nullptr);
            char request[4];
            const QByteArray offset = LittleEndian(0, 8);
            if (SkipFirstFrame(fd) && ReceiveAll(fd, request, 4) &&
                SendAll(fd, offset.constData(), 8))
            {
                // Under a limit the first second is left out: the pace is what counts.
                if (seconds > 0)
                    Drain(fd, fileSize, 1);
                received = Drain(fd, fileSize, seconds);
            }
            close(fd);
            cpu = ThreadCpu() - start;
        });
    }

    void Finish()
    {
        thread.join();
        close(listener);
    }
};

Figures Upload(const QString& path)
{
    ItemPtr entry = setup.ConnectingUpload("buyer", path, 9);
    ReceivingPeer peer;
    peer.Start("buyer", 0);
    const double processCpu = ProcessCpu();
    const auto start = Clock::now();
    messenger->RequestFileConnectionToUser("buyer");
    const bool done = AwaitStatus(entry, uploadEntryStatus, TransferStatus::complete, 120000);
    Figures figures;
    figures.seconds = Seconds(start);
    peer.Finish();
    figures.peerCpu = peer.cpu;
    figures.clientCpu = ProcessCpu() - processCpu - figures.peerCpu;
    if (!done || peer.received != fileSize)
        std::printf("upload did not complete whole\n");
    manager->RemoveUpload(entry);
    return figures;
}

// Uploads to the users at once under a 100 KiB/s limit, each peer reading for 5 seconds.
void SpeedLimit(const QString& path, const QStringList& users)
{
    const double seconds = 5;
    std::vector<ItemPtr> entries;
    std::vector<std::unique_ptr<ReceivingPeer>> peers;
    for (const QString& user : users)
    {
        entries.push_back(setup.ConnectingUpload(user, path, 20 + uint(entries.size())));
        peers.push_back(std::make_unique<ReceivingPeer>());
        peers.back()->Start(user, seconds);
    }
    Settings::Set(TransferSettings::uploadSpeedLimit, "100");
    manager->EnableUploadSpeedLimit(true);
    for (const QString& user : users)
        messenger->RequestFileConnectionToUser(user);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < (seconds + 3) * 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    qint64 total = 0;
    for (auto& peer : peers)
    {
        peer->Finish();
        total += peer->received;
    }
    const double rate = double(total) / seconds / 1024;
    std::printf("limit 100 KiB/s, %lld upload(s): %7.1f KiB/s over %.0f s, %+5.1f%% (target "
                "within 5%%)\n",
                static_cast<long long>(users.size()), rate, seconds, (rate / 100 - 1) * 100);
    for (ItemPtr entry : entries)
        manager->RemoveUpload(entry);
    manager->EnableUploadSpeedLimit(false);
}
// Our upload of the file to a peer that reads all of it, then sends junk instead of closing, for
// the given time: a piece as fast as the link takes it, or one piece per pause.
void JunkAfterTheLastByte(const QString& path, int junkPiece, int pauseMs)
{
    constexpr double seconds = 10;
    const qint64 size = QFileInfo(path).size();
    ItemPtr entry = setup.ConnectingUpload("talker", path, 40);
    quint16 port = 0;
    const int listener = Listener(port);
    MessengerTestSetup::SetUserAddress("talker", port);
    std::atomic<bool> allIn{false};
    std::atomic<double> peerCpu{0};
    std::atomic<qint64> sent{0};
    std::thread peer([&] {
        const double cpu = ThreadCpu();
        const int fd = accept(listener, nullptr, nullptr);
        // A full link must not hold the peer past its time.
        timeval timeout{0, 100000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        char request[4];
        const QByteArray offset = LittleEndian(0, 8);
        if (SkipFirstFrame(fd) && ReceiveAll(fd, request, 4) &&
            SendAll(fd, offset.constData(), 8) && Drain(fd, size) == size)
        {
            allIn = true;
            const std::vector<char> junk(size_t(junkPiece), 'j');
            const auto start = Clock::now();
            while (Seconds(start) < seconds)
            {
                const ssize_t part = send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
                if (part > 0)
                    sent += part;
                if (pauseMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
        }
        peerCpu = ThreadCpu() - cpu;
        // Held open until the upload is removed.
        char rest;
        recv(fd, &rest, 1, 0);
        close(fd);
    });
    messenger->RequestFileConnectionToUser("talker");
    QElapsedTimer clock;
    clock.start();
    while (!allIn && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double processCpu = ProcessCpu();
    const auto start = Clock::now();
    // The loop sleeps until the time is up, so that what is counted is the upload's.
    QEventLoop idle;
    QTimer::singleShot(int(seconds * 1000) + 100, &idle, &QEventLoop::quit);
    idle.exec();
    const double wall = Seconds(start);
    const bool waiting = entry[uploadEntryStatus].AsString() == TransferStatus::uploading;
    const double clientCpu = ProcessCpu() - processCpu - peerCpu;
    clock.restart();
    manager->RemoveUpload(entry);
    const qint64 removeMs = clock.elapsed();
    peer.join();
    close(listener);
    std::printf("last wait, peer sending %d-byte pieces%s: %.1f%% of one core over %.0f s "
                "(target at most 5%%), %lld bytes of junk sent, %s, removed in %lld ms\n",
                junkPiece, pauseMs > 0 ? qPrintable(QString(" every %1 ms").arg(pauseMs)) : "",
                100 * clientCpu / wall, wall, static_cast<long long>(sent.load()),
                waiting ? "still waiting" : "no longer waiting", static_cast<long long>(removeMs));
}

// Running downloads whose peers sent a little and then fell silent.
std::vector<ItemPtr> SilentDownloads(int count, uint firstRequest,
                                     std::vector<std::unique_ptr<FakePeer>>& peers)
{
    std::vector<ItemPtr> entries;
    for (uint request = firstRequest; request < firstRequest + uint(count); ++request)
    {
        const std::string name = "silent " + std::to_string(request) + ".bin";
        entries.push_back(manager->AddDownload("silent", name, "files", 1 << 20, true, 0));
        entries.back().Connect(d.GetType(remoteTransferReq)->GetItem(Value(request)));
        peers.push_back(setup.OpenFileLink("silent", request));
        if (peers.back()->WaitForBytes(8))
            peers.back()->SendRaw(QByteArray(9000, 's'));
    }
    for (ItemPtr entry : entries)
        if (!AwaitStatus(entry, downloadEntryStatus, TransferStatus::downloading, 10000))
            std::printf("a silent download did not start\n");
    return entries;
}

// Each thread used to be asked and waited for in turn, a wait step of up to a second each.
void StopSilentDownloads()
{
    std::vector<std::unique_ptr<FakePeer>> peers;
    const std::vector<ItemPtr> removed = SilentDownloads(100, 1000, peers);
    QElapsedTimer clock;
    clock.start();
    for (ItemPtr entry : removed)
        manager->RemoveDownload(entry);
    const double removing = clock.nsecsElapsed() / 1e9;
    SilentDownloads(100, 2000, peers);
    clock.restart();
    delete manager;
    manager = setup.manager = nullptr;
    const double quitting = clock.nsecsElapsed() / 1e9;
    std::printf("100 silent downloads removed in %.3f s, quit with 100 more in %.3f s: %.3f s in "
                "all (target at most 1.5 s)\n",
                removing, quitting, removing + quitting);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    setup.Build();
    manager = setup.manager;
    messenger = setup.messenger;
    const QString home = setup.home.path();

    std::vector<char> piece(pieceSize);
    for (int index = 0; index < pieceSize; ++index)
        piece[size_t(index)] = char(index * 7);
    const QString sharedPath = home + "/shared/big.bin";
    QDir().mkpath(home + "/shared");
    {
        QFile file(sharedPath);
        file.open(QIODevice::WriteOnly);
        for (qint64 written = 0; written < fileSize; written += pieceSize)
            file.write(piece.data(), pieceSize);
    }

    const Figures raw = Fastest([&] { return RawCopy(piece); });
    const Figures rawToFile = Fastest([&] { return RawCopy(piece, home + "/raw.bin"); });
    const Figures rawFromFile = Fastest([&] { return RawCopy(piece, QString(), sharedPath); });
    Print("raw socket copy", raw, 0);
    Print("raw copy into a file", rawToFile, 0);
    Print("raw copy from a file", rawFromFile, 0);
    const Figures download = Fastest([&] { return Download(piece, home + "/downloads"); });
    Print("download", download, raw.seconds);
    Print("  against raw into file", download, rawToFile.seconds);
    const Figures upload = Fastest([&] { return Upload(sharedPath); });
    Print("upload", upload, raw.seconds);
    Print("  against raw from file", upload, rawFromFile.seconds);
    SpeedLimit(sharedPath, {"one"});
    SpeedLimit(sharedPath, {"two", "three"});
    const QString smallPath = home + "/shared/small.bin";
    {
        QFile file(smallPath);
        file.open(QIODevice::WriteOnly);
        file.write(piece.data(), pieceSize);
    }
    JunkAfterTheLastByte(smallPath, pieceSize, 0);
    JunkAfterTheLastByte(smallPath, 65, 10);
    StopSilentDownloads();

    setup.Destroy();
    return 0;
}
