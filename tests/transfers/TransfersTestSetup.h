#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "FakePeer.h"
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
        entry.Connect(d.GetType(PeerTypes::fileSize)->GetItem(Value(QFileInfo(path).size())));
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

    // Bytes that differ from chunk to chunk, so that a misplaced chunk shows.
    static QByteArray Pattern(int size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        for (int index = 0; index < size; ++index)
            bytes[index] = char((index * 7 + index / 8192) & 0xff);
        return bytes;
    }

    // Bytes a fake peer got after the first frame of the link it accepted.
    static QByteArray AfterFirstFrame(const QByteArray& received)
    {
        if (received.size() < 4)
            return QByteArray();
        const int length = int(quint8(received[0]) | quint8(received[1]) << 8 |
                               quint8(received[2]) << 16 | quint8(received[3]) << 24);
        return received.mid(4 + length);
    }

    // A peer that opened a file link to us and named the request; raw bytes from then on.
    std::unique_ptr<FakePeer> OpenFileLink(const QString& user, uint request,
                                           bool obfuscated = false)
    {
        auto peer = std::make_unique<FakePeer>(obfuscated);
        peer->SetRawMode(true);
        peer->Dial(obfuscated ? messenger->ObfuscatedListeningPort() : messenger->ListeningPort());
        peer->SendFrame(FakePeer::InitBody(user, "F"));
        peer->SendRaw(LittleEndian(request, 4));
        return peer;
    }

    // An upload of the file to the user, whose file link we now dial to the peer.
    ItemPtr UploadToPeer(FakePeer& peer, const QString& user, const QString& path, uint request)
    {
        peer.SetRawMode(true);
        MessengerTestSetup::SetUserAddress(user, peer.Listen());
        ItemPtr entry = ConnectingUpload(user, path, request);
        messenger->RequestFileConnectionToUser(user);
        return entry;
    }

    // Our file link to the peer is up and the request number has arrived on it.
    static void AwaitUploadLink(FakePeer& peer, uint request)
    {
        QVERIFY(peer.WaitForClient());
        QTRY_VERIFY(AfterFirstFrame(peer.rawBytes).size() >= 4);
        QCOMPARE(AfterFirstFrame(peer.rawBytes).left(4), LittleEndian(request, 4));
    }

    // The download entries as a restart finds them: saved, removed and loaded again.
    void SaveAndLoad()
    {
        QTemporaryDir saved;
        dataSaver->Save(saved.path() + "/store");
        for (ItemPtr entry : g(TransferTypes::downloadEntry))
            manager->RemoveDownload(entry);
        // Values that were saved with no entry do not come back.
        g(TransferTypes::downloadFolder).Remove();
        DataSaver* saver = dataSaver;
        DataSaver().Load(saved.path() + "/store");
        dataSaver = saver;
        manager->DataLoaded();
    }

    static void ForgetMessages()
    {
        for (ItemPtr message : g(PeerTypes::unsentMessage))
            delete message.AsPointer<MemStream>();
        g(PeerTypes::unsentMessage).Remove();
    }
};
