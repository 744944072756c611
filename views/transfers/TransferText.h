#pragma once

#include <QString>

#include "ItemPtr.h"
#include "TransfersForm.h"

class NameTips;
class QTreeWidget;
class QTreeWidgetItem;

// The texts of the cells of the transfer trees.
namespace TransferText {
// "   1h:2m:5s": hours and minutes only when there are any, no zero padding, three leading
// blanks; a negative count gives only its seconds part.
QString TimeLeft(long long seconds);
// The time left of `remaining` bytes at the speed; empty while no bytes arrive (no speed), and
// never negative (a file larger than announced has nothing left).
QString TimeLeft(long long remaining, long long bytesPerSecond);
// The percentage done, one decimal's worth, held to 0-100 (a file may grow past its announced
// size); a zero or negative size counts as 100 when the transfer is complete and 0 otherwise,
// so that no cell ever shows a number that is not finite.
double Percent(long long done, long long size, bool complete);
// "1,536,000 (50.0%)".
QString Progress(long long done, double percent);
// Kibibytes per second with one decimal: 12,800 B/s give "12.5".
QString Speed(long long bytesPerSecond);

// The whole texts of the cells that show a name someone else chose, read from the store. A cell
// holds them as ShownName gives them; its tool tip gives the whole text.
QString UserName(ItemPtr user);
// The folder's parts last first, so that the narrow column shows the deepest one.
QString FolderName(ItemPtr folder);
QString DownloadFileName(ItemPtr entry);
QString UploadFileName(ItemPtr sharedFile);
QString DenialReason(ItemPtr entry);
// Puts the name into the cell as shown.
void SetName(QTreeWidgetItem* row, int column, const QString& name);
// The whole text behind a name cell of a row of the tree; empty for other cells and rows.
QString WholeName(const TransfersForm::Tree& tree, QTreeWidgetItem* row, int column);
// Gives the tree's cut names their whole text as a tool tip.
NameTips* AddNameTips(QTreeWidget* list, const TransfersForm::Tree& tree);
} // namespace TransferText
