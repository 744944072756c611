#pragma once

#include <memory>

#include <QMainWindow>
#include <QSystemTrayIcon>

#include "DataHandler.h"
#include "ResizableWindow.h"
#include "ShellGlobals.h"
#include "UpdateChecker.h"

class ExtendedAsciiTranslator;
class QLineEdit;
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

    Ui_MainWindow* ui = nullptr;
    Server* server = nullptr;
    SizeProxy sizeProxy;
    QSystemTrayIcon trayIcon;
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
};
