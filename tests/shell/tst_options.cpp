#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QtTest>

#include "MainWindow.h"
#include "MainWindowRun.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ui_mainwindow.h"

namespace {
QImage IconImage(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage();
}
} // namespace

// What each option control stores when the user changes it, and what it changes at once.
class OptionsTest : public QObject
{
    Q_OBJECT

    MainWindowRun run;
    MainWindow* window = nullptr;

private slots:
    void initTestCase()
    {
        run.Start();
        QVERIFY(run.WaitLoggedIn());
        window = run.Window();
        QApplication::setActiveWindow(window);
    }

    void checkBoxStoresYesOrNo_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("setting");
        const char* const rows[][2] = {
            {"uPnPCheckBox", "use_upnp"},
            {"acceptUserListUploadsCheckBox", "accept_userlist_uploads"},
            {"emptyShareWarningCheckBox", "check_for_empty_shares"},
            {"dontDownloadSingleFilesIntoSubfolders",
             "dont_create_subfolders_for_single_downloads"},
            {"dontSplitDownloadsCheckBox", "dont_split_downloads"},
            {"minimizeToTrayCheckBox", "minimize_to_tray"},
            {"useOldStyleSearchResultsCheckBox", "use_old_style_search_results"},
            {"autoExpandSharesCheckBox", "expand_new_shares"},
            {"showAwayStatusCheckBox", "show_away_status_in_application_icon"},
            {"openGroupsOnUserAddCheckBox", "open_groups_on_user_add"},
            {"showDiagnosticsCheckBox", "show_diagnostics"},
            {"showEventButtonsCheckBox", "show_event_buttons"},
            {"logRoomChatCheckBox", "log_room_chat"},
            {"logPrivateChatCheckBox", "log_private_chat"},
            {"userLevelLoggingCheckBox", "user_level_logging"}};
        for (const auto& [box, setting] : rows)
            QTest::newRow(box) << QString(box) << QString(setting);
    }

    void checkBoxStoresYesOrNo()
    {
        QFETCH(QString, box);
        QFETCH(QString, setting);
        auto* check = window->findChild<QCheckBox*>(box);
        for (int click = 0; click < 2; ++click)
        {
            check->click();
            QCOMPARE(Settings::GetText(setting.toLatin1()), check->isChecked() ? "yes" : "no");
        }
    }

    void comboBoxStoresItsWord_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("stored");
        const QStringList tabs{"transfers", "rooms", "search", "users"};
        const QStringList stamps{"activity_based", "per_message_short", "per_message_long",
                                 "no_timestamps"};
        for (int index = 3; index >= 0; --index)
        {
            QTest::addRow("first tab %d", index) << "firstOpenTabBox" << index << tabs[index];
            QTest::addRow("time stamps %d", index) << "chatTimestampsBox" << index << stamps[index];
        }
    }

    void comboBoxStoresItsWord()
    {
        QFETCH(QString, box);
        QFETCH(int, index);
        QFETCH(QString, stored);
        auto* combo = window->findChild<QComboBox*>(box);
        combo->setCurrentIndex(index);
        const char* setting = box == "firstOpenTabBox" ? "first_open_tab" : "chat_timestamps";
        QCOMPARE(Settings::GetText(setting), stored);
    }

    void queuedUploadsTakeTypedNumbersAndAtLeastTen_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("two digits") << QString("25") << "25";
        QTest::newRow("one digit") << QString("5") << "10";
    }

    void queuedUploadsTakeTypedNumbersAndAtLeastTen()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QSpinBox* box = run.Form()->maxUploadsPerUserSpinBox;
        box->setValue(40);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, typed);
        QTest::keyClick(box, Qt::Key_Enter);
        QCOMPARE(Settings::GetText("max_queued_uploads_per_user"), stored);
        QCOMPARE(box->value(), stored.toInt());
    }

    void warningMessageSavesOnlyWhenNotBlank()
    {
        QLineEdit* edit = run.Form()->emptyShareWarningEdit;
        QPushButton* save = run.Form()->saveEmptyShareWarningMessageButton;
        const QString before = Settings::GetText("empty_share_message");
        edit->clear();
        QTest::keyClicks(edit, "   ");
        QVERIFY(!save->isEnabled());
        QTest::keyClicks(edit, "share ");
        QVERIFY(save->isEnabled());
        QCOMPARE(Settings::GetText("empty_share_message"), before);
        save->click();
        QCOMPARE(Settings::GetText("empty_share_message"), QString("   share "));
        QCOMPARE(edit->cursorPosition(), 0);
        QVERIFY(!save->isEnabled());
    }

    void awayOptionRedrawsIcon()
    {
        QCheckBox* away = run.Form()->showAwayStatusCheckBox;
        gp_server->SetAvailabilityStatus(false);
        away->setChecked(false);
        away->click();
        QCOMPARE(IconImage(window->windowIcon()), IconImage(QIcon(":/icons/away_icon")));
        away->click();
        QCOMPARE(IconImage(window->windowIcon()), IconImage(QIcon(":/icons/online_icon")));
        gp_server->SetAvailabilityStatus(true);
    }

    void trayShowsOnlyWhereDesktopHasOne()
    {
        auto* tray = window->findChild<QSystemTrayIcon*>();
        QVERIFY(tray);
        QCheckBox* box = run.Form()->minimizeToTrayCheckBox;
        box->setChecked(false);
        box->click();
        QCOMPARE(tray->isVisible(), QSystemTrayIcon::isSystemTrayAvailable());
        box->click();
        QVERIFY(!tray->isVisible());
    }

    void diagnosticsTabComesAndGoes()
    {
        QTabWidget* tabs = run.Form()->tabControl;
        QCheckBox* box = run.Form()->showDiagnosticsCheckBox;
        box->setChecked(false);
        window->OnShowDiagnosticsCheckboxToggled(false);
        const int count = tabs->count();
        box->click();
        QCOMPARE(tabs->count(), count + 1);
        QCOMPARE(tabs->tabText(count), QString("Diagnostics"));
        QCOMPARE(tabs->tabText(count - 1), QString("Options"));
        box->click();
        QCOMPARE(tabs->count(), count);
        window->OnShowDiagnosticsCheckboxToggled(false);
        QCOMPARE(tabs->count(), count);
    }
};

QTEST_MAIN(OptionsTest)
#include "tst_options.moc"
