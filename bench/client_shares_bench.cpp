// The whole client's share path, measured from outside. A child process starts as the client does
// (the data saver, the server connection and settings, the messenger, the distributed network
// manager, the shares manager, the saved store loaded, the start-up walk), shares a real folder of
// generated files and builds its share list once; this process then reads the child's resident
// memory from /proc/PID/status and /proc/PID/smaps. Three children per size: an empty share, a
// first start that walks the folder, and a second start that loads the store the first one saved.
// Bytes per shared file are counted above the empty share. Only a failed sanity check fails the
// run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "DNetManager.h"
#include "Data.h"
#include "DataSaver.h"
#include "LongestPass.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"

using namespace SharesTypes;
using Clock = std::chrono::steady_clock;

namespace {
double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Words of track titles, of varied lengths, so that names and paths vary as a library's do.
const char* const titleWords[] = {
    "Love", "Night",    "River",   "Blue",       "Song",      "of",        "the",    "Midnight",
    "Rain", "Electric", "Dreams",  "Summer",     "Heart",     "Fire",      "Away",   "Home",
    "Time", "Dancing",  "Shadows", "Interlude",  "Reprise",   "Live",      "Remix",  "Golden",
    "Road", "Waltz",    "in",      "Cathedrals", "Yesterday", "Wonderful", "Stones", "Ocean",
    "Lost", "City",     "Lights",  "Forever",    "Symphony",  "No.",       "Silver", "Morning"};
const char* const extensions[] = {"flac", "ogg", "m4a", "opus", "wma", "aac", "ape", "wv"};

// A library's layout: artists, each with one to nine albums of six to eighteen tracks, named
// "Artist N/Album M/NN Title words.ext". Every file has its own size between 1 and 9 MB, made as a
// sparse file, which costs /dev/shm no page: that is what lets a million be made here. One track in
// a hundred is an MP3, which the client sends to its frame scanner. Gives the path of the last
// file.
bool MakeTree(const QString& root, int files, QString& lastFile)
{
    std::mt19937 random(7);
    const auto pick = [&random](int from, int to) {
        return from + int(random() % (to - from + 1));
    };
    int made = 0;
    for (int artist = 0; made < files; ++artist)
    {
        const QByteArray artistPath =
            QFile::encodeName(root) + "/Artist " + QByteArray::number(artist);
        if (::mkdir(artistPath.constData(), 0700) != 0)
            return false;
        for (int album = 0, albums = pick(1, 9); album < albums && made < files; ++album)
        {
            const QByteArray albumPath = artistPath + "/Album " + QByteArray::number(album) + " " +
                                         titleWords[random() % std::size(titleWords)];
            if (::mkdir(albumPath.constData(), 0700) != 0)
                return false;
            for (int track = 1, tracks = pick(6, 18); track <= tracks && made < files; ++track)
            {
                QByteArray name =
                    albumPath + "/" + (track < 10 ? "0" : "") + QByteArray::number(track);
                for (int word = 0, words = pick(1, 5); word < words; ++word)
                    name += QByteArray(" ") + titleWords[random() % std::size(titleWords)];
                name += made % 100 == 0 ? ".mp3" : "." + QByteArray(extensions[made % 8]);
                // 7 and 8,000,000 have no common factor: every file's size differs.
                const off_t size = 1000000 + off_t(made) * 7 % 8000000;
                const int handle = ::open(name.constData(), O_CREAT | O_WRONLY, 0600);
                if (handle < 0 || ::ftruncate(handle, size) != 0)
                    return false;
                ::close(handle);
                lastFile = QFile::decodeName(name);
                ++made;
            }
        }
    }
    return true;
}

// ---- The child: the client's share path --------------------------------------------------------

// Starts as the client does, shares `root` (brought back by the load on a second start), waits
// until the walk is merged, every file indexed and the share list built, looks `file` up by path,
// prints "ready <longest pass ms> <files, 0 when the look-up failed> <seconds> <look-up ms>", then
// on a line from the parent saves the store when asked and quits.
int RunClient(bool load, const QString& root, const QString& prefix, int expected,
              const QString& file)
{
    const auto start = Clock::now();
    LongestPass passes;
    passes.Start();

    new DataSaver;
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    MessengerTestSetup::Build(server, messenger);
    auto* dnet = new DNetManager;
    auto* shares = new SharedFoldersManager;
    // A second start holds every file from the load: only the merge's end says the walk is in.
    bool settled = false;
    QObject::connect(shares, &SharedFoldersManager::StartupSettled, [&settled] { settled = true; });
    if (load)
        dataSaver->Load(prefix);
    else
        ItemPtr(d.GetType(sharedFolder)->GetItem(Value(root))).NewItem(sharedPublic);
    shares->Init();
    // All of the above, the load with it, is the event loop's first pass, as in the client.
    const double firstPassMs = Seconds(start) * 1000;

    const auto indexed = [&] {
        shares->GetSharedFilesMessage("asker");
        return settled && int(d.GetType(sharedFile)->ItemCount()) == expected &&
               shares->IsShareListBuilt("asker");
    };
    while (!indexed() && Seconds(start) < 600)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    passes.Stop();
    // As a peer's upload request does; the lookup by path was filled after the merge.
    const auto lookUp = Clock::now();
    const bool found = !shares->GetSharedFileItem(file).IsNull();
    const double lookUpMs = Seconds(lookUp) * 1000;
    // A list past a frame's limit is built and refused: peers get no list from such a share.
    std::printf("ready %.0f %zu %.2f %.0f %d %.0f\n", passes.Milliseconds(),
                found ? d.GetType(sharedFile)->ItemCount() : 0, Seconds(start), lookUpMs,
                shares->GetSharedFilesMessage("asker").GetWrittenLength(), firstPassMs);
    std::fflush(stdout);

    std::string command;
    std::getline(std::cin, command);
    if (command == "save")
        dataSaver->Save(prefix);
    delete shares;
    delete dnet;
    delete messenger;
    delete server;
    return 0;
}

// ---- The parent: measuring from outside ---------------------------------------------------------

struct Resident
{
    long totalKb = 0;
    long heapKb = 0;
    long largestAnonymousKb = 0;
    long otherAnonymousKb = 0;
};

// The child's resident memory: all of it, the main heap, and the anonymous mappings where the
// other threads' arenas live.
Resident ReadResident(qint64 pid)
{
    Resident resident;
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    std::string line;
    bool anonymous = false;
    bool heap = false;
    while (std::getline(smaps, line))
    {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (!first.empty() && first.back() != ':')
        {
            std::string permissions, offset, device, inode, path;
            fields >> permissions >> offset >> device >> inode;
            std::getline(fields, path);
            path.erase(0, path.find_first_not_of(' '));
            heap = path == "[heap]";
            anonymous = path.empty();
            continue;
        }
        if (first != "Rss:")
            continue;
        long kb = 0;
        fields >> kb;
        resident.totalKb += kb;
        if (heap)
            resident.heapKb += kb;
        else if (anonymous)
        {
            resident.otherAnonymousKb += kb;
            resident.largestAnonymousKb = std::max(resident.largestAnonymousKb, kb);
        }
    }
    resident.otherAnonymousKb -= resident.largestAnonymousKb;
    return resident;
}

struct Run
{
    bool ok = false;
    double longestPassMs = 0;
    long files = 0;
    double seconds = 0;
    double firstLookUpMs = 0;
    long listBytes = 0;
    double firstPassMs = 0;
    Resident resident;
};

Run StartClient(const char* mode, const QString& root, int files, const QString& prefix,
                const QString& file, bool save)
{
    Run run;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--client", mode, root, prefix, QString::number(files), file});
    if (!child.waitForStarted(30000))
        return run;
    QByteArray line;
    while (!line.endsWith('\n') && child.state() == QProcess::Running)
    {
        child.waitForReadyRead(1000);
        line += child.readAllStandardOutput();
    }
    // Let the last queued work and freeing settle before reading from outside.
    QThread::msleep(500);
    run.resident = ReadResident(child.processId());
    std::istringstream fields(line.toStdString());
    std::string ready;
    fields >> ready >> run.longestPassMs >> run.files >> run.seconds >> run.firstLookUpMs >>
        run.listBytes >> run.firstPassMs;
    child.write(save ? "save\n" : "quit\n");
    child.closeWriteChannel();
    run.ok = ready == "ready" && child.waitForFinished(300000) && child.exitCode() == 0;
    return run;
}

// A pass target of 0 is printed as none.
void PrintRun(const char* what, const Run& run, const Run& empty, long target, int passTargetMs)
{
    const long above = run.resident.totalKb - empty.resident.totalKb;
    std::printf("%-34s %8.1f MiB resident (heap %.1f, largest anonymous mapping %.1f, other "
                "anonymous %.1f), %ld bytes per file above the empty share (target: %ld), longest "
                "event-loop pass %.0f ms (target: %s; the first, with the load, %.0f ms), %.1f s "
                "until merged, indexed and listed, a "
                "look-up by path %.0f ms, share list %s\n",
                what, run.resident.totalKb / 1024.0, run.resident.heapKb / 1024.0,
                run.resident.largestAnonymousKb / 1024.0, run.resident.otherAnonymousKb / 1024.0,
                run.files > 0 ? above * 1024 / run.files : 0, target, run.longestPassMs,
                passTargetMs > 0 ? (std::to_string(passTargetMs) + " ms").c_str() : "none",
                run.firstPassMs, run.seconds, run.firstLookUpMs,
                run.listBytes > 0 ? (std::to_string(run.listBytes) + " bytes").c_str()
                                  : "too large for a frame, not sent");
}

bool MeasureShare(int fileCount, long target, int againPassTargetMs)
{
    // In memory where the machine has it: a busy disk makes the tree, not the client, the cost.
    const QFileInfo memoryFolder("/dev/shm");
    const QString base =
        memoryFolder.isDir() && memoryFolder.isWritable() ? "/dev/shm" : QDir::tempPath();
    QTemporaryDir tree(base + "/client-shares-bench-XXXXXX");
    QTemporaryDir emptyTree(base + "/client-shares-empty-XXXXXX");
    QTemporaryDir data;
    const auto made = Clock::now();
    QString file;
    if (!tree.isValid() || !emptyTree.isValid() || !data.isValid() ||
        !MakeTree(tree.path(), fileCount, file))
    {
        std::fprintf(stderr, "sanity check failed: cannot make the tree\n");
        return false;
    }
    std::printf("%d files of distinct names and sizes made in %.1f s\n", fileCount, Seconds(made));
    const Run empty =
        StartClient("first", emptyTree.path(), 0, data.path() + "/empty", QString(), false);
    const Run first =
        StartClient("first", tree.path(), fileCount, data.path() + "/store", file, true);
    const Run again =
        StartClient("again", tree.path(), fileCount, data.path() + "/store", file, false);
    if (!empty.ok || !first.ok || !again.ok || first.files != fileCount || again.files != fileCount)
    {
        std::fprintf(stderr, "sanity check failed: a client did not share the %d files\n",
                     fileCount);
        return false;
    }
    PrintRun("empty share", empty, empty, target, 0);
    PrintRun("first start (walk)", first, empty, target, 250);
    PrintRun("second start (saved store, walk)", again, empty, target, againPassTargetMs);
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 7 && arguments[1] == "--client")
        return RunClient(arguments[2] == "again", arguments[3], arguments[4], arguments[5].toInt(),
                         arguments[6]);
    // `--small` measures 100,000 files only.
    const bool small = arguments.contains("--small");
    std::printf("shares_manager_bench measures the manager alone, in its own process; here the "
                "client's share path in a child process, read from outside.\n");
    if (!MeasureShare(100000, 800, 150))
        return 1;
    if (!small && !MeasureShare(1000000, 600, 0))
        return 1;
    return 0;
}
