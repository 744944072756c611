#include <memory>

#include <QDesktopServices>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "ActionSetToolBar.h"
#include "ColorSelectionDialog.h"
#include "Data.h"
#include "ExtendedAsciiTranslator.h"
#include "FileChooser.h"
#include "MainWindow.h"
#include "MainWindowRun.h"
#include "MemStream.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "ui_mainwindow.h"

namespace {
const QString importTitle = "Importing user list from original Vandrell client";

bool UserHas(const QString& name, const char* mark)
{
    const ItemPtr user = d.GetType(ServerTypes::user)->HasItem(Value(name));
    return !user.IsNull() && user.IsConnected(mark);
}
} // namespace

// The commands of the main window, run in one client against the fake server.
class CommandsTest : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser.
    void Open(const QUrl& url) { opened << url; }

private slots:
    void initTestCase()
    {
        for (const char* scheme : {"http", "https"})
            QDesktopServices::setUrlHandler(scheme, this, "Open");
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
        ui = run->Form();
    }

    void cleanupTestCase()
    {
        FileChooser::SetHandlerForTesting({});
        run.reset();
    }

    void connectDisconnectTogglesTheLink()
    {
        FakeCentralServer& fake = run->Server();
        fake.Send(7, QString("bob"), qint32(2), false);
        QTRY_VERIFY(UserHas("bob", ServerTypes::isOnline));
        const int clients = fake.clientCount;

        Trigger("connect_disconnect");
        QTRY_VERIFY(!fake.HasClient());
        QVERIFY(!gp_server->IsConnected());
        QVERIFY(!UserHas("bob", ServerTypes::isOnline));

        // The second command arrives while the first attempt is still under way.
        Trigger("connect_disconnect");
        Trigger("connect_disconnect");
        QVERIFY(run->WaitLoggedIn());
        QCOMPARE(fake.clientCount, clients + 1);
    }

    void setDownloadFolder_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("folder");
        QTest::newRow("chosen") << QString("/data/My Downloads") << "/data/My Downloads";
        QTest::newRow("cancelled") << QString() << "/before";
    }

    void setDownloadFolder()
    {
        QFETCH(QString, answer);
        QFETCH(QString, folder);
        Settings::Set("download_folder", QString("/before"));
        ui->downloadFolderEdit->setText("/before");
        AnswerChooser(answer);

        Trigger("set_download_folder");
        QCOMPARE(asked, QStringList{"folder: Set Download Folder"});
        QCOMPARE(Settings::GetText("download_folder"), folder);
        QCOMPARE(ui->downloadFolderEdit->text(), folder);
    }

    void checkPortsOpensPlainThenObfuscatedPage()
    {
        Settings::Set(ServerSettings::listeningPort, Value(2240));
        Settings::Set(ServerSettings::obfuscatedListeningPort, Value(2241));
        opened.clear();
        ui->checkPortsButton->click();
        QCOMPARE(opened, (QList<QUrl>{QUrl("http://www.vandrell.net/porttest.php?port=2240"),
                                      QUrl("http://www.vandrell.net/porttest.php?port=2241")}));
    }

    void codePageReachesTranslatorAndSetting_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("decoded");
        // One byte that is not UTF-8, decoded through the chosen page; Latin-1 without one.
        QTest::newRow("cyrillic") << QString("windows-1251") << "windows-1251" << QString(0x434);
        QTest::newRow("none") << QString("[None]") << "" << QString(QChar(0xe4));
    }

    void codePageReachesTranslatorAndSetting()
    {
        QFETCH(QString, entry);
        QFETCH(QString, stored);
        QFETCH(QString, decoded);
        const int index = ui->codePageBox->findText(entry);
        QVERIFY2(index >= 0, qPrintable(entry));
        ui->codePageBox->setCurrentIndex(index);
        QCOMPARE(Settings::GetText("extended_ascii_codepage"), stored);
        QCOMPARE(ToQString("\xe4"), decoded);
    }

    void importUserList_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("two names")
            << UserList(2, {"carol", "dave"}) << QStringList{"carol", "dave"} << "successful.";
        QTest::newRow("count beyond names")
            << UserList(3, {"erin"}) << QStringList() << "could not be completed successfully.";
        QTest::newRow("cancelled") << QByteArray() << QStringList() << "";
    }

    void importUserList()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, listed);
        QFETCH(QString, verdict);
        QTemporaryDir folder;
        QString path;
        if (!file.isEmpty())
        {
            QFile saved(folder.filePath("userlist.cfg"));
            QVERIFY(saved.open(QIODevice::WriteOnly));
            saved.write(file);
            path = saved.fileName();
        }
        AnswerChooser(path);
        run->boxes.clear();

        ui->importUserListButton->click();
        QCOMPARE(asked, QStringList{"file: Find User List Configuration File"});
        QCOMPARE(run->boxes.size(), verdict.isEmpty() ? 1 : 2);
        QVERIFY(run->boxes.first().startsWith(importTitle + ": "));
        if (!verdict.isEmpty())
            QCOMPARE(run->boxes.last(), importTitle + ": Import " + verdict);
        for (const QString& name : listed)
            QVERIFY2(UserHas(name, ServerTypes::inUserList), qPrintable(name));
        QVERIFY(!UserHas("erin", ServerTypes::inUserList));
    }

    void fileSharingPageFocusesTheFolderList()
    {
        ui->tabControl->setCurrentWidget(ui->optionsTab);
        ui->optionsTabControl->setCurrentWidget(ui->loginOptionsTab);
        run->Window()->activateWindow();
        ui->listeningPortEdit->setFocus();
        QTRY_VERIFY(ui->listeningPortEdit->hasFocus());
        ui->optionsTabControl->setCurrentWidget(ui->fileSharingOptionsTab);
        QTRY_VERIFY(ui->sharedFoldersList->hasFocus());
    }

    void unshareFolderCommandRemovesTheSelectedFolders()
    {
        using SharesTypes::sharedFolder;
        const QStringList paths{"/unshare/one", "/unshare/two", "/unshare/kept"};
        for (const QString& path : paths)
            d.GetType(sharedFolder)->GetItem(Value(path));
        QTreeWidget* list = ui->sharedFoldersList;
        list->setSelectionMode(QAbstractItemView::MultiSelection);
        list->clearSelection();
        for (const QString& path : paths.mid(0, 2))
            list->findItems(path, Qt::MatchExactly).value(0)->setSelected(true);
        QCOMPARE(list->selectedItems().size(), 2);
        Trigger("unshare_folder");
        QVERIFY(d.GetType(sharedFolder)->HasItem(Value(paths.at(0))) == nullptr);
        QVERIFY(d.GetType(sharedFolder)->HasItem(Value(paths.at(1))) == nullptr);
        QVERIFY(d.GetType(sharedFolder)->HasItem(Value(paths.at(2))) != nullptr);
        QCOMPARE(list->findItems("/unshare/", Qt::MatchStartsWith).size(), 1);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
    }

    void selectColorsOpensANewDialogEachTime()
    {
        ui->selectColorsButton->click();
        ui->selectColorsButton->click();
        const auto dialogs = run->Window()->findChildren<ColorSelectionDialog*>();
        QCOMPARE(dialogs.size(), 2);
        for (ColorSelectionDialog* dialog : dialogs)
        {
            QVERIFY(dialog->isVisible());
            dialog->close();
        }
    }

private:
    void Trigger(const char* command)
    {
        emit actionBar->ActionTriggered(ui->loginOptionsTab, command);
    }

    // The chooser answers with the path and records what it was asked, as "kind: caption".
    void AnswerChooser(const QString& answer)
    {
        asked.clear();
        FileChooser::SetHandlerForTesting(
            [this, answer](FileChooser::Kind kind, const QString& caption) {
                asked << QString(kind == FileChooser::Kind::Folder ? "folder" : "file") + ": " +
                             caption;
                return answer;
            });
    }

    // A user-list file as the older client writes it: a count, then each name.
    static QByteArray UserList(quint32 count, const std::vector<std::string>& names)
    {
        MemStream list;
        list.Write(count);
        for (const std::string& name : names)
            list.Write(name);
        return QByteArray(list.GetWrittenData(), list.GetWrittenLength());
    }

    std::unique_ptr<MainWindowRun> run;
    Ui_MainWindow* ui = nullptr;
    QList<QUrl> opened;
    QStringList asked;
};

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
