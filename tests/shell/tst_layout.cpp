#include <QMainWindow>
#include <QtTest>

#include "ui_mainwindow.h"

namespace {
// Object name and text of each page, left to right.
QStringList Pages(const QTabWidget* tabs)
{
    QStringList pages;
    for (int index = 0; index < tabs->count(); ++index)
        pages << tabs->widget(index)->objectName() + ":" + tabs->tabText(index);
    return pages;
}
} // namespace

class ShellLayoutTest : public QObject
{
    Q_OBJECT

    QMainWindow window;
    Ui_MainWindow form;

private slots:
    void initTestCase() { form.setupUi(&window); }

    // The first-open-tab option picks main tabs by index, so their order matters.
    void pagesInOrder()
    {
        QCOMPARE(Pages(form.tabControl),
                 (QStringList{"transfersTab:Transfers", "roomsTab:Rooms", "chatTab:Chat",
                              "searchTab:Search", "tab_2:Users", "sharesTab:Browse",
                              "optionsTab:Options"}));
        QCOMPARE(Pages(form.optionsTabControl),
                 (QStringList{"loginOptionsTab:Login", "fileSharingOptionsTab:File Sharing",
                              "tab:UI", "tab_3:General", "tab_4:User Info",
                              "tab_5:Notification Sounds", "extrasTab:Extras"}));
    }

    // The main window reaches these by name; the bar must be the one that registers itself.
    void controlsTheWindowUsesExist()
    {
        const char* const controls[][2] = {{"tabControl", "TabWidget"},
                                           {"loginOptionsTab", "QWidget"},
                                           {"fileSharingOptionsTab", "QWidget"},
                                           {"uPnPCheckBox", "QCheckBox"},
                                           {"sharedFoldersList", "QTreeWidget"},
                                           {"firstOpenTabBox", "QComboBox"},
                                           {"showDiagnosticsCheckBox", "QCheckBox"},
                                           {"codePageBox", "QComboBox"},
                                           {"importUserListButton", "QPushButton"},
                                           {"mainToolBar", "ActionSetToolBar"}};
        for (const auto& control : controls)
        {
            const QList<QWidget*> found = window.findChildren<QWidget*>(control[0]);
            QVERIFY2(found.size() == 1, control[0]);
            QCOMPARE(found.first()->metaObject()->className(), control[1]);
        }
    }
};

QTEST_MAIN(ShellLayoutTest)
#include "tst_layout.moc"
