#include "CompleteDownloadsForm.h"

#include <QDateTime>
#include <QHeaderView>

#include "Data.h"
#include "DataSaver.h"
#include "GeneralFunctions.h"
#include "NameTips.h"
#include "ServerTypes.h"
#include "TransferQueueManager.h"
#include "TransferRow.h"
#include "TransferTypes.h"
#include "TransfersViewTypes.h"
#include "TypeTable.h"
#include "ui_CompleteDownloadsForm.h"

using namespace TransferTypes;
using TransfersViewTypes::completeDownloadNode;

CompleteDownloadsForm* completeDownloadsForm = nullptr;

namespace {
const TypeTable::TypeRow nodeTypes[] = {{completeDownloadNode, PrimacyRoot, false}};
const TypeTable::RelationRow nodeRelations[] = {{completeDownloadNode, completeDownload, One, One}};

// The completion time, kept once per row as its sort key.
constexpr int timeRole = Qt::UserRole;

// The attribute of a record that a column shows; null for the columns of the engine's own texts.
const char* NameType(int column)
{
    switch (column)
    {
    case CompleteDownloadsForm::FileColumn:
        return completeDownloadFilename;
    case CompleteDownloadsForm::FolderColumn:
        return completeDownloadRelativeFolder;
    case CompleteDownloadsForm::UserColumn:
        return ServerTypes::user;
    default:
        return nullptr;
    }
}
} // namespace

bool CompleteDownloadItem::operator<(const QTreeWidgetItem& other) const
{
    return data(0, timeRole).toLongLong() < other.data(0, timeRole).toLongLong();
}

CompleteDownloadsForm::CompleteDownloadsForm(QWidget* parent)
    : QWidget(parent), ui(new Ui_CompleteDownloadsForm)
{
    completeDownloadsForm = this;
    ui->setupUi(this);
    QTreeWidget* list = ui->downloadList;
    list->setColumnCount(5);
    list->header()->setStretchLastSection(false);
    // The time column fits "Mon Dec 7 07:05:12 2026" in the desktop's usual font.
    const int widths[] = {250, 250, 100, 100, 250};
    for (int column = 0; column < 5; ++column)
        list->setColumnWidth(column, widths[column]);
    list->header()->setSectionsMovable(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(
        {tr("File"), tr("Folder"), tr("User"), tr("Size"), tr("Completion time")});
    new NameTips(list, [](QTreeWidgetItem* row, int column) { return WholeName(row, column); });
}

QString CompleteDownloadsForm::WholeName(QTreeWidgetItem* row, int column)
{
    const char* type = NameType(column);
    if (!type)
        return QString();
    ItemPtr node = d.GetType(completeDownloadNode)->HasItem(TransferRow::Address(row));
    return node[completeDownload][type].AsString();
}

CompleteDownloadsForm::~CompleteDownloadsForm()
{
    delete ui;
    if (completeDownloadsForm == this)
        completeDownloadsForm = nullptr;
}

void CompleteDownloadsForm::Init()
{
    if (!d.HasType(completeDownloadNode))
        TypeTable::Declare(d, nodeTypes, nodeRelations);
    if (transferQueueManager)
        connect(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded, this,
                &CompleteDownloadsForm::OnCompleteDownloadAdded);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    // The store was loaded long before the tab is first asked for: show what finished since.
    DataLoaded();
}

void CompleteDownloadsForm::DataLoaded()
{
    // All rows first, then one sort: sorting after each row made opening quadratic.
    QList<QTreeWidgetItem*> rows;
    for (ItemPtr download : g(completeDownload))
        if (QTreeWidgetItem* row = MakeRow(download))
            rows << row;
    if (rows.isEmpty())
        return;
    ui->downloadList->addTopLevelItems(rows);
    ui->downloadList->sortItems(FileColumn, Qt::DescendingOrder);
}

void CompleteDownloadsForm::OnCompleteDownloadAdded(ItemPtr download)
{
    QTreeWidgetItem* row = MakeRow(download);
    if (!row)
        return;
    // Newest first: the first row not newer than this one is where it goes.
    QTreeWidget* list = ui->downloadList;
    int low = 0;
    int high = list->topLevelItemCount();
    while (low < high)
    {
        const int middle = (low + high) / 2;
        if (*row < *list->topLevelItem(middle))
            low = middle + 1;
        else
            high = middle;
    }
    list->insertTopLevelItem(low, row);
}

QTreeWidgetItem* CompleteDownloadsForm::MakeRow(ItemPtr download)
{
    if (download.IsNull() || download.IsConnected(completeDownloadNode))
        return nullptr;
    auto* row = new CompleteDownloadItem;
    // Names as shown; the whole ones stay in the record.
    for (int column : {FileColumn, FolderColumn, UserColumn})
        row->setText(column, ShownName(download[NameType(column)].AsString()));
    row->setText(SizeColumn, download[completeDownloadFileSize].AsString());
    const QString time = download[completeDownloadCompletionTime].AsString();
    row->setText(CompletionTimeColumn, time);
    row->setData(0, timeRole, QDateTime::fromString(time, Qt::TextDate).toMSecsSinceEpoch());
    download.Connect(d.GetType(completeDownloadNode)->GetItem(TransferRow::Address(row)));
    return row;
}
