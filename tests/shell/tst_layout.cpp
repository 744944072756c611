#include <QComboBox>
#include <QIcon>
#include <QMainWindow>
#include <QSpinBox>
#include <QToolBar>
#include <QTranslator>
#include <QtTest>

#include "ui_mainwindow.h"

namespace {
struct Page
{
    const char* name;
    const char* text;
    const char* layout; // empty: the page has no layout, its controls keep a fixed place
    const char* layoutClass;
};
const Page mainTabs[] = {{"transfersTab", "Transfers", "horizontalLayout_6", "QHBoxLayout"},
                         {"roomsTab", "Rooms", "horizontalLayout", "QHBoxLayout"},
                         {"chatTab", "Chat", "horizontalLayout_2", "QHBoxLayout"},
                         {"searchTab", "Search", "verticalLayout_2", "QVBoxLayout"},
                         {"tab_2", "Users", "horizontalLayout_8", "QHBoxLayout"},
                         {"sharesTab", "Browse", "horizontalLayout_7", "QHBoxLayout"},
                         {"optionsTab", "Options", "horizontalLayout_4", "QHBoxLayout"}};
const Page optionPages[] = {
    {"loginOptionsTab", "Login", "", ""},
    {"fileSharingOptionsTab", "File Sharing", "horizontalLayout_3", "QHBoxLayout"},
    {"tab", "UI", "", ""},
    {"tab_3", "General", "", ""},
    {"tab_4", "User Info", "horizontalLayout_13", "QHBoxLayout"},
    {"tab_5", "Notification Sounds", "horizontalLayout_27", "QHBoxLayout"},
    {"extrasTab", "Extras", "", ""}};

struct Control
{
    QByteArray name;
    const char* page;
    const char* className;
    const char* text; // null: no text of its own
};
const Control controls[] = {
    {"usernameEdit", "loginOptionsTab", "QLineEdit", nullptr},
    {"listeningPortEdit", "loginOptionsTab", "QLineEdit", nullptr},
    {"checkPortsButton", "loginOptionsTab", "QPushButton", "Check Ports"},
    {"obfuscatedPortLabel", "loginOptionsTab", "QLabel", "Obfuscated port is..."},
    {"uPnPCheckBox", "loginOptionsTab", "QCheckBox", "use UPnP"},
    {"downloadFolderEdit", "fileSharingOptionsTab", "QLineEdit", nullptr},
    {"downloadFolderSpacer", "fileSharingOptionsTab", "QLabel", ""},
    {"sharedFoldersList", "fileSharingOptionsTab", "QTreeWidget", nullptr},
    {"maxUploadsPerUserSpinBox", "fileSharingOptionsTab", "QSpinBox", nullptr},
    {"acceptUserListUploadsCheckBox", "fileSharingOptionsTab", "QCheckBox",
     "Accept uploads from all user list users"},
    {"emptyShareWarningCheckBox", "fileSharingOptionsTab", "QCheckBox",
     "Send warning message to downloading users with empty shares"},
    {"emptyShareWarningEdit", "fileSharingOptionsTab", "QLineEdit", nullptr},
    {"saveEmptyShareWarningMessageButton", "fileSharingOptionsTab", "QPushButton", "Save"},
    {"excludedExtensionsEdit", "fileSharingOptionsTab", "QLineEdit", nullptr},
    {"editExcludedExtensionsButton", "fileSharingOptionsTab", "QPushButton", "Edit"},
    {"dontDownloadSingleFilesIntoSubfolders", "fileSharingOptionsTab", "QCheckBox",
     "Don't create subfolders for single downloads"},
    {"dontSplitDownloadsCheckBox", "fileSharingOptionsTab", "QCheckBox",
     "Don't put downloads in Downloading and Complete folders"},
    {"minimizeToTrayCheckBox", "tab", "QCheckBox", "Minimize to tray [Windows only]"},
    {"useOldStyleSearchResultsCheckBox", "tab", "QCheckBox", "Use old-style search results"},
    {"autoExpandSharesCheckBox", "tab", "QCheckBox", "Auto-expand newly browsed shares"},
    {"firstOpenTabBox", "tab", "QComboBox", nullptr},
    {"chatTimestampsBox", "tab", "QComboBox", nullptr},
    {"showAwayStatusCheckBox", "tab", "QCheckBox", "Show Away status in application icon"},
    {"openGroupsOnUserAddCheckBox", "tab", "QCheckBox",
     "Open groups dialog when a user is added to the list"},
    {"showDiagnosticsCheckBox", "tab", "QCheckBox", "Show diagnostics"},
    {"showEventButtonsCheckBox", "tab", "QCheckBox", "Show event buttons"},
    {"selectColorsButton", "tab", "QPushButton", "Select Application Colors"},
    {"logRoomChatCheckBox", "tab_3", "QCheckBox", "Log room chat"},
    {"logPrivateChatCheckBox", "tab_3", "QCheckBox", "Log private chat"},
    {"label_7", "tab_3", "QLabel", "Code Page to use to translate non-Unicode characters "},
    {"codePageBox", "tab_3", "QComboBox", nullptr},
    {"userLevelLoggingCheckBox", "tab_3", "QCheckBox",
     "Enable user-level logging (only for special debugging purposes)"},
    {"selectPictureButton", "tab_4", "QPushButton", "Select Picture"},
    {"userPictureFilenameEdit", "tab_4", "QLineEdit", nullptr},
    {"clearPictureButton", "tab_4", "QPushButton", "Clear"},
    {"userDescriptionEdit", "tab_4", "QPlainTextEdit", nullptr},
    {"importUserListButton", "extrasTab", "QPushButton",
     "Import User List from original Vandrell client"}};

// Label, label text and name stem of each alert-sound row, top to bottom.
const char* const soundRows[][3] = {{"label_9", "Default Sound:", "defaultSound"},
                                    {"label_10", "Private Chat:", "privateChatSound"},
                                    {"label_17", "Room Chat:", "roomChatSound"},
                                    {"label_11", "Wishlist Results:", "wishlistResultsSound"},
                                    {"label_12", "Browsed Share:", "shareBrowseSound"},
                                    {"label_14", "Download Alert:", "downloadAlertSound"},
                                    {"label_15", "User Online Alert:", "userOnlineAlertSound"},
                                    {"label_16", "User Info:", "userInfoSound"}};

// Prefixes every text asked for under the window's context.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* text, const char*, int) const override
    {
        return qstrcmp(context, "MainWindow") == 0 ? "~" + QString::fromUtf8(text) : QString();
    }
    bool isEmpty() const override { return false; }
};
} // namespace

Q_DECLARE_METATYPE(Page)
Q_DECLARE_METATYPE(Control)

class ShellLayoutTest : public QObject
{
    Q_OBJECT

    QMainWindow window;
    Ui_MainWindow form;

    template <typename T> T* unique(const QString& name)
    {
        const auto found = window.findChildren<QObject*>(name);
        return found.size() == 1 ? qobject_cast<T*>(found.first()) : nullptr;
    }

private slots:
    void initTestCase() { form.setupUi(&window); }

    void tabs_data()
    {
        QTest::addColumn<QString>("tabWidget");
        QTest::addColumn<int>("index");
        QTest::addColumn<Page>("page");
        for (int i = 0; i < 7; ++i)
        {
            QTest::addRow("main %d", i) << "tabControl" << i << mainTabs[i];
            QTest::addRow("option %d", i) << "optionsTabControl" << i << optionPages[i];
        }
    }
    void tabs()
    {
        QFETCH(QString, tabWidget);
        QFETCH(int, index);
        QFETCH(Page, page);
        auto* tabs = unique<QTabWidget>(tabWidget);
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 7);
        QCOMPARE(tabs->widget(index)->objectName(), QString(page.name));
        QCOMPARE(tabs->tabText(index), QString(page.text));
        QLayout* layout = tabs->widget(index)->layout();
        QCOMPARE(layout ? layout->objectName() : QString(), QString(page.layout));
        if (layout)
        {
            QCOMPARE(QByteArray(layout->metaObject()->className()), QByteArray(page.layoutClass));
            QCOMPARE(layout->contentsMargins(), QMargins(11, 11, 11, 11));
            QCOMPARE(layout->spacing(), 6);
        }
    }

    void optionControls_data()
    {
        QTest::addColumn<Control>("control");
        for (const Control& control : controls)
            QTest::newRow(control.name.constData()) << control;
        for (const auto& row : soundRows)
        {
            const QByteArray stem(row[2]);
            for (const Control& control :
                 {Control{row[0], "tab_5", "QLabel", row[1]},
                  Control{stem + "Edit", "tab_5", "QLineEdit", nullptr},
                  Control{stem + "SelectFileButton", "tab_5", "QPushButton", "Select File"},
                  Control{stem + "ClearButton", "tab_5", "QPushButton", "Clear"}})
                QTest::newRow(control.name.constData()) << control;
        }
    }
    void optionControls()
    {
        QFETCH(Control, control);
        auto* widget = unique<QWidget>(QString(control.name));
        QVERIFY(widget);
        QCOMPARE(QByteArray(widget->metaObject()->className()), QByteArray(control.className));
        auto* page = unique<QWidget>(control.page);
        QVERIFY(page && page->isAncestorOf(widget));
        if (control.text)
            QCOMPARE(widget->property("text").toString(), QString(control.text));
    }

    void stateRightAfterSetup()
    {
        QCOMPARE(window.objectName(), QString("MainWindow"));
        QCOMPARE(window.windowTitle(), QString("VandrellQt"));
        QCOMPARE(window.size(), QSize(1000, 600));
        const QImage offline = QIcon(":/icons/offline_icon").pixmap(16).toImage();
        QVERIFY(!offline.isNull());
        QCOMPARE(window.windowIcon().pixmap(16).toImage(), offline);
        QCOMPARE(window.centralWidget(), form.centralWidget);
        QCOMPARE(form.tabControl->currentIndex(), 1);
        QCOMPARE(form.optionsTabControl->currentIndex(), 0);
        QCOMPARE(form.optionsTabControl->tabShape(), QTabWidget::Triangular);
        QCOMPARE(form.gridLayoutWidget->geometry(), QRect(20, 20, 431, 161));
        QCOMPARE(form.layoutWidget->geometry(), QRect(20, 20, 450, 321));
        QCOMPARE(form.layoutWidget1->geometry(), QRect(20, 20, 521, 151));
        QCOMPARE(form.importUserListButton->geometry(), QRect(10, 30, 281, 23));

        for (QLineEdit* edit : {form.usernameEdit, form.listeningPortEdit, form.downloadFolderEdit,
                                form.excludedExtensionsEdit, form.userPictureFilenameEdit,
                                form.defaultSoundEdit, form.userInfoSoundEdit})
            QVERIFY2(edit->isReadOnly(), qPrintable(edit->objectName()));
        QVERIFY(!form.emptyShareWarningEdit->isReadOnly());
        QVERIFY(!form.saveEmptyShareWarningMessageButton->isEnabled());
        QCOMPARE(form.maxUploadsPerUserSpinBox->minimum(), 0);
        QCOMPARE(form.maxUploadsPerUserSpinBox->maximum(), 99999);
        QCOMPARE(form.sharedFoldersList->columnCount(), 2);

        const auto items = [](QComboBox* box) {
            QStringList texts;
            for (int i = 0; i < box->count(); ++i)
                texts << box->itemText(i);
            return texts;
        };
        QCOMPARE(items(form.firstOpenTabBox),
                 (QStringList{"Transfers", "Rooms", "Search", "Users"}));
        QCOMPARE(items(form.chatTimestampsBox),
                 (QStringList{"Activity based", "Per message (short)", "Per message (long)",
                              "No timestamps"}));
        QCOMPARE(form.codePageBox->count(), 0);
        QCOMPARE(form.firstOpenTabBox->sizeAdjustPolicy(), QComboBox::AdjustToContents);
        QCOMPARE(form.chatTimestampsBox->sizeAdjustPolicy(), QComboBox::AdjustToContents);

        QToolBar* bar = form.mainToolBar;
        QCOMPARE(bar->parentWidget(), &window);
        QCOMPARE(window.toolBarArea(bar), Qt::TopToolBarArea);
        QVERIFY(!bar->isMovable());
        QCOMPARE(bar->contextMenuPolicy(), Qt::NoContextMenu);
        QCOMPARE(bar->iconSize(), QSize(16, 16));
        QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    }

    void textsAreTranslatedUnderTheWindowContext()
    {
        MarkingTranslator translator;
        QCoreApplication::installTranslator(&translator);
        QMainWindow translated;
        Ui_MainWindow translatedForm;
        translatedForm.setupUi(&translated);
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(translated.windowTitle(), QString("~VandrellQt"));
        QCOMPARE(translatedForm.tabControl->tabText(6), QString("~Options"));
        QCOMPARE(translatedForm.optionsTabControl->tabText(5), QString("~Notification Sounds"));
        QCOMPARE(translatedForm.label_7->text(),
                 QString("~Code Page to use to translate non-Unicode characters "));
        QCOMPARE(translatedForm.chatTimestampsBox->itemText(3), QString("~No timestamps"));
    }
};

QTEST_MAIN(ShellLayoutTest)
#include "tst_layout.moc"
