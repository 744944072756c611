#include "MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QMoveEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QTextCodec>

#include "ActionSetToolBar.h"
#include "ApplicationIcon.h"
#include "ChangeListeningPortDialog.h"
#include "ChangeUsernamePasswordDialog.h"
#include "ConfigurationImporter.h"
#include "DNetManager.h"
#include "Data.h"
#include "DataLoadFailure.h"
#include "DataSaver.h"
#include "DefaultSettings.h"
#include "DelayedInvoker.h"
#include "DiagnosticsForm.h"
#include "EventToolBar.h"
#include "ExtendedAsciiTranslator.h"
#include "FileChooser.h"
#include "ItemPtr.h"
#include "Log.h"
#include "NewVersionDialog.h"
#include "PeerMessenger.h"
#include "PortForwarder.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SizeManager.h"
#include "TabFocus.h"
#include "TimerManager.h"
#include "TransferQueueManager.h"
#include "ViewHooks.h"
#include "WindowTypes.h"
#include "WishListSearcher.h"
#include "ui_mainwindow.h"

namespace {
const char* const configurationArea = "Configuration Data";

QString testServerHost;
quint16 testServerPort = 0;
QUrl testVersionFileUrl;
QString testGatewayDescription;
const char* const importTitle = "Importing user list from original Vandrell client";
// The file in which the older client keeps its user list.
const char* const userListFileName = "userlist.cfg";

const ActionSetToolBar::SetAction toolBarActions[] = {
    {"shared_folders", "set_download_folder", "Set Download Folder", ":/icons/browse_icon", false},
    {"shared_folders", "share_folder", "Share Folder", ":/icons/browse_icon", false},
    {"shared_folders", "rescan_shares", "Rescan Shares", ":/icons/browse_icon", false},
    {"login_options", "connect_disconnect", "Connect", ":/icons/online_icon", false},
    {"login_options", "set_user_pass", "Change Username/Password", ":/icons/online_icon", false},
    {"login_options", "set_listening_port", "Change Listening Port", ":/icons/online_icon", false},
    {"user", "message_user", "Message User", ":/icons/chat_icon", true},
    {"user", "browse_user", "Browse User's Files", ":/icons/browse_icon", true},
    {"user", "add_user", "Add User", ":/icons/add_user_icon", true},
};

// The tab of each first_open_tab choice, in the order of the option box's entries.
const char* const firstOpenTabs[] = {"transfers", "rooms", "search", "users"};
const int firstOpenTabIndexes[] = {0, 1, 3, 4};
} // namespace

int MainWindow::SizeProxy::GetX()
{
    return mainWindow->geometry().x();
}

int MainWindow::SizeProxy::GetY()
{
    return mainWindow->geometry().y();
}

int MainWindow::SizeProxy::GetWidth()
{
    return mainWindow->geometry().width();
}

int MainWindow::SizeProxy::GetHeight()
{
    return mainWindow->geometry().height();
}

void MainWindow::SizeProxy::SetPosition(int x, int y)
{
    const QRect geometry = mainWindow->geometry();
    mainWindow->setGeometry(x, y, geometry.width(), geometry.height());
}

void MainWindow::SizeProxy::SetSize(int width, int height)
{
    const QRect geometry = mainWindow->geometry();
    mainWindow->setGeometry(geometry.x(), geometry.y(), width, height);
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    mainWindow = this;
    ui->setupUi(this);
    CreateTransfersPage();
    CreateChatPages();
    CreateUsersPage();
    CreateSearchPage();
    CreateBrowsePage();
    SetApplicationIcon(":/icons/offline_icon");
    ui->sharedFoldersList->setColumnWidth(0, 400);
    ui->sharedFoldersList->setHeaderLabels({tr("Shared folder"), tr("Accessible to")});
    connect(ui->importUserListButton, &QPushButton::clicked, this,
            &MainWindow::OnImportUserListClicked);
    connect(ui->checkPortsButton, &QPushButton::clicked, this, &MainWindow::OnCheckPortsClicked);
    connect(ui->optionsTabControl, &QTabWidget::currentChanged, this,
            &MainWindow::OnOptionsTabSelectionChanged);
    ConnectPictureButtons();
    // Made before Init fills the box, so that a ticked box starts the gateway look.
    connect(ui->uPnPCheckBox, &QCheckBox::toggled, this, &MainWindow::OnUPnPCheckboxToggled);
    connect(ui->acceptUserListUploadsCheckBox, &QCheckBox::toggled, this,
            &MainWindow::OnAcceptUserlistUploadsCheckboxToggled);
    connect(ui->userDescriptionEdit, &QPlainTextEdit::textChanged, this,
            &MainWindow::OnUserInfoTextChanged);
    connect(ui->userLevelLoggingCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnUserLevelLoggingClicked);
}

MainWindow::~MainWindow()
{
    // Before the engine goes: pending removals of transfers are made as the store is saved.
    SaveData();
    g_showIsOver = true;
    if (gp_server)
        gp_server->Disconnect();
    // First: its running transfers use the sockets and shares of the managers below.
    delete transferQueueManager;
    // Its destructor stops and waits for the scanner thread.
    delete sharedFoldersManager;
    delete delayedInvoker;
    delete dnetManager;
    delete peerMessenger;
    delete server;
    // Its destructor removes its store items and stops logging.
    delete diagnosticsForm;
    translator.reset();
    delete dataSaver;
    delete timerManager;
    delete ui;
    delete sizeManager;
    if (mainWindow == this)
        mainWindow = nullptr;
}

QString MainWindow::DataPathPrefix()
{
    return QDir::homePath() + "/.Vandrell";
}

void MainWindow::SetServerAddressForTesting(const QString& host, quint16 port)
{
    testServerHost = host;
    testServerPort = port;
}

void MainWindow::SetVersionFileUrlForTesting(const QUrl& url)
{
    testVersionFileUrl = url;
}

void MainWindow::SetGatewayDescriptionForTesting(const QString& url)
{
    testGatewayDescription = url;
}

void MainWindow::Init()
{
    setWindowTitle(QString("VandrellQt build %3.%1.%2")
                       .arg((g_currentVersion % 10000) / 100)
                       .arg(g_currentVersion % 100)
                       .arg(g_currentVersion / 10000));
    new TimerManager;
    new DataSaver;
    server = new Server;
    if (!testServerHost.isEmpty())
        server->SetServerAddressForTesting(testServerHost, testServerPort);
    // The run's one look for a gateway, made here instead of on the network.
    if (!testGatewayDescription.isEmpty())
        portForwarder->InitFromDescriptionForTesting(testGatewayDescription);
    Settings::DeclareTypes(d);
    server->CreateData();
    qRegisterMetaType<ItemPtr>("ItemPtr");
    ConnectConnectionState();

    actionBar->Init();
    DefineToolBarActions();
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
            &MainWindow::OnToolBarActionTriggered);

    new PeerMessenger;
    WindowTypes::DeclareWishListAndNotes();
    new DelayedInvoker;
    new DNetManager;
    new SharedFoldersManager(this);
    // Before the load, so that the saved folders fill the File Sharing page.
    WatchSharedFolders();
    InitTrayIcon();
    WindowTypes::DeclareUserChatWidget();
    ConnectPrivateChat();
    new SizeManager(nullptr);
    CreateDiagnosticsForm();
    new TransferQueueManager;
    new WishListSearcher(WindowTypes::wishListItem, WindowTypes::wishListItemEnabled, this);
    setContextMenuPolicy(Qt::NoContextMenu);
    CreateEventToolBar();
    WatchUsername();
    connect(gp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);

    DefaultSettings::WriteGeneral();
    defaultPalette = QApplication::palette();
    DefaultSettings::WriteColoursAndLogs(defaultPalette);
    ConnectLogAndQueueOptions();

    translator = std::make_unique<ExtendedAsciiTranslator>();
    ui->codePageBox->addItem("[None]");
    for (const QByteArray& codec : QTextCodec::availableCodecs())
        ui->codePageBox->addItem(QString::fromLatin1(codec));
    connect(ui->codePageBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnCodePageSelected);

    InitTransfersPage();
    InitSearchPage();
    InitBrowsePage();
    InitPagesBeforeLoad();
    InitUserList();
    LoadData();
    ShowDiagnosticsTab(Settings::IsYes("show_diagnostics"));
    InitRoomsPage();
    SelectSavedCodePage();
    QApplication::setPalette(DefaultSettings::SavedPalette(defaultPalette));
    DefaultSettings::WriteDataVersion();

    if (Settings::Get(ServerSettings::username).IsNull())
    {
        QPointer<ChangeUsernamePasswordDialog> account = new ChangeUsernamePasswordDialog(true);
        account->exec();
        delete account;
        AskToShareFolder();
        ShowFutureSharingHint();
    }
    if (!Settings::Get(ServerSettings::username).IsNull())
        gp_server->Connect();

    FillFirstOptions();
    ConnectFirstOptions();
    connect(ui->selectColorsButton, &QPushButton::clicked, this, &MainWindow::OnSelectColors);
    FillMinimizeToTray();
    ShowListeningPort();
    WatchNewListeningPort();
    SelectChatTimestamps();
    SelectFirstOpenTab();
    ConnectFirstOpenTabBox();
    sizeManager->RegisterResizableWindow("main_window", &sizeProxy);

    connect(&timerManager->halfMinuteTimer, &QTimer::timeout, this, &MainWindow::EveryHalfMinute);
    connect(&timerManager->fiveMinuteTimer, &QTimer::timeout, this, &MainWindow::EveryFiveMinutes);
    connect(&timerManager->hourTimer, &QTimer::timeout, this, &MainWindow::EveryHour);
    connect(&trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayIconActivated);
    InitUserNotes();
    activateWindow();
    raise();
    // The first walk of the shared folders, after the load brought the roots back.
    sharedFoldersManager->Init();
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &MainWindow::OnSharedFilesRescanned);
    RegisterWidgetForTabFocus(ui->usernameEdit, 1);
    RegisterWidgetForTabFocus(ui->sharedFoldersList, 1);
    InitChatsPage();
    DeclareChatLogFormAndSets();
    FillChatLogAndShareOptions();
    ConnectShareWarningMessage();

    if (!testVersionFileUrl.isEmpty())
        updateChecker.SetVersionFileUrlForTesting(testVersionFileUrl);
    updateChecker.Init();
    connect(&updateChecker, &UpdateChecker::NewVersion, this, &MainWindow::OnNewVersion);
    FillMaxQueuedUploads();
    ConnectSharedFoldersPage();
    FillUserOptions();
    ConnectUserOptions();
    connect(gp_server, &Server::AdminMessage, this, &MainWindow::OnAdminMessage);
    WatchExcludedExtensions();
    SetUpSoundRows();
}

void MainWindow::CreateDiagnosticsForm()
{
    auto* form = new DiagnosticsForm;
    form->Init();
    form->RegisterLoggableItemType(ServerTypes::user);
    for (const DiagnosticsForm::ToolBarAction& action : DiagnosticsForm::ToolBarActions())
        actionBar->AddSetAction(DiagnosticsForm::actionSet, action.key, action.text, action.icon,
                                false);
    actionBar->RegisterWidget(form, DiagnosticsForm::actionSet);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, form,
            &DiagnosticsForm::OnActionTriggered);
}

void MainWindow::ShowDiagnosticsTab(bool show)
{
    const int index = ui->tabControl->indexOf(diagnosticsForm);
    if (show && index < 0)
        ui->tabControl->addTab(diagnosticsForm, tr("Diagnostics"));
    else if (!show && index >= 0)
    {
        ui->tabControl->removeTab(index);
        // Out of the tab, the form is a window of its own again, hidden.
        diagnosticsForm->setParent(nullptr);
    }
}

void MainWindow::DefineToolBarActions()
{
    for (const ActionSetToolBar::SetAction& action : toolBarActions)
    {
        actionBar->AddSetAction(action);
        if (QString(action.id) == "rescan_shares")
            actionBar->RegisterWidget(ui->fileSharingOptionsTab, "shared_folders");
        else if (QString(action.id) == "set_listening_port")
            actionBar->RegisterWidget(ui->loginOptionsTab, "login_options");
    }
}

void MainWindow::LoadData()
{
    const QString prefix = DataPathPrefix();
    Log(configurationArea, 1, QString("Loading configuration data from %1").arg(prefix));
    try
    {
        dataSaver->Load(prefix);
        Log(configurationArea, 1, "Data loaded successfully.");
    }
    catch (const DataLoadFailure&)
    {
        // The store keeps the defaults; the unreadable files were moved aside.
        Log(configurationArea, 1, "Failure to load configuration data.");
        QMessageBox::information(
            this, tr("Error loading configuration data"),
            tr("Your client configuration data could not be loaded. Starting from scratch..."));
    }
}

void MainWindow::SelectSavedCodePage()
{
    const QString name = Settings::GetText("extended_ascii_codepage");
    if (name.isEmpty())
        return;
    const int index = ui->codePageBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->codePageBox->setCurrentIndex(index);
}

void MainWindow::SelectFirstOpenTab()
{
    const QString tab = Settings::GetText("first_open_tab");
    for (int entry = 0; entry < 4; ++entry)
    {
        if (tab != firstOpenTabs[entry])
            continue;
        ui->firstOpenTabBox->setCurrentIndex(entry);
        ui->tabControl->setCurrentIndex(firstOpenTabIndexes[entry]);
    }
}

void MainWindow::SaveData()
{
    if (g_showIsOver || !dataSaver)
        return;
    // Transfers the user removed would come back at the next start.
    if (ViewHooks::finishTransferRemovals)
        ViewHooks::finishTransferRemovals();
    d.RemoveDisconnectedItems();
    dataSaver->Save(DataPathPrefix());
}

void MainWindow::EveryHalfMinute()
{}

void MainWindow::EveryFiveMinutes()
{
    d.RemoveDisconnectedItems();
}

void MainWindow::EveryHour()
{
    SaveData();
}

void MainWindow::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    if (i_action == "rescan_shares")
    {
        sharedFoldersManager->RescanShares();
    }
    else if (i_action == "share_folder")
    {
        ShowShareFolderDialog();
    }
    else if (i_action == "set_download_folder")
    {
        ChooseDownloadFolder();
    }
    else if (i_action == "set_user_pass")
    {
        if (gp_server && gp_server->IsConnected())
        {
            QMessageBox::information(
                this, tr("Cannot change username while online"),
                tr("You must be disconnected from the Vandrell server to change your username."));
            return;
        }
        (new ChangeUsernamePasswordDialog(false, this))->show();
    }
    else if (i_action == "set_listening_port")
    {
        (new ChangeListeningPortDialog(this))->show();
    }
    else if (i_action == "connect_disconnect")
    {
        ToggleServerConnection();
    }
    else if (i_action == "message_user")
    {
        OpenPrivateChat(actionBar->GetKey("user"));
    }
    else if (i_action == "browse_user")
    {
        BrowseUser(actionBar->GetKey("user"));
    }
    else if (i_action == "unshare_folder")
    {
        OnUnshareFolder();
    }
}

void MainWindow::BrowseUser(const QString& user)
{
    if (user.isEmpty())
        return;
    // Without the Browse page the list is still asked for, so that the answer reaches the
    // transfers' empty-share check.
    if (ViewHooks::browseUser)
        ViewHooks::browseUser(user);
    else if (peerMessenger)
        peerMessenger->GetUserSharedFiles(user);
}

void MainWindow::OnCodePageSelected(int i_index)
{
    if (!extendedAsciiTranslator)
        return;
    const std::string name =
        i_index <= 0 ? std::string() : ui->codePageBox->itemText(i_index).toLatin1().toStdString();
    extendedAsciiTranslator->SetCodePage(name);
}

void MainWindow::OnShowDiagnosticsCheckboxToggled(bool i_checked)
{
    Settings::Set("show_diagnostics", i_checked ? "yes" : "no");
    ShowDiagnosticsTab(i_checked);
}

void MainWindow::OnUPnPCheckboxToggled(bool i_checked)
{
    // Unticking maps nothing new; the mappings made stay until their lease ends.
    Settings::Set(ServerSettings::useUpnp, i_checked ? "yes" : "no");
    if (i_checked && portForwarder)
        portForwarder->Init();
}

void MainWindow::OnImportUserListClicked()
{
    QMessageBox::information(
        this, tr(importTitle),
        tr("First set the original Vandrell client not to store its configuration in the "
           "registry (under Options->General), then find its user list file on this computer. "
           "The next dialog asks for the exact location of that file."));
    // The file's usual name is offered first; any other file can still be chosen.
    const QString path = FileChooser::Choose(
        FileChooser::Kind::OpenFile, this, tr("Find User List Configuration File"), QString(),
        tr("User list (%1);;All files (*)").arg(userListFileName));
    if (path.isEmpty())
        return;
    const bool imported = ConfigurationImporter::ImportUserList(QDir::fromNativeSeparators(path));
    QMessageBox::information(this, tr(importTitle),
                             imported ? tr("Import successful.")
                                      : tr("Import could not be completed successfully."));
}

void MainWindow::OnNewVersion(qint64 i_version, QString i_link, QStringList i_description)
{
    auto* dialog = new NewVersionDialog(i_version, i_link, i_description, this);
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    dialog->show();
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // The event gives the frame's corner; the proxy restores the client area's, so report that
    // or the window would creep by the frame's width at every start.
    if (!isMaximized())
        emit sizeProxy.WindowMoved(geometry().x(), geometry().y());
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (!isMaximized())
        emit sizeProxy.WindowResized(event->size().width(), event->size().height());
}
