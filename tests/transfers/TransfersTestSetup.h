#pragma once

#include <cstdint>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "Data.h"
#include "DataSaver.h"
#include "MemStream.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"

// The transfer manager over the test store, built as the client builds it: a saver, the server
// connection, the messenger and the shares manager first. HOME is a temporary folder.
struct TransfersTestSetup
{
    QTemporaryDir home;
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    SharedFoldersManager* shares = nullptr;
    TransferQueueManager* manager = nullptr;

    void Build()
    {
        qputenv("HOME", home.path().toUtf8());
        new DataSaver;
        MessengerTestSetup::Build(server, messenger);
        shares = new SharedFoldersManager;
        manager = new TransferQueueManager;
    }

    void Destroy()
    {
        delete manager;
        delete shares;
        delete messenger;
        delete server;
        delete dataSaver;
    }

    // The folder downloads go to in the tests.
    QString Downloads() const { return home.path() + "/downloads"; }

    static ItemPtr User(const QString& name, bool online)
    {
        ItemPtr user = d.GetType(ServerTypes::user)->GetItem(Value(name));
        if (online)
            user.Connect(d.GetType(ServerTypes::isOnline)->GetGlobalNullItem());
        else
            user.Disconnect(ServerTypes::isOnline);
        return user;
    }

    // The messages waiting to be sent to the user: by code, the bytes after the code.
    static QMultiMap<std::uint32_t, QByteArray> Pending(const QString& user)
    {
        QMultiMap<std::uint32_t, QByteArray> messages;
        ItemPtr userItem = d.GetType(ServerTypes::user)->GetItem(Value(user));
        for (ItemPtr message : userItem.GetItems(PeerTypes::unsentMessage))
        {
            auto* body = message.AsPointer<MemStream>();
            std::uint32_t code = 0;
            std::memcpy(&code, body->GetWrittenData(), sizeof code);
            messages.insert(code,
                            QByteArray(body->GetWrittenData() + 4, body->GetWrittenLength() - 4));
        }
        return messages;
    }

    // A public shared file on disk and an upload of it waiting for its file link, in the state
    // the negotiation leaves it: "connecting", with its request number and its file open.
    ItemPtr ConnectingUpload(const QString& user, const QString& path, uint request)
    {
        using namespace SharesTypes;
        using namespace TransferTypes;
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(QFileInfo(path).path()));
        ItemPtr shared = folder.NewItem(sharedFile);
        shared.Connect(d.GetType(sharedFileName)->GetItem(Value(QFileInfo(path).fileName())));
        shared.Connect(d.GetType(sharedFileSize)->GetItem(Value(QFileInfo(path).size())));
        ItemPtr entry = d.GetType(uploadEntry)->NewItem();
        entry.Connect(User(user, false));
        entry.Connect(shared);
        entry.Connect(d.GetType(filenameAsRequested)->GetItem(Value(path)));
        manager->SetUploadEntryStatus(entry, TransferStatus::connecting);
        entry.Connect(d.GetType(transferReq)->GetItem(Value(request)));
        auto* file = new QFile(path);
        file->open(QIODevice::ReadOnly);
        entry.Connect(d.GetType(uploadFile)->NewItem(Value(file)));
        return entry;
    }

    // The integer as the file link carries it.
    static QByteArray LittleEndian(quint64 value, int width)
    {
        QByteArray bytes;
        for (int index = 0; index < width; ++index)
            bytes.append(char(value >> (8 * index)));
        return bytes;
    }

    static void ForgetMessages()
    {
        for (ItemPtr message : g(PeerTypes::unsentMessage))
            delete message.AsPointer<MemStream>();
        g(PeerTypes::unsentMessage).Remove();
    }
};
