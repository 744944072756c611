#include "TransfersForm.h"

#include <QMenu>
#include <QSet>

#include "DownloadMenuOptions.h"
#include "ServerTypes.h"
#include "TransferRow.h"
#include "UploadMenuOptions.h"
#include "UserMenuOptions.h"
#include "ui_TransfersForm.h"

namespace {
// The entries of the selected rows and the users they belong to. One row gives all its entries;
// among several rows, a group row of two or more entries gives none but still names its user.
struct Choice
{
    ItemSet entries;
    QSet<QString> users;
};
} // namespace

std::vector<std::unique_ptr<QObject>> TransfersForm::FillDownloadsMenu(QMenu* menu)
{
    return FillMenu(downloads, menu);
}

std::vector<std::unique_ptr<QObject>> TransfersForm::FillUploadsMenu(QMenu* menu)
{
    return FillMenu(uploads, menu);
}

std::vector<std::unique_ptr<QObject>> TransfersForm::FillMenu(const Tree& tree, QMenu* menu)
{
    std::vector<std::unique_ptr<QObject>> options;
    const QList<QTreeWidgetItem*> rows = TreeOf(tree)->selectedItems();
    if (rows.isEmpty())
        return options;
    Choice choice;
    for (QTreeWidgetItem* row : rows)
    {
        ItemPtr user = TransferRow::NodeOf(UserRowOf(tree, row), tree.userNode)[ServerTypes::user];
        if (!user.IsNull())
            choice.users.insert(user.AsString());
        ItemSet entries = EntriesOf(tree, row);
        if (rows.size() == 1 || entries.Size() <= 1)
            choice.entries.Add(entries);
    }
    if (&tree == &downloads)
        options.push_back(std::make_unique<DownloadMenuOptions>(menu, choice.entries));
    else
        options.push_back(std::make_unique<UploadMenuOptions>(menu, choice.entries));
    if (choice.users.size() == 1)
        options.push_back(std::make_unique<UserMenuOptions>(menu, *choice.users.begin()));
    return options;
}

void TransfersForm::OpenContextMenu(QTreeWidget* tree, QMenu& menu, QPoint point)
{
    auto options = tree == ui->downloadsList ? FillDownloadsMenu(&menu) : FillUploadsMenu(&menu);
    if (menu.actions().isEmpty())
        return;
    menu.exec(tree->viewport()->mapToGlobal(point));
}

void TransfersForm::OnDownloadsContextMenuRequested(QPoint point)
{
    QMenu menu;
    OpenContextMenu(ui->downloadsList, menu, point);
}

void TransfersForm::OnUploadsContextMenuRequested(QPoint point)
{
    QMenu menu;
    OpenContextMenu(ui->uploadsList, menu, point);
}
