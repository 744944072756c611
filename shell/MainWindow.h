#pragma once

#include <ctime>
#include <memory>

#include <QMainWindow>
#include <QSystemTrayIcon>

#include "ConnectionInfo.h"
#include "DataHandler.h"
#include "ItemPtr.h"
#include "ResizableWindow.h"
#include "ShellGlobals.h"
#include "UpdateChecker.h"

class ExtendedAsciiTranslator;
class QLineEdit;
class QTreeWidgetItem;
class Server;
class Ui_MainWindow;

// The main window: builds the running client in Init, saves the store every hour and at exit,
// and deletes the managers in order when the run ends.
class MainWindow : public QMainWindow, public DataHandler
{
    Q_OBJECT

public:
    // Reads and restores the main window's geometry (client area, without the frame) for the
    // size manager.
    class SizeProxy : public ResizableWindow
    {
    public:
        int GetX() override;
        int GetY() override;
        int GetWidth() override;
        int GetHeight() override;
        void SetPosition(int x, int y) override;
        void SetSize(int width, int height) override;
    };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void Init();
    void SaveData();

    // Where the saved store lives: the home folder and the file name's stem.
    static QString DataPathPrefix();
    // The tests point the server connection and the update check at loopback fakes before
    // Init uses them.
    static void SetServerAddressForTesting(const QString& host, quint16 port);
    static void SetVersionFileUrlForTesting(const QUrl& url);
    static void SetGatewayDescriptionForTesting(const QString& url);

    Ui_MainWindow* Form() const { return ui; }

    // Connection status, tray and window icon.
    void SetApplicationIcon(QString i_path);
    void ResetApplicationIcon();
    void PopupAlert(QString i_text);

public slots:
    void EveryHalfMinute();
    void EveryFiveMinutes();
    void EveryHour();

    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);
    void OnCodePageSelected(int i_index);
    void OnShowDiagnosticsCheckboxToggled(bool i_checked);
    void OnUPnPCheckboxToggled(bool i_checked);
    void OnImportUserListClicked();
    void OnNewVersion(qint64 i_version, QString i_link, QStringList i_description);

    // Main window commands
    void OnCheckPortsClicked();
    void OnSelectColors();
    void OnOptionsTabSelectionChanged(int i_tabIndex);

    // Connection status, tray and window icon.
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(QString i_reason);
    void OnAdminMessage(QString i_message);
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason i_reason);

    // Option pages.
    void OnAcceptUserlistUploadsCheckboxToggled(bool i_checked);
    void OnEmptyShareWarningMessageCheckBoxClicked(bool i_checked);
    void OnDontCreateSubfoldersForSingleDownloads(bool i_checked);
    void OnDontSplitDownloads(bool i_checked);
    void OnUseOldStyleSearchResultsCheckboxToggled(bool i_checked);
    void OnExpandNewSharesCheckboxToggled(bool i_checked);
    void OnOpenGroupsOnUserAddClicked(bool i_checked);
    void OnShowEventButtonsClicked(bool i_checked);
    void OnLogRoomChatCheckBoxClicked(bool i_checked);
    void OnLogPrivateChatCheckBoxClicked(bool i_checked);
    void OnUserLevelLoggingClicked(bool i_checked);
    void OnShowAwayStatusClicked(bool i_checked);
    void OnMinimizeToTrayCheckboxToggled(bool i_checked);
    void OnMaxUploadsPerUserSpinBoxValueChanged(int i_value);
    void OnChatTimestampsBoxIndexChanged(int i_index);
    void OnFirstOpenTabBoxIndexChanged(int i_index);
    void OnUserInfoTextChanged();
    void OnEmptyShareWarningEditEdited(QString i_text);
    void OnSaveEmptyShareWarningMessageButtonClicked();
    void OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr i_item);

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void DefineToolBarActions();
    void CreateDiagnosticsForm();
    void ShowDiagnosticsTab(bool show);
    void LoadData();
    void SelectSavedCodePage();
    void SelectFirstOpenTab();

    // Main window commands
    void ToggleServerConnection();
    void ChooseDownloadFolder();

    // Connection status, tray and window icon.
    void ConnectConnectionState();
    void InitTrayIcon();
    void WatchUsername();
    void WatchObfuscatedPort();
    void WatchNewListeningPort();
    void ShowListeningPort();
    void ShowFutureSharingHint();
    void OnUsernameChanged(ItemPtr i_item);
    void OnNewListeningPortChanged(ItemPtr i_item);
    void OnObfuscatedPortSet(ItemPtr i_item);

    // Option pages: each fills its rows from the settings or connects its controls at its
    // step of Init.
    void ConnectLogAndQueueOptions();
    void FillFirstOptions();
    void ConnectFirstOptions();
    void FillMinimizeToTray();
    void SelectChatTimestamps();
    void ConnectFirstOpenTabBox();
    void FillChatLogAndShareOptions();
    void ConnectShareWarningMessage();
    void FillMaxQueuedUploads();
    void FillUserOptions();
    void ConnectUserOptions();
    void WatchExcludedExtensions();

    Ui_MainWindow* ui = nullptr;
    Server* server = nullptr;
    SizeProxy sizeProxy;
    QSystemTrayIcon trayIcon{this};
    UpdateChecker updateChecker;
    std::unique_ptr<ExtendedAsciiTranslator> translator;

    // Event tool bar, alert sounds and user picture
public slots:
    void OnSelectDefaultSoundFile();
    void OnClearDefaultSoundFile();
    void OnSelectPrivateChatSoundFile();
    void OnClearPrivateChatSoundFile();
    void OnSelectRoomChatSoundFile();
    void OnClearRoomChatSoundFile();
    void OnSelectWishlistSoundFile();
    void OnClearWishlistSoundFile();
    void OnSelectShareBrowseSoundFile();
    void OnClearShareBrowseSoundFile();
    void OnSelectDownloadAlertSoundFile();
    void OnClearDownloadAlertSoundFile();
    void OnSelectUserOnlineAlertSoundFile();
    void OnClearUserOnlineAlertSoundFile();
    void OnSelectUserInfoSoundFile();
    void OnClearUserInfoSoundFile();
    void OnSelectPictureClicked();
    void OnClearPictureClicked();

private:
    void ConnectPictureButtons();
    void CreateEventToolBar();
    void DeclareChatLogFormAndSets();
    void SetUpSoundRows();
    void SelectSoundFile(const char* kind, QLineEdit* edit);
    void ClearSoundFile(const char* kind, QLineEdit* edit);

    // Rooms and private chats, reached through the view hooks
public slots:
    void OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);

private:
    void CreateChatPages();
    void ConnectPrivateChat();
    void InitPagesBeforeLoad();
    void InitRoomsPage();
    void InitChatsPage();
    void OpenPrivateChat(const QString& user);

    // The Users page, reached through the view hooks
    // The Search page.
    void CreateSearchPage();
    // The Transfers page.
    void CreateTransfersPage();
    void InitTransfersPage();
    void InitSearchPage();
    // The Browse page.
    void CreateBrowsePage();
    void BrowseUser(const QString& user);
    void InitBrowsePage();
    void CreateUsersPage();
    void InitUserList();
    void InitUserNotes();

    // The File Sharing page's shared folders and the share dialogs
public slots:
    void OnSharedFoldersListContextMenuRequested(QPoint i_point);
    void OnSetFolderPermissions();
    void OnUnshareFolder();
    void OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved);
    void OnEditExcludedDownloadExtensionsClicked();

private:
    void WatchSharedFolders();
    void ConnectSharedFoldersPage();
    void ShowShareFolderDialog();
    void AskToShareFolder();
    QTreeWidgetItem* SharedFolderRow(ItemPtr folder) const;
    void OnSharedFolderAdded(ItemPtr i_folder);
    void OnSharedFolderRemoved(ItemPtr i_folder);
    void OnSharedFolderChange(ConnectionInfo i_info);
};
