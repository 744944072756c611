#include "SharesForm.h"

#include "ActionSetToolBar.h"
#include "BrowseTypes.h"
#include "Data.h"
#include "FocusWidget.h"
#include "FolderRowPlan.h"
#include "GeneralFunctions.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "ServerTypes.h"
#include "ShareForm.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TypeTable.h"
#include "UploadForm.h"
#include "ViewAddress.h"
#include "ui_SharesForm.h"

using namespace SharesTypes;

SharesForm* sharesForm = nullptr;

namespace {
using TypeTable::RelationRow;
using TypeTable::TypeRow;

const TypeRow typeRows[] = {
    {BrowseTypes::userShareTab, PrimacyRoot, false},
    {BrowseTypes::uploadShareTab, PrimacyRoot, false},
    {BrowseTypes::folderNode, PrimacyIntermediate, false},
    {BrowseTypes::fileNode, PrimacyIntermediate, false},
};

const RelationRow relationRows[] = {
    {ServerTypes::user, BrowseTypes::userShareTab, One, One},
    {ServerTypes::user, BrowseTypes::uploadShareTab, One, One},
    {BrowseTypes::folderNode, userShareFolder, One, One},
    {BrowseTypes::fileNode, userShareFile, One, One},
};

const ActionSetToolBar::SetAction treeActions[] = {
    {"share_folders", "expand_level", "Expand Level", ":/icons/browse_icon", false},
    {"share_folders", "collapse_all", "Collapse All", ":/icons/browse_icon", false},
    {"share_folders", "expand_all", "Expand All", ":/icons/browse_icon", false},
    {"upload_folders", "expand_level", "Expand Level", ":/icons/browse_icon", false},
    {"upload_folders", "collapse_all", "Collapse All", ":/icons/browse_icon", false},
    {"upload_folders", "expand_all", "Expand All", ":/icons/browse_icon", false},
};

// A tab title shows the name on one line; a lone '&' would otherwise mark a shortcut.
QString TabTitle(const QString& text)
{
    return ShownName(text).replace("&", "&&");
}

ItemPtr UserItem(const QString& user)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(user));
}

void Connect(ItemPtr item, const char* type, const Value& value)
{
    item.Connect(d.GetType(type)->GetItem(value));
}
} // namespace

SharesForm::SharesForm(QWidget* parent) : QWidget(parent), ui(new Ui_SharesForm)
{
    sharesForm = this;
    ui->setupUi(this);
}

SharesForm::~SharesForm()
{
    if (sharesForm == this)
        sharesForm = nullptr;
    delete ui;
}

void SharesForm::DeclareTypes()
{
    if (!d.HasType(BrowseTypes::userShareTab))
        TypeTable::Declare(d, typeRows, relationRows);
}

void SharesForm::Init()
{
    DeclareTypes();
    connect(ui->tabControl, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested);
    if (actionBar)
    {
        for (const ActionSetToolBar::SetAction& action : treeActions)
            actionBar->AddSetAction(action);
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &SharesForm::OnToolBarActionTriggered);
    }
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserShare, this, &SharesForm::OnUserShare);
}

ShareForm* SharesForm::ShareFormOf(ItemPtr user) const
{
    return ViewAddress::Find<ShareForm>(user[BrowseTypes::userShareTab]);
}

UploadForm* SharesForm::UploadFormOf(ItemPtr user) const
{
    return ViewAddress::Find<UploadForm>(user[BrowseTypes::uploadShareTab]);
}

ShareForm* SharesForm::OpenShareBrowse(const QString& user)
{
    if (ShareForm* open = ShareFormOf(UserItem(user)))
    {
        FocusWidget(open);
        return open;
    }
    auto* form = new ShareForm(user, this);
    ui->tabControl->addTab(form, TabTitle(user));
    if (peerMessenger)
        peerMessenger->GetUserSharedFiles(user);
    FocusWidget(form);
    return form;
}

UploadForm* SharesForm::OpenUploadBrowse(const QString& user)
{
    if (UploadForm* open = UploadFormOf(UserItem(user)))
    {
        FocusWidget(open);
        return open;
    }
    auto* form = new UploadForm(user, this);
    ui->tabControl->addTab(form, TabTitle(tr("Upload to ") + user));
    FileInfoMap share;
    AttributeTranslationTable table;
    if (sharedFoldersManager)
        sharedFoldersManager->GetSharedFilesAsUserShare(user, share, table);
    UploadForm::DropUnreachableFiles(share);
    form->SetShare(CreateUserShareData(share, table));
    FocusWidget(form);
    return form;
}

ItemPtr SharesForm::CreateUserShareData(FileInfoMap& share, AttributeTranslationTable&)
{
    ItemPtr userShareItem = d.GetType(userShare)->NewItem();
    Type* names = d.GetType(userShareFolderName);
    std::vector<const std::string*> paths;
    paths.reserve(share.size());
    for (const auto& entry : share)
        paths.push_back(&entry.first);
    // A folder hangs from its nearest listed ancestor, as its row does, so that a folder taken
    // whole takes what its row shows below it.
    const std::vector<int> parents = FolderRowPlan::NearestListedAncestors(paths);
    std::vector<ItemPtr> folders;
    folders.reserve(share.size());
    // The map is in byte order of the paths, so an ancestor is made before its descendants.
    for (const auto& [path, files] : share)
    {
        ItemPtr folder = userShareItem.NewItem(userShareFolder);
        folder.Connect(names->GetItem(Value(path)));
        const int parent = parents[folders.size()];
        folders.push_back(folder);
        if (parent >= 0)
        {
            ItemPtr up = folder.NewItem(userShareFolderParent);
            up.Connect(folders[parent].NewItem(userShareFolderChild));
        }
        for (const FileInfo& info : files)
        {
            ItemPtr file = folder.NewItem(userShareFile);
            Connect(file, userShareFileName, Value(info.name));
            Connect(file, PeerTypes::fileSize, Value(static_cast<long long>(info.size)));
            for (const auto& [code, value] : info.attributes.pairs)
            {
                if (code == AttributeMap::Bitrate)
                    Connect(file, PeerTypes::bitrate, Value(value));
                else if (code == AttributeMap::Length)
                    Connect(file, PeerTypes::lengthSeconds, Value(value));
                else if (code == AttributeMap::BitrateMode)
                    Connect(file, PeerTypes::bitrateMode, Value(value == 0 ? "cbr" : "vbr"));
            }
        }
    }
    return userShareItem;
}

void SharesForm::OnUserShare(QString i_user, FileInfoMap& i_share,
                             AttributeTranslationTable& i_table)
{
    ItemPtr user = UserItem(i_user);
    // No tab: someone else asked for the list, or the tab closed before it came.
    ShareForm* form = ShareFormOf(user);
    if (!form)
        return;
    // A tab shows one list; a repeat must neither double its rows nor take its items away.
    if (!form->Share().IsNull())
        return;
    ItemPtr share = user[userShare];
    if (share.IsNull())
    {
        share = CreateUserShareData(i_share, i_table);
        share.Connect(user);
    }
    form->SetShare(share);
}

void SharesForm::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    auto* tree = qobject_cast<ShareTreeForm*>(ui->tabControl->currentWidget());
    if (!tree)
        return;
    if (i_action == "expand_level")
        tree->ExpandLevel();
    else if (i_action == "collapse_all")
        tree->CollapseAll();
    else if (i_action == "expand_all")
        tree->ExpandAll();
}

void SharesForm::OnTabCloseRequested(int i_tabIndex)
{
    auto* page = qobject_cast<ShareTreeForm*>(ui->tabControl->widget(i_tabIndex));
    if (!page)
        return;
    ui->tabControl->removeTab(i_tabIndex);
    page->Close(removal);
}
