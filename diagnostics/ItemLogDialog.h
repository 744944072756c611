#pragma once

#include <memory>

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"

class QTextBrowser;

namespace Ui {
class ItemLogDialog;
}

// The log lines recorded for one item: those present when it opens, in the order they were
// logged, then each new one as it is recorded. One page for all lines and one per log area.
// Frees itself when closed.
class ItemLogDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit ItemLogDialog(ItemPtr i_item, QWidget* ip_parent = nullptr);
    ~ItemLogDialog() override;

    // Store path handler: a record has been connected to the item.
    void OnItemLog(ItemPtr i_record);

private:
    QTextBrowser* AreaBrowser(const QString& i_area);

    std::unique_ptr<Ui::ItemLogDialog> ui;
    ItemPtr item;
    QTextBrowser* allBrowser = nullptr;
};
