#include "MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>

#include "Data.h"
#include "DiagnosticsForm.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "TransferTypes.h"
#include "ui_mainwindow.h"

namespace {
const char* const downloadFolder = "download_folder";
const char* const expandNewShares = "expand_new_shares";
const char* const useOldStyleSearchResults = "use_old_style_search_results";
const char* const showDiagnostics = "show_diagnostics";
const char* const dontCreateSubfolders = "dont_create_subfolders_for_single_downloads";
const char* const dontSplitDownloads = "dont_split_downloads";
const char* const minimizeToTray = "minimize_to_tray";
const char* const chatTimestamps = "chat_timestamps";
const char* const firstOpenTab = "first_open_tab";
const char* const logRoomChat = "log_room_chat";
const char* const logPrivateChat = "log_private_chat";
const char* const checkForEmptyShares = "check_for_empty_shares";
const char* const emptyShareMessage = "empty_share_message";
const char* const acceptUserlistUploads = "accept_userlist_uploads";
const char* const maxQueuedUploadsPerUser = "max_queued_uploads_per_user";
const char* const userPictureFile = "user_picture_file";
const char* const userDescription = "user_description";
const char* const showAwayStatus = "show_away_status_in_application_icon";
const char* const userLevelLogging = "user_level_logging";
const char* const openGroupsOnUserAdd = "open_groups_on_user_add";
const char* const showEventButtons = "show_event_buttons";

// Fewer queued uploads per user than this are not offered.
const int minimumQueuedUploads = 10;

// The words of the combo boxes' entries; any later entry stores the last word.
const char* const chatTimestampWords[] = {"activity_based", "per_message_short", "per_message_long",
                                          "no_timestamps"};
const char* const firstOpenTabWords[] = {"transfers", "rooms", "search", "users"};

const char* YesNo(bool checked)
{
    return checked ? "yes" : "no";
}

const char* IndexWord(const char* const (&words)[4], int index)
{
    return index >= 0 && index < 3 ? words[index] : words[3];
}

// A check box filled from its setting at start.
struct CheckBoxRow
{
    const char* setting;
    QCheckBox* Ui_MainWindow::*box;
};

void FillCheckBoxes(Ui_MainWindow* ui, std::initializer_list<CheckBoxRow> rows)
{
    for (const CheckBoxRow& row : rows)
        (ui->*row.box)->setChecked(Settings::IsYes(row.setting));
}

// These are left as the form built them unless the setting is "yes".
void TickCheckBoxes(Ui_MainWindow* ui, std::initializer_list<CheckBoxRow> rows)
{
    for (const CheckBoxRow& row : rows)
        if (Settings::IsYes(row.setting))
            (ui->*row.box)->setChecked(true);
}
} // namespace

void MainWindow::ConnectLogAndQueueOptions()
{
    connect(ui->logRoomChatCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnLogRoomChatCheckBoxClicked);
    connect(ui->logPrivateChatCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnLogPrivateChatCheckBoxClicked);
    connect(ui->emptyShareWarningCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnEmptyShareWarningMessageCheckBoxClicked);
    WatchObfuscatedPort();
    // Typed digits count when editing ends, so that "25" is not raised to 10 at its "2".
    ui->maxUploadsPerUserSpinBox->setKeyboardTracking(false);
    connect(ui->maxUploadsPerUserSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged);
}

void MainWindow::FillFirstOptions()
{
    ui->downloadFolderEdit->setText(Settings::GetText(downloadFolder));
    FillCheckBoxes(ui,
                   {{ServerSettings::useUpnp, &Ui_MainWindow::uPnPCheckBox},
                    {expandNewShares, &Ui_MainWindow::autoExpandSharesCheckBox},
                    {useOldStyleSearchResults, &Ui_MainWindow::useOldStyleSearchResultsCheckBox},
                    {showDiagnostics, &Ui_MainWindow::showDiagnosticsCheckBox},
                    {dontCreateSubfolders, &Ui_MainWindow::dontDownloadSingleFilesIntoSubfolders},
                    {dontSplitDownloads, &Ui_MainWindow::dontSplitDownloadsCheckBox}});
}

void MainWindow::ConnectFirstOptions()
{
    connect(ui->useOldStyleSearchResultsCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnUseOldStyleSearchResultsCheckboxToggled);
    connect(ui->showDiagnosticsCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnShowDiagnosticsCheckboxToggled);
    connect(ui->dontDownloadSingleFilesIntoSubfolders, &QCheckBox::clicked, this,
            &MainWindow::OnDontCreateSubfoldersForSingleDownloads);
    connect(ui->minimizeToTrayCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnMinimizeToTrayCheckboxToggled);
    connect(ui->autoExpandSharesCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnExpandNewSharesCheckboxToggled);
    connect(ui->chatTimestampsBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnChatTimestampsBoxIndexChanged);
    connect(ui->showAwayStatusCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnShowAwayStatusClicked);
    connect(ui->dontSplitDownloadsCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnDontSplitDownloads);
}

void MainWindow::FillMinimizeToTray()
{
    if (!Settings::IsYes(minimizeToTray))
        return;
    ui->minimizeToTrayCheckBox->setChecked(true);
    // A desktop without a tray gets no icon it cannot show.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon.show();
}

void MainWindow::SelectChatTimestamps()
{
    const QString word = Settings::GetText(chatTimestamps);
    int index = 3;
    for (int entry = 0; entry < 3; ++entry)
        if (word == chatTimestampWords[entry])
            index = entry;
    ui->chatTimestampsBox->setCurrentIndex(index);
}

void MainWindow::ConnectFirstOpenTabBox()
{
    connect(ui->firstOpenTabBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnFirstOpenTabBoxIndexChanged);
}

void MainWindow::FillChatLogAndShareOptions()
{
    FillCheckBoxes(ui, {{logRoomChat, &Ui_MainWindow::logRoomChatCheckBox},
                        {logPrivateChat, &Ui_MainWindow::logPrivateChatCheckBox},
                        {checkForEmptyShares, &Ui_MainWindow::emptyShareWarningCheckBox}});
    ui->emptyShareWarningEdit->setText(Settings::GetText(emptyShareMessage));
    ui->emptyShareWarningEdit->setCursorPosition(0);
    FillCheckBoxes(ui, {{acceptUserlistUploads, &Ui_MainWindow::acceptUserListUploadsCheckBox}});
}

void MainWindow::ConnectShareWarningMessage()
{
    connect(ui->emptyShareWarningEdit, &QLineEdit::textEdited, this,
            &MainWindow::OnEmptyShareWarningEditEdited);
    connect(ui->saveEmptyShareWarningMessageButton, &QPushButton::clicked, this,
            &MainWindow::OnSaveEmptyShareWarningMessageButtonClicked);
}

void MainWindow::FillMaxQueuedUploads()
{
    ui->maxUploadsPerUserSpinBox->setValue(Settings::GetText(maxQueuedUploadsPerUser).toInt());
}

void MainWindow::FillUserOptions()
{
    ui->userPictureFilenameEdit->setText(Settings::GetText(userPictureFile));
    ui->userDescriptionEdit->setPlainText(Settings::GetText(userDescription));
    TickCheckBoxes(ui, {{showAwayStatus, &Ui_MainWindow::showAwayStatusCheckBox},
                        {userLevelLogging, &Ui_MainWindow::userLevelLoggingCheckBox},
                        {openGroupsOnUserAdd, &Ui_MainWindow::openGroupsOnUserAddCheckBox},
                        {showEventButtons, &Ui_MainWindow::showEventButtonsCheckBox}});
}

void MainWindow::ConnectUserOptions()
{
    connect(ui->showEventButtonsCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnShowEventButtonsClicked);
    connect(ui->openGroupsOnUserAddCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnOpenGroupsOnUserAddClicked);
}

void MainWindow::WatchExcludedExtensions()
{
    Type* endings = d.GetType(TransferTypes::excludedDownloadExtension);
    Listen(endings->itemAdded, this, &MainWindow::OnExcludedDownloadExtensionAddedOrRemoved);
    Listen(endings->itemRemoved, this, &MainWindow::OnExcludedDownloadExtensionAddedOrRemoved);
    OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr());
}

void MainWindow::OnAcceptUserlistUploadsCheckboxToggled(bool i_checked)
{
    Settings::Set(acceptUserlistUploads, YesNo(i_checked));
}

void MainWindow::OnEmptyShareWarningMessageCheckBoxClicked(bool i_checked)
{
    Settings::Set(checkForEmptyShares, YesNo(i_checked));
}

void MainWindow::OnDontCreateSubfoldersForSingleDownloads(bool i_checked)
{
    Settings::Set(dontCreateSubfolders, YesNo(i_checked));
}

void MainWindow::OnDontSplitDownloads(bool i_checked)
{
    Settings::Set(dontSplitDownloads, YesNo(i_checked));
}

void MainWindow::OnUseOldStyleSearchResultsCheckboxToggled(bool i_checked)
{
    Settings::Set(useOldStyleSearchResults, YesNo(i_checked));
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool i_checked)
{
    Settings::Set(expandNewShares, YesNo(i_checked));
}

void MainWindow::OnOpenGroupsOnUserAddClicked(bool i_checked)
{
    Settings::Set(openGroupsOnUserAdd, YesNo(i_checked));
}

void MainWindow::OnShowEventButtonsClicked(bool i_checked)
{
    Settings::Set(showEventButtons, YesNo(i_checked));
}

void MainWindow::OnLogRoomChatCheckBoxClicked(bool i_checked)
{
    Settings::Set(logRoomChat, YesNo(i_checked));
}

void MainWindow::OnLogPrivateChatCheckBoxClicked(bool i_checked)
{
    Settings::Set(logPrivateChat, YesNo(i_checked));
}

void MainWindow::OnUserLevelLoggingClicked(bool i_checked)
{
    Settings::Set(userLevelLogging, YesNo(i_checked));
}

void MainWindow::OnShowAwayStatusClicked(bool i_checked)
{
    Settings::Set(showAwayStatus, YesNo(i_checked));
    ResetApplicationIcon();
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool i_checked)
{
    Settings::Set(minimizeToTray, YesNo(i_checked));
    trayIcon.setVisible(i_checked && QSystemTrayIcon::isSystemTrayAvailable());
}

void MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged(int i_value)
{
    // Setting the box runs this again with the raised value, which stores it.
    if (i_value < minimumQueuedUploads)
        ui->maxUploadsPerUserSpinBox->setValue(minimumQueuedUploads);
    else
        Settings::Set(maxQueuedUploadsPerUser, QString::number(i_value));
}

void MainWindow::OnChatTimestampsBoxIndexChanged(int i_index)
{
    Settings::Set(chatTimestamps, IndexWord(chatTimestampWords, i_index));
}

void MainWindow::OnFirstOpenTabBoxIndexChanged(int i_index)
{
    Settings::Set(firstOpenTab, IndexWord(firstOpenTabWords, i_index));
}

void MainWindow::OnUserInfoTextChanged()
{
    Settings::Set(userDescription, ui->userDescriptionEdit->toPlainText());
}

void MainWindow::OnEmptyShareWarningEditEdited(QString i_text)
{
    ui->saveEmptyShareWarningMessageButton->setEnabled(!i_text.trimmed().isEmpty());
}

void MainWindow::OnSaveEmptyShareWarningMessageButtonClicked()
{
    Settings::Set(emptyShareMessage, ui->emptyShareWarningEdit->text());
    ui->emptyShareWarningEdit->setCursorPosition(0);
    ui->saveEmptyShareWarningMessageButton->setEnabled(false);
}

// A removed ending has already left its type when this runs, so the list is read whole each time.
void MainWindow::OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr)
{
    QStringList endings;
    for (ItemPtr ending : d.GetType(TransferTypes::excludedDownloadExtension)->GetItems())
        endings << ending.AsString();
    ui->excludedExtensionsEdit->setText(endings.join(' '));
}
