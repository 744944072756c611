#pragma once

#include <QTabWidget>
#include <QTreeWidget>

#include "Data.h"
#include "EntryList.h"
#include "PeerTypes.h"
#include "ProgressDelegate.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"
#include "TransfersForm.h"
#include "TransfersTestSetup.h"
#include "ui_TransfersForm.h"

// The Transfers tab over the transfer engine, built before the load as the window builds it,
// inside a tab control, shown, so that its title can be read and its cells drawn. Entries are made
// through the engine, and live readings are written into the engine's cells as its transfer threads
// write them.
struct TransfersViewSetup
{
    TransfersTestSetup engine;
    QTabWidget* tabs = nullptr;
    TransfersForm* form = nullptr;

    void Build()
    {
        engine.Build();
        Settings::Set("download_folder", engine.Downloads());
        for (const char* key :
             {"color_transfer_complete", "color_transfer_in_progress", "color_transfer_queued",
              "color_transfer_failed", "color_transfer_other"})
            Settings::Set(key, Value(ColourOf(key)));
        tabs = new QTabWidget;
        form = new TransfersForm;
        tabs->addTab(form, "Transfers");
        form->Init();
        // Shown at a real size: a hidden tree skips Qt's layout and painting.
        tabs->resize(1100, 600);
        tabs->show();
    }

    void Destroy()
    {
        RemoveAll();
        delete tabs;
        engine.Destroy();
    }

    // Frees the engine's cells with their entries.
    void RemoveAll()
    {
        for (ItemPtr entry : EntryList(g(TransferTypes::downloadEntry)))
            engine.manager->RemoveDownload(entry);
        for (ItemPtr entry : EntryList(g(TransferTypes::uploadEntry)))
            engine.manager->RemoveUpload(entry);
    }

    // A distinct colour per setting, so that a row coloured from the wrong one shows.
    static QString ColourOf(const QString& key)
    {
        if (key.endsWith("complete"))
            return "#006400";
        if (key.endsWith("in_progress"))
            return "#0000ff";
        if (key.endsWith("queued"))
            return "#3366ff";
        if (key.endsWith("failed"))
            return "#ff0a47";
        return "#7f7f7f";
    }

    QTreeWidget* Downloads() const { return form->Form()->downloadsList; }
    QTreeWidget* Uploads() const { return form->Form()->uploadsList; }

    ItemPtr Download(const QString& user, const QString& file, const QString& folder,
                     qint64 size = 1000)
    {
        return engine.manager->AddDownload(user, file.toStdString(), folder.toStdString(), size,
                                           false, 0);
    }

    void SetStatus(ItemPtr entry, const char* status)
    {
        if (entry.GetType() == d.GetType(TransferTypes::downloadEntry))
            engine.manager->SetDownloadEntryStatus(entry, status);
        else
            engine.manager->SetUploadEntryStatus(entry, status);
    }

    // The engine frees its cells when it drops them.
    template <class T> static void SetCell(ItemPtr entry, const char* type, T value)
    {
        ItemPtr cell = entry[type];
        if (cell.IsNull())
            entry.Connect(d.GetType(type)->GetItem(Value(new T(value))));
        else
            *cell.AsPointer<T>() = value;
    }

    static void SetLive(ItemPtr entry, qint64 done, int speed)
    {
        const bool download = entry.GetType() == d.GetType(TransferTypes::downloadEntry);
        SetCell<qint64>(
            entry, download ? TransferTypes::writePosition : TransferTypes::readPosition, done);
        SetCell<int>(entry, TransferTypes::bytesPerSecond, speed);
    }

    QTreeWidgetItem* Row(ItemPtr entry) const
    {
        return form->EntryRow(TransfersForm::downloads, entry);
    }

    // The bar drawn in a row's progress cell: its text and value.
    static bool HasBar(const QTreeWidgetItem* row)
    {
        return ProgressDelegate::Has(row, TransfersForm::ProgressColumn);
    }
    static QString BarText(const QTreeWidgetItem* row)
    {
        return row->text(TransfersForm::ProgressColumn);
    }
    static int BarValue(const QTreeWidgetItem* row)
    {
        return ProgressDelegate::Value(row, TransfersForm::ProgressColumn);
    }

    // A public shared file "/shared/<folder>/<name>", made without the disk.
    static void Share(const QString& folderPath, const QString& name, qint64 size)
    {
        using namespace SharesTypes;
        ItemPtr root = d.GetType(sharedFolder)->GetItem(Value("/shared"));
        if (!root.IsConnected(sharedPublic))
            root.NewItem(sharedPublic);
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(folderPath));
        root.Connect(folder);
        ItemPtr file = folder.NewItem(sharedFile);
        file.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        file.Connect(d.GetType(sharedFileSize)->GetItem(Value(size)));
    }

    ItemPtr Upload(const QString& user, const QString& folderPath, const QString& name)
    {
        engine.manager->AddUpload(user, folderPath + "/" + name);
        ItemPtr userItem = d.GetType(ServerTypes::user)->GetItem(Value(user));
        return userItem.GetItems(TransferTypes::uploadEntry)
            .Connected(TransferTypes::filenameAsRequested, Value(folderPath + "/" + name));
    }
};
