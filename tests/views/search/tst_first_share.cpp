#include <memory>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "AddSharedFolderDialog.h"
#include "Data.h"
#include "MainWindowRun.h"
#include "RoomViews.h"
#include "SearchViews.h"
#include "SharesTypes.h"
#include "UserViews.h"
#include "ui_AddSharedFolderDialog.h"
#include "ui_mainwindow.h"

// The first start without saved data asks for a shared folder, and the answer Yes shares one
// before the client goes on.
class FirstShareTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    QTemporaryDir disk;
    QTimer answering;
    bool dialogWasModal = false;
    int dialogsSeen = 0;

    // The modal share dialog of the first start, answered as a user would: a folder typed in
    // (the picker is the desktop's) and OK.
    void AnswerShareDialog()
    {
        auto* dialog = qobject_cast<AddSharedFolderDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        ++dialogsSeen;
        dialogWasModal = dialog->isModal();
        dialog->Form()->selectedFolderEdit->setText(disk.path());
        dialog->Form()->buttonBox->button(QDialogButtonBox::Ok)->click();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(disk.isValid());
        RoomViews::Install();
        UserViews::Install();
        SearchViews::Install();
        connect(&answering, &QTimer::timeout, this, &FirstShareTest::AnswerShareDialog);
        answering.start(20);
        run = std::make_unique<MainWindowRun>();
        run->boxAnswer = QMessageBox::Yes;
        run->Start();
        run->boxAnswer = 0;
        answering.stop();
        QVERIFY(run->WaitLoggedIn());
    }

    void cleanupTestCase() { run.reset(); }

    void yesOpensTheModalDialogThenTheHint()
    {
        QCOMPARE(run->boxes.size(), 2);
        QVERIFY(run->boxes[0].startsWith("Share a folder?: Many Vandrell users require"));
        QVERIFY(run->boxes[1].startsWith("In the future: You can always share"));
        QCOMPARE(dialogsSeen, 1);
        QVERIFY(dialogWasModal);
    }

    void theChosenFolderIsSharedWithEveryone()
    {
        ItemPtr folder = d.GetType(SharesTypes::sharedFolder)->HasItem(Value(disk.path()));
        QVERIFY(!folder.IsNull());
        QVERIFY(folder.IsConnected(SharesTypes::sharedPublic));
        const QList<QTreeWidgetItem*> rows =
            run->Form()->sharedFoldersList->findItems(disk.path(), Qt::MatchExactly);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first()->text(1), QString("Everyone"));
    }
};

QTEST_MAIN(FirstShareTest)
#include "tst_first_share.moc"
