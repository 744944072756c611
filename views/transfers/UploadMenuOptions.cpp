#include "UploadMenuOptions.h"

#include <QIcon>
#include <QMenu>

#include "Data.h"
#include "LocalPath.h"
#include "SharesTypes.h"
#include "TransferTypes.h"
#include "TransfersForm.h"

namespace {
QString FolderOf(ItemPtr entry)
{
    return entry[SharesTypes::sharedFile][SharesTypes::sharedFileFolder].AsString();
}
} // namespace

UploadMenuOptions::UploadMenuOptions(QMenu* menu, ItemSet chosen, QObject* parent)
    : QObject(parent), entries(std::move(chosen))
{
    if (entries.Empty())
        return;
    Listen(d.GetType(TransferTypes::uploadEntry)->itemRemoved, this,
           &UploadMenuOptions::OnEntryRemoved);
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    if (entries.Size() == 1)
        menu->addAction(QIcon(":/icons/play_icon"), tr("Open File"), this,
                        &UploadMenuOptions::OnOpenFile);
    menu->addAction(QIcon(":/icons/folder_icon"), tr("Open Folder"), this,
                    &UploadMenuOptions::OnOpenFolder);
    menu->addSeparator();
    menu->addAction(QIcon(":/icons/transfer_icon"),
                    entries.Size() > 1 ? tr("Remove uploads") : tr("Remove upload"), this,
                    &UploadMenuOptions::OnRemoveUploads);
}

void UploadMenuOptions::OnEntryRemoved(ItemPtr entry)
{
    entries.Erase(entry);
}

void UploadMenuOptions::OnRemoveUploads()
{
    if (transfersForm)
        transfersForm->RemoveUploads(entries);
}

void UploadMenuOptions::OnOpenFile()
{
    if (entries.Empty())
        return;
    ItemPtr entry = *entries.begin();
    OpenLocalPath(FolderOf(entry) + "/" +
                  entry[SharesTypes::sharedFile][SharesTypes::sharedFileName].AsString());
}

void UploadMenuOptions::OnOpenFolder()
{
    if (!entries.Empty())
        OpenLocalPath(FolderOf(*entries.begin()));
}
