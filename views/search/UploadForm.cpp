#include "UploadForm.h"

#include "ActionSetToolBar.h"
#include "BrowseTypes.h"
#include "Data.h"
#include "ExtendedAsciiTranslator.h"
#include "ServerTypes.h"
#include "SharesTypes.h"
#include "TransferQueueManager.h"
#include "ViewAddress.h"
#include "ui_UploadForm.h"

using namespace SharesTypes;

namespace {
const char* const uploadIcon = ":/icons/upload_icon";
} // namespace

UploadForm::UploadForm(const QString& user, QWidget* parent)
    : ShareTreeForm(user, parent), ui(new Ui_UploadForm)
{
    ui->setupUi(this);
    SetUpTrees(ui->folderTree, ui->fileList, ui->filterEdit, ui->filterHelpButton,
               "upload_folders");
    ItemPtr tab = d.GetType(BrowseTypes::uploadShareTab)->NewItem(ViewAddress::Of(this));
    tab.Connect(d.GetType(ServerTypes::user)->GetItem(Value(user)));
}

UploadForm::~UploadForm()
{
    delete ui;
}

void UploadForm::SetShare(ItemPtr userShare)
{
    if (!share.IsNull() || userShare.IsNull())
        return;
    share = userShare;
    FillFolderTree(share, false);
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &UploadForm::OnActionBarTriggered);
    ShowTrees(true);
}

void UploadForm::OnActionBarTriggered(QWidget* ip_widget, QString i_action)
{
    if (i_action == "upload_share_folder" && ip_widget == ui->folderTree)
        OnUploadFolder();
    else if (i_action == "upload_share_file" && ip_widget == ui->fileList)
        OnUploadFile();
}

void UploadForm::UploadFile(ItemPtr file)
{
    ItemPtr folder = file[userShareFolder];
    const QString path = ToQString(folder[userShareFolderName].AsStdString()) + "\\" +
                         ToQString(file[userShareFileName].AsStdString());
    if (transferQueueManager)
        transferQueueManager->AddUpload(user, path);
}

void UploadForm::UploadFolder(ItemPtr folder)
{
    std::vector<ItemPtr> sent;
    for (ItemPtr walked : FolderAndSubfolders(folder))
    {
        for (ItemPtr file : walked.GetItems(userShareFile))
        {
            UploadFile(file);
            sent.push_back(file);
        }
    }
    MarkFileRows(sent, uploadIcon);
}

void UploadForm::HandFolder(ItemPtr folder)
{
    UploadFolder(folder);
}

void UploadForm::HandFile(ItemPtr file)
{
    UploadFile(file);
}

const char* UploadForm::HandedIcon() const
{
    return uploadIcon;
}

QString UploadForm::FolderActionText() const
{
    return tr("Upload Folder");
}

QString UploadForm::FileActionText() const
{
    return tr("Upload File(s)");
}

void UploadForm::OnUploadFolder()
{
    ActOnFolders(SelectedFolders());
}

void UploadForm::OnUploadFile()
{
    ActOnFiles(SelectedFiles());
}

ItemPtr UploadForm::Delete()
{
    ItemPtr tab = d.GetType(BrowseTypes::uploadShareTab)->HasItem(ViewAddress::Of(this));
    if (!tab.IsNull())
        tab.Remove();
    // The snapshot belongs to this tab alone.
    ItemPtr shown = share;
    share = ItemPtr();
    return shown;
}

void UploadForm::DropUnreachableFiles(FileInfoMap& share)
{
    for (auto& [path, files] : share)
    {
        for (auto file = files.begin(); file != files.end();)
        {
            if (file->name.find('\\') != std::string::npos)
                file = files.erase(file);
            else
                ++file;
        }
    }
}
