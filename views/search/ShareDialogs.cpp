#include "ShareDialogs.h"

#include "AddSharedFolderDialog.h"
#include "ExcludedExtensionsDialog.h"
#include "SharedFilesRescannedDialog.h"
#include "ViewHooks.h"

namespace ShareDialogs {
namespace {
QDialog* ShareFolder(ItemPtr folder, QWidget* parent)
{
    return new AddSharedFolderDialog(folder, parent);
}

QDialog* EditExcludedExtensions(QWidget* parent)
{
    if (excludedExtensionsDialog)
        return excludedExtensionsDialog;
    return new ExcludedExtensionsDialog(parent);
}

QDialog* ReportRescan(const QStringList& lines, QWidget* parent)
{
    auto* dialog = new SharedFilesRescannedDialog(parent);
    for (const QString& line : lines)
        dialog->Append(line);
    return dialog;
}
} // namespace

void Install()
{
    ViewHooks::shareFolder = &ShareFolder;
    ViewHooks::editExcludedExtensions = &EditExcludedExtensions;
    ViewHooks::reportRescan = &ReportRescan;
}
} // namespace ShareDialogs
