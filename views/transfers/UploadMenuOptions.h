#pragma once

#include <QObject>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"

class QMenu;

// The upload entries of a right-click menu over the uploads tree; entries removed while the menu
// is open are forgotten.
class UploadMenuOptions : public QObject, public DataHandler
{
    Q_OBJECT

public:
    UploadMenuOptions(QMenu* menu, ItemSet entries, QObject* parent = nullptr);

    ItemSet entries;

public slots:
    void OnRemoveUploads();
    void OnOpenFile();
    void OnOpenFolder();

private:
    void OnEntryRemoved(ItemPtr entry);
};
