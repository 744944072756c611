// Browse benchmark: a browsed user's share of 50,000, 100,000 and 200,000 files, twenty files a
// folder in a tree four levels deep, arrives as a share list. It prints turning the list into
// store items, filling the tab's folder tree, one click on a folder (and a second one, which
// clears the first folder's rows), one filter keystroke over the whole tree, queueing a folder
// whose subtree holds 10,000 files, and closing the tab. None of them may grow faster than the
// share: compare the figures of the sizes. Only a failed sanity check fails the run.

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "BrowseTypes.h"
#include "Data.h"
#include "GeneralFunctions.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "ShareForm.h"
#include "SharedFoldersManager.h"
#include "SharesForm.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"
#include "ui_SharesForm.h"

namespace {
constexpr int filesPerFolder = 20;

std::string FolderPath(int serial)
{
    return "share\\a" + std::to_string(serial / 500) + "\\b" + std::to_string(serial / 100) +
           "\\c" + std::to_string(serial / 10) + "\\d" + std::to_string(serial);
}

// The list as a peer sends it, with every parent folder listed too.
FileInfoMap ShareList(int files)
{
    FileInfoMap folders;
    const int folderCount = files / filesPerFolder;
    for (int serial = 0; serial < folderCount; ++serial)
    {
        std::string path = FolderPath(serial);
        std::set<FileInfo>& entries = folders[path];
        for (int n = 0; n < filesPerFolder; ++n)
        {
            FileInfo info;
            info.name = "track " + std::to_string(serial * filesPerFolder + n) + " word" +
                        std::to_string((serial + n) % 97) + ".mp3";
            info.size = 1000000 + n;
            info.attributes.pairs.push_back({0, 192});
            entries.insert(info);
        }
        for (std::string parent = GetParentFolder(path); parent != path && !parent.empty();
             path = parent, parent = GetParentFolder(path))
            folders[parent];
    }
    return folders;
}

QTreeWidgetItem* Row(QTreeWidget* tree, const QString& text)
{
    const QList<QTreeWidgetItem*> rows =
        tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return rows.isEmpty() ? nullptr : rows.first();
}

double Ms(QElapsedTimer& timer)
{
    const double ms = timer.nsecsElapsed() / 1e6;
    timer.restart();
    return ms;
}

bool Run(SharesForm& shares, int files)
{
    const QString user = QString("browsed%1").arg(files);
    FileInfoMap list = ShareList(files);
    AttributeTranslationTable table;
    ShareForm* form = shares.OpenShareBrowse(user);
    QApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    shares.OnUserShare(user, list, table);
    ItemPtr share = form->Share();
    const double fill = Ms(timer);
    QApplication::processEvents();
    const double paint = Ms(timer);

    QTreeWidget* tree = form->FolderTree();
    QTreeWidgetItem* first = Row(tree, "d1");
    QTreeWidgetItem* second = Row(tree, "d2");
    if (share.IsNull() || !first || !second)
        return false;
    timer.restart();
    tree->setCurrentItem(first);
    const double click = Ms(timer);
    tree->setCurrentItem(second);
    const double nextClick = Ms(timer);
    if (form->FileList()->topLevelItemCount() != filesPerFolder)
        return false;

    form->FilterEdit()->setText("word7");
    QApplication::processEvents();
    const double filter = Ms(timer);

    // "a1" holds the folders 500 to 999 with their parents: 10,000 files.
    QTreeWidgetItem* folder = Row(tree, "a1");
    const size_t before = d.GetType(TransferTypes::downloadEntry)->ItemCount();
    timer.restart();
    form->OnFolderDoubleClicked(folder, 0);
    const double queue = Ms(timer);
    const size_t queued = d.GetType(TransferTypes::downloadEntry)->ItemCount() - before;

    shares.OnTabCloseRequested(shares.Form()->tabControl->indexOf(form));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const double close = Ms(timer);
    std::printf("%7d files %6zu folders: list to tab %7.1f ms  paint %6.1f ms  click %5.2f ms  "
                "next click %5.2f ms  filter %7.1f ms  queue %zu files "
                "%7.1f ms  close %7.1f ms\n",
                files, list.size(), fill, paint, click, nextClick, filter, queued, queue, close);
    return queued > 0;
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication application(argc, argv);
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    MessengerTestSetup::Build(server, messenger);
    auto* sharesManager = new SharedFoldersManager;
    auto* transfers = new TransferQueueManager;
    // The queue asks the user only when online; the figures are the views' and the store's.
    Settings::Set(BrowseTypes::expandNewShares, "yes");

    auto shares = std::make_unique<SharesForm>();
    shares->resize(1200, 800);
    shares->show();
    shares->Init();
    for (int files : {50000, 100000, 200000})
    {
        if (!Run(*shares, files))
        {
            std::fprintf(stderr, "the share of %d files was not shown or queued\n", files);
            return 1;
        }
    }
    shares.reset();
    delete transfers;
    delete sharesManager;
    delete messenger;
    delete server;
    return 0;
}
