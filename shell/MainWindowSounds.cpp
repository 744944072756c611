#include "MainWindow.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include "Data.h"
#include "EventToolBar.h"
#include "FileChooser.h"
#include "ItemPtr.h"
#include "Settings.h"
#include "ui_mainwindow.h"

namespace {
const char* const pictureKey = "user_picture_file";

// One row of the notification sounds page.
struct SoundRow
{
    const char* kind;
    QLineEdit* Ui_MainWindow::*edit;
    QPushButton* Ui_MainWindow::*selectButton;
    QPushButton* Ui_MainWindow::*clearButton;
    void (MainWindow::*select)();
    void (MainWindow::*clear)();
};

const SoundRow soundRows[] = {
    {"default", &Ui_MainWindow::defaultSoundEdit, &Ui_MainWindow::defaultSoundSelectFileButton,
     &Ui_MainWindow::defaultSoundClearButton, &MainWindow::OnSelectDefaultSoundFile,
     &MainWindow::OnClearDefaultSoundFile},
    {"private_chat", &Ui_MainWindow::privateChatSoundEdit,
     &Ui_MainWindow::privateChatSoundSelectFileButton, &Ui_MainWindow::privateChatSoundClearButton,
     &MainWindow::OnSelectPrivateChatSoundFile, &MainWindow::OnClearPrivateChatSoundFile},
    {"room_chat", &Ui_MainWindow::roomChatSoundEdit, &Ui_MainWindow::roomChatSoundSelectFileButton,
     &Ui_MainWindow::roomChatSoundClearButton, &MainWindow::OnSelectRoomChatSoundFile,
     &MainWindow::OnClearRoomChatSoundFile},
    {"wishlist", &Ui_MainWindow::wishlistResultsSoundEdit,
     &Ui_MainWindow::wishlistResultsSoundSelectFileButton,
     &Ui_MainWindow::wishlistResultsSoundClearButton, &MainWindow::OnSelectWishlistSoundFile,
     &MainWindow::OnClearWishlistSoundFile},
    {"browse", &Ui_MainWindow::shareBrowseSoundEdit,
     &Ui_MainWindow::shareBrowseSoundSelectFileButton, &Ui_MainWindow::shareBrowseSoundClearButton,
     &MainWindow::OnSelectShareBrowseSoundFile, &MainWindow::OnClearShareBrowseSoundFile},
    {"download", &Ui_MainWindow::downloadAlertSoundEdit,
     &Ui_MainWindow::downloadAlertSoundSelectFileButton,
     &Ui_MainWindow::downloadAlertSoundClearButton, &MainWindow::OnSelectDownloadAlertSoundFile,
     &MainWindow::OnClearDownloadAlertSoundFile},
    {"user_online", &Ui_MainWindow::userOnlineAlertSoundEdit,
     &Ui_MainWindow::userOnlineAlertSoundSelectFileButton,
     &Ui_MainWindow::userOnlineAlertSoundClearButton, &MainWindow::OnSelectUserOnlineAlertSoundFile,
     &MainWindow::OnClearUserOnlineAlertSoundFile},
    {"user_info", &Ui_MainWindow::userInfoSoundEdit, &Ui_MainWindow::userInfoSoundSelectFileButton,
     &Ui_MainWindow::userInfoSoundClearButton, &MainWindow::OnSelectUserInfoSoundFile,
     &MainWindow::OnClearUserInfoSoundFile},
};

ItemPtr SoundKind(const char* kind)
{
    return d.GetType(EventToolBar::soundKindType)->GetItem(kind);
}
} // namespace

void MainWindow::SetUpSoundRows()
{
    for (const SoundRow& row : soundRows)
        (ui->*row.edit)->setText(SoundKind(row.kind)[EventToolBar::soundFileType].AsString());
    for (const SoundRow& row : soundRows)
    {
        connect(ui->*row.selectButton, &QPushButton::clicked, this, row.select);
        connect(ui->*row.clearButton, &QPushButton::clicked, this, row.clear);
    }
}

void MainWindow::SelectSoundFile(const char* kind, QLineEdit* edit)
{
    const QString path = QDir::fromNativeSeparators(
        FileChooser::Choose(FileChooser::Kind::OpenFile, this, tr("Select Wave File"), QString(),
                            tr("Wave Files (*.wav)")));
    if (path.isEmpty())
        return;
    // One file per kind: connecting another replaces it.
    SoundKind(kind) += d.GetType(EventToolBar::soundFileType)->GetItem(Value(path));
    edit->setText(path);
}

void MainWindow::ClearSoundFile(const char* kind, QLineEdit* edit)
{
    SoundKind(kind).Disconnect(EventToolBar::soundFileType);
    edit->clear();
}

void MainWindow::OnSelectDefaultSoundFile()
{
    SelectSoundFile("default", ui->defaultSoundEdit);
}

void MainWindow::OnClearDefaultSoundFile()
{
    ClearSoundFile("default", ui->defaultSoundEdit);
}

void MainWindow::OnSelectPrivateChatSoundFile()
{
    SelectSoundFile("private_chat", ui->privateChatSoundEdit);
}

void MainWindow::OnClearPrivateChatSoundFile()
{
    ClearSoundFile("private_chat", ui->privateChatSoundEdit);
}

void MainWindow::OnSelectRoomChatSoundFile()
{
    SelectSoundFile("room_chat", ui->roomChatSoundEdit);
}

void MainWindow::OnClearRoomChatSoundFile()
{
    ClearSoundFile("room_chat", ui->roomChatSoundEdit);
}

void MainWindow::OnSelectWishlistSoundFile()
{
    SelectSoundFile("wishlist", ui->wishlistResultsSoundEdit);
}

void MainWindow::OnClearWishlistSoundFile()
{
    ClearSoundFile("wishlist", ui->wishlistResultsSoundEdit);
}

void MainWindow::OnSelectShareBrowseSoundFile()
{
    SelectSoundFile("browse", ui->shareBrowseSoundEdit);
}

void MainWindow::OnClearShareBrowseSoundFile()
{
    ClearSoundFile("browse", ui->shareBrowseSoundEdit);
}

void MainWindow::OnSelectDownloadAlertSoundFile()
{
    SelectSoundFile("download", ui->downloadAlertSoundEdit);
}

void MainWindow::OnClearDownloadAlertSoundFile()
{
    ClearSoundFile("download", ui->downloadAlertSoundEdit);
}

void MainWindow::OnSelectUserOnlineAlertSoundFile()
{
    SelectSoundFile("user_online", ui->userOnlineAlertSoundEdit);
}

void MainWindow::OnClearUserOnlineAlertSoundFile()
{
    ClearSoundFile("user_online", ui->userOnlineAlertSoundEdit);
}

void MainWindow::OnSelectUserInfoSoundFile()
{
    SelectSoundFile("user_info", ui->userInfoSoundEdit);
}

void MainWindow::OnClearUserInfoSoundFile()
{
    ClearSoundFile("user_info", ui->userInfoSoundEdit);
}

void MainWindow::ConnectPictureButtons()
{
    connect(ui->selectPictureButton, &QPushButton::clicked, this,
            &MainWindow::OnSelectPictureClicked);
    connect(ui->clearPictureButton, &QPushButton::clicked, this,
            &MainWindow::OnClearPictureClicked);
}

void MainWindow::OnSelectPictureClicked()
{
    const QString path = QDir::fromNativeSeparators(
        FileChooser::Choose(FileChooser::Kind::OpenFile, this, tr("Select Picture")));
    if (path.isEmpty())
        return;
    Settings::Set(pictureKey, Value(path));
    ui->userPictureFilenameEdit->setText(path);
}

void MainWindow::OnClearPictureClicked()
{
    Settings::Clear(pictureKey);
    ui->userPictureFilenameEdit->clear();
}
