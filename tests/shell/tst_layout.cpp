#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStyle>
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

    // Each option page at the window's size: every label, button and check box as wide as its
    // text needs, high enough for its lines, and inside its page.
    void optionTextsShowWhole()
    {
        window.show();
        // The longest port, and a download folder of a usual length.
        form.obfuscatedPortLabel->setText("Obfuscated port is 65535, if you're manually "
                                          "forwarding\nyour ports be sure to open it as well.");
        const QString folder = "/home/margaret.villanueva/Vandrell Downloads";
        form.downloadFolderEdit->setText(folder);
        for (int page = 0; page < form.optionsTabControl->count(); ++page)
        {
            form.tabControl->setCurrentWidget(form.optionsTab);
            form.optionsTabControl->setCurrentIndex(page);
            QWidget* shown = form.optionsTabControl->currentWidget();
            QApplication::processEvents();
            for (QWidget* control : shown->findChildren<QWidget*>())
            {
                if (!control->isVisible() ||
                    !(qobject_cast<QLabel*>(control) || qobject_cast<QAbstractButton*>(control)))
                    continue;
                const QSize need = control->sizeHint();
                const QRect place(control->mapTo(shown, QPoint(0, 0)), control->size());
                const QByteArray name = control->objectName().toUtf8();
                QVERIFY2(control->width() >= need.width(), name);
                // Rows may be packed tighter than their hint, as long as every text line shows.
                const QString text = qobject_cast<QLabel*>(control)
                                         ? qobject_cast<QLabel*>(control)->text()
                                         : qobject_cast<QAbstractButton*>(control)->text();
                const int lines = text.count('\n') + 1;
                const QFontMetrics metrics = control->fontMetrics();
                QVERIFY2(control->height() >=
                             metrics.height() + (lines - 1) * metrics.lineSpacing(),
                         name);
                QVERIFY2(shown->rect().contains(place), name);
            }
        }
        const QLineEdit* edit = form.downloadFolderEdit;
        QVERIFY(edit->width() - 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4 >=
                edit->fontMetrics().horizontalAdvance(folder));
    }
};

QTEST_MAIN(ShellLayoutTest)
#include "tst_layout.moc"
