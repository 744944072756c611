#include "TransferText.h"

#include <algorithm>

#include <QTreeWidget>

#include "ExtendedAsciiTranslator.h"
#include "GeneralFunctions.h"
#include "NameTips.h"
#include "ServerTypes.h"
#include "SharesTypes.h"
#include "TransferRow.h"
#include "TransferTypes.h"

namespace TransferText {
QString TimeLeft(long long seconds)
{
    QString text = QString("%1s").arg(seconds % 60);
    if (seconds > 59)
        text.prepend(QString("%1m:").arg((seconds / 60) % 60));
    if (seconds > 3599)
        text.prepend(QString("%1h:").arg(seconds / 3600));
    return "   " + text;
}

QString TimeLeft(long long remaining, long long bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return QString();
    return TimeLeft(std::max(0LL, remaining) / bytesPerSecond);
}

double Percent(long long done, long long size, bool complete)
{
    if (size <= 0)
        return complete ? 100.0 : 0.0;
    return std::clamp(static_cast<double>(done) * 100.0 / static_cast<double>(size), 0.0, 100.0);
}

QString Progress(long long done, double percent)
{
    // The shared number format leaves 0 blank, which would read as a missing figure here.
    const QString bytes = done == 0 ? QString("0") : CommafyNumber(done);
    return QString("%1 (%2%)").arg(bytes).arg(percent, 0, 'f', 1);
}

QString Speed(long long bytesPerSecond)
{
    return QString("%1").arg(static_cast<double>(bytesPerSecond) / 1024.0, 0, 'f', 1);
}

QString UserName(ItemPtr user)
{
    return user.AsString();
}

QString FolderName(ItemPtr folder)
{
    return ReversePathname(folder.AsString());
}

QString DownloadFileName(ItemPtr entry)
{
    return entry[TransferTypes::fileName].AsString();
}

QString UploadFileName(ItemPtr sharedFile)
{
    return ToQString(GetFileName(sharedFile[SharesTypes::sharedFileName].AsStdString()));
}

QString DenialReason(ItemPtr entry)
{
    return entry[TransferTypes::denialReason].AsString().toLower();
}

void SetName(QTreeWidgetItem* row, int column, const QString& name)
{
    row->setText(column, ShownName(name));
}

QString WholeName(const TransfersForm::Tree& tree, QTreeWidgetItem* row, int column)
{
    using Form = TransfersForm;
    switch (column)
    {
    case Form::UserColumn:
        return UserName(TransferRow::NodeOf(row, tree.userNode)[ServerTypes::user]);
    case Form::FolderColumn:
        return FolderName(TransferRow::NodeOf(row, tree.folderNode)[tree.folder]);
    case Form::FileColumn:
    case Form::StatusColumn:
        break;
    default:
        return QString();
    }
    ItemPtr entry = TransferRow::NodeOf(row, tree.fileNode)[tree.entry];
    if (entry.IsNull())
        return QString();
    if (column == Form::StatusColumn)
        return entry[tree.status].AsString() == TransferStatus::denied ? DenialReason(entry)
                                                                       : QString();
    if (&tree == &Form::downloads)
        return DownloadFileName(entry);
    return UploadFileName(entry[SharesTypes::sharedFile]);
}

NameTips* AddNameTips(QTreeWidget* list, const TransfersForm::Tree& tree)
{
    return new NameTips(
        list, [&tree](QTreeWidgetItem* row, int column) { return WholeName(tree, row, column); });
}
} // namespace TransferText
