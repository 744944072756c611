// One whole client, built as the program builds it with its main window offscreen, logged in to
// a loopback server and driven through lines on stdin; what it does comes back as lines on
// stdout. Fields are separated by tabs. Arguments: the server's port, the user name.
// Commands:
//   share <folder>                      share the folder with everyone; answers "shared <path>
//                                       <size>" per file, as peers ask for it, then "shared_done"
//   browse <user>                       ask for the user's share list; answers "browsed <user>
//                                       <path> <size>" per file, then "browsed_done <user>"
//   download <user> <path> <size>       queue the peer's file as a user would
//   remove <user> <path>                remove the download, as the downloads view does
//   limit <KiB/s>                       limit uploads to the speed (0 lifts the limit)
//   save                                save the store, as the desktop session's save does;
//                                       answers "saved"
//   quit                                end the run as the program does
// Reports: "logged_in", and "download <path> <status>" or "upload <path> <status>" whenever a
// transfer's status changes ("removed" when it is gone). The end of stdin ends the run too.

#include <cstdio>

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include "ChangeUsernamePasswordDialog.h"
#include "Data.h"
#include "GeneralFunctions.h"
#include "MainWindow.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "RoomViews.h"
#include "SearchViews.h"
#include "Server.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"
#include "TransfersViews.h"
#include "UserViews.h"

namespace {
void Report(const QStringList& fields)
{
    std::printf("%s\n", fields.join('\t').toUtf8().constData());
    std::fflush(stdout);
}

// The account dialog gets the user's name, a question is answered No (no first-run share
// offer), other boxes are acknowledged.
void AnswerModalBoxes(const QString& user)
{
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* account = qobject_cast<ChangeUsernamePasswordDialog*>(modal))
    {
        account->findChild<QLineEdit*>("usernameEdit")->setText(user);
        account->findChild<QLineEdit*>("passwordEdit")->setText("secret");
        account->accept();
    }
    else if (auto* box = qobject_cast<QMessageBox*>(modal))
    {
        if (QAbstractButton* no = box->button(QMessageBox::No))
            no->click();
        else
            box->accept();
    }
}

void Share(const QString& folder)
{
    using namespace SharesTypes;
    ItemPtr root = sharedFoldersManager->AddSharedFolder(folder);
    root.Connect(d.GetType(sharedPublic)->GetGlobalNullItem());
    for (ItemPtr file : g(sharedFile))
    {
        const QString path =
            file[sharedFileFolder].AsString() + "/" + file[sharedFileName].AsString();
        Report({"shared", QString(path).replace('/', '\\'), file[sharedFileSize].AsString()});
    }
    Report({"shared_done"});
}

void Download(const QStringList& fields)
{
    if (fields.size() < 4)
        return;
    const std::string path = fields[2].toStdString();
    transferQueueManager->AddDownload(fields[1], GetFileName(path), GetFolder(path),
                                      fields[3].toLongLong(), false, 0);
}

void Execute(const QString& line, MainWindow* window)
{
    const QStringList fields = line.split('\t');
    if (fields[0] == "share" && fields.size() > 1)
        Share(fields[1]);
    else if (fields[0] == "browse" && fields.size() > 1)
        peerMessenger->GetUserSharedFiles(fields[1]);
    else if (fields[0] == "download")
        Download(fields);
    else if (fields[0] == "remove" && fields.size() > 2)
    {
        const std::string path = fields[2].toStdString();
        ItemPtr entry =
            transferQueueManager->GetDownloadEntry(fields[1], GetFileName(path), GetFolder(path));
        if (!entry.IsNull())
            transferQueueManager->RemoveDownload(entry);
    }
    else if (fields[0] == "limit" && fields.size() > 1)
    {
        transferQueueManager->SetUploadSpeedLimit(fields[1].toInt());
        transferQueueManager->EnableUploadSpeedLimit(fields[1].toInt() > 0);
    }
    else if (fields[0] == "save")
    {
        window->SaveData();
        Report({"saved"});
    }
    else if (fields[0] == "quit")
        QCoreApplication::quit();
}

void ReportShare(const QString& user, const FileInfoMap& folders)
{
    for (const auto& [folder, files] : folders)
        for (const FileInfo& file : files)
            Report({"browsed", user, QString::fromStdString(folder + "\\" + file.name),
                    QString::number(file.size)});
    Report({"browsed_done", user});
}

using Reported = QMap<QPair<QString, QString>, QString>;

void ReportStatus(Reported& reported, Reported& seen, const QString& kind, const QString& path,
                  const QString& status)
{
    const QPair<QString, QString> key(kind, path);
    if (reported.value(key) != status)
        Report({kind, path, status});
    seen[key] = status;
}

// Reports every transfer whose status differs from the one last reported, and "removed" for
// one that is gone.
void ReportStatuses(Reported& reported)
{
    using namespace TransferTypes;
    Reported seen;
    for (ItemPtr entry : g(downloadEntry))
        ReportStatus(reported, seen, "download", TransferQueueManager::RemotePath(entry),
                     entry[downloadEntryStatus].AsString());
    for (ItemPtr entry : g(uploadEntry))
        ReportStatus(reported, seen, "upload", entry[filenameAsRequested].AsString(),
                     entry[uploadEntryStatus].AsString());
    for (auto gone = reported.cbegin(); gone != reported.cend(); ++gone)
        if (!seen.contains(gone.key()))
            Report({gone.key().first, gone.key().second, "removed"});
    reported = seen;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 3)
        return 2;
    const QString user = arguments[2];
    QTimer answering;
    QObject::connect(&answering, &QTimer::timeout, [user] { AnswerModalBoxes(user); });
    answering.start(20);

    RoomViews::Install();
    UserViews::Install();
    SearchViews::Install();
    TransfersViews::Install();
    // The update check and the gateway look go to a closed loopback port and fail at once.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString closedBase = QString("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    auto* window = new MainWindow;
    MainWindow::SetServerAddressForTesting("127.0.0.1", arguments[1].toUShort());
    MainWindow::SetVersionFileUrlForTesting(QUrl(closedBase + "/version.txt"));
    MainWindow::SetGatewayDescriptionForTesting(closedBase + "/rootDesc.xml");
    MessengerTestSetup::UseFreeListeningPorts();
    window->show();
    window->Init();

    QObject::connect(peerMessenger, &PeerMessenger::UserShare,
                     [](QString owner, FileInfoMap& folders, AttributeTranslationTable&) {
                         ReportShare(owner, folders);
                     });
    bool loggedIn = false;
    Reported reported;
    QTimer watching;
    QObject::connect(&watching, &QTimer::timeout, [&] {
        if (!loggedIn && gp_server && gp_server->IsConnected())
        {
            loggedIn = true;
            Report({"logged_in"});
        }
        ReportStatuses(reported);
    });
    watching.start(20);

    QByteArray input;
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0)
        {
            commands.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        input.append(buffer, int(count));
        for (int end = input.indexOf('\n'); end >= 0; end = input.indexOf('\n'))
        {
            const QString line = QString::fromUtf8(input.left(end));
            input.remove(0, end + 1);
            Execute(line, window);
        }
    });

    application.setQuitOnLastWindowClosed(false);
    application.exec();
    delete window;
    return 0;
}
