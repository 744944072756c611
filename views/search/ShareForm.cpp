#include "ShareForm.h"

#include <QScrollBar>
#include <QShowEvent>
#include <QTextBrowser>

#include "ActionSetToolBar.h"
#include "BrowseTypes.h"
#include "Data.h"
#include "DownloadPath.h"
#include "EventToolBar.h"
#include "ExtendedAsciiTranslator.h"
#include "GeneralFunctions.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "PortTestPage.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "TransferQueueManager.h"
#include "ViewAddress.h"
#include "ui_ShareForm.h"

using namespace SharesTypes;

namespace {
// The type of a messaging link, as the messenger reports a failed one.
const char* const messageLink = "P";
const char* const downloadIcon = ":/icons/download_icon";
} // namespace

ShareForm::ShareForm(const QString& user, QWidget* parent)
    : ShareTreeForm(user, parent), ui(new Ui_ShareForm)
{
    ui->setupUi(this);
    SetUpTrees(ui->folderTree, ui->fileList, ui->filterEdit, ui->filterHelpButton, "share_folders");
    if (actionBar)
        actionBar->RegisterWidget(ui->fileList, "share_files");
    ItemPtr tab = d.GetType(BrowseTypes::userShareTab)->NewItem(ViewAddress::Of(this));
    tab.Connect(d.GetType(ServerTypes::user)->GetItem(Value(user)));
    ui->messageBrowser->append(tr("Requesting file list..."));
    Listen(d.GetType(userShare)->itemRemoved, this, &ShareForm::OnUserShareItemRemoved);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this,
                &ShareForm::OnConnectionToUserFailed);
}

ShareForm::~ShareForm()
{
    delete ui;
}

void ShareForm::AnnounceShare(QWidget* widget)
{
    if (eventToolBar)
        eventToolBar->AddEvent(ShownName(user), ":/icons/browse_icon", widget, QString(), "browse",
                               false);
}

void ShareForm::SetShare(ItemPtr userShare)
{
    // A second list for a shown share changes nothing: its rows would otherwise be doubled, or
    // lose the items they show.
    if (!share.IsNull() || userShare.IsNull())
        return;
    answered = true;
    share = userShare;
    if (share.GetItems(userShareFolder).Empty())
    {
        ui->messageBrowser->append(
            tr("No files returned. The user is either not sharing any files, or is sharing all "
               "of their files privately."));
        AnnounceShare(ui->messageBrowser);
        return;
    }
    FillFolderTree(share, true);
    ui->messageBrowser->hide();
    ShowTrees(true);
    AnnounceShare(ui->folderTree);
}

void ShareForm::FolderTreeFilled()
{
    if (!pendingPath.empty())
        BrowseToFolder(pendingPath);
}

void ShareForm::BrowseToFolder(const std::string& folder)
{
    if (share.IsNull() || IsFilling())
    {
        pendingPath = folder;
        return;
    }
    ItemPtr name = d.GetType(userShareFolderName)->HasItem(Value(folder));
    MakeCurrent(name.GetItems(userShareFolder).Connected(share));
}

void ShareForm::MakeCurrent(ItemPtr folder)
{
    ItemPtr node = folder[BrowseTypes::folderNode];
    if (node.IsNull())
        return;
    // A folder node lives exactly as long as its row.
    auto* row = node.AsPointer<QTreeWidgetItem>();
    ui->folderTree->scrollToItem(row, QAbstractItemView::PositionAtTop);
    ui->folderTree->setCurrentItem(row);
}

void ShareForm::QueueFile(ItemPtr file, bool single, int level)
{
    ItemPtr folder = file[userShareFolder];
    const QString owner = folder[userShare][ServerTypes::user].AsString();
    if (!transferQueueManager || owner.isEmpty())
        return;
    transferQueueManager->AddDownload(owner, file[userShareFileName].AsStdString(),
                                      folder[userShareFolderName].AsStdString(),
                                      file[PeerTypes::fileSize].AsInt64(), single, level);
}

void ShareForm::DownloadFolder(ItemPtr folder, bool subfolder)
{
    std::vector<ItemPtr> queued;
    const int chosenDepth = DownloadPath::ComponentCount(folder[userShareFolderName].AsStdString());
    for (ItemPtr walked : FolderAndSubfolders(folder))
    {
        // Each folder keeps its path from the chosen folder down, so that subfolders of one
        // name at different places stay apart under the chosen folder's name.
        const int depth = DownloadPath::ComponentCount(walked[userShareFolderName].AsStdString());
        const int level = depth - chosenDepth + (subfolder ? 1 : 0);
        for (ItemPtr file :
             walked.GetItems(userShareFile).SortAlphabeticBy(userShareFileName, true, true))
        {
            const QString name = ToQString(file[userShareFileName].AsStdString());
            if (transferQueueManager && transferQueueManager->HasExcludedDownloadExtension(name))
                continue;
            QueueFile(file, false, level);
            queued.push_back(file);
        }
    }
    MarkFileRows(queued, downloadIcon);
}

void ShareForm::HandFolder(ItemPtr folder)
{
    DownloadFolder(folder, false);
}

void ShareForm::HandFile(ItemPtr file)
{
    QueueFile(file, true, 0);
}

const char* ShareForm::HandedIcon() const
{
    return downloadIcon;
}

QString ShareForm::FolderActionText() const
{
    return tr("Download Folder");
}

QString ShareForm::FileActionText() const
{
    return tr("Download File(s)");
}

void ShareForm::OnDownloadFolder()
{
    ActOnFolders(SelectedFolders());
}

void ShareForm::OnDownloadFile()
{
    ActOnFiles(SelectedFiles());
}

void ShareForm::OnConnectionToUserFailed(QString i_user, QString i_connectionType)
{
    if (answered || i_user != user || i_connectionType != messageLink)
        return;
    answered = true;
    const QUrl page = PortTestPage(Settings::GetText(ServerSettings::listeningPort));
    ui->messageBrowser->append(
        tr("A connection could not be successfully formed to the user. If this is happening to "
           "you a lot, <a href=\"%1\">Check here</a> to make sure that your port is open.")
            .arg(page.toString(QUrl::FullyEncoded)));
    AnnounceShare(ui->messageBrowser);
}

void ShareForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(ui->folderTree);
}

void ShareForm::OnUserShareItemRemoved(ItemPtr removed)
{
    if (removed != share)
        return;
    share = ItemPtr();
    // The rows still to make would name folders that are gone.
    StopFill();
}

ItemPtr ShareForm::Delete()
{
    ItemPtr owner = d.GetType(ServerTypes::user)->HasItem(Value(user));
    ItemPtr shown = share.IsNull() ? owner[userShare] : share;
    share = ItemPtr();
    // Once off the user, the share is reached by nobody but its removal, and a new tab asks
    // for a new list.
    if (!shown.IsNull() && !owner.IsNull())
        shown.Disconnect(owner);
    ItemPtr tab = d.GetType(BrowseTypes::userShareTab)->HasItem(ViewAddress::Of(this));
    if (!tab.IsNull())
        tab.Remove();
    return shown;
}
