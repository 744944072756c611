#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ChangeListeningPortDialog.h"
#include "ChangeUsernamePasswordDialog.h"
#include "Data.h"
#include "Settings.h"

namespace {
QLineEdit* Edit(QDialog* dialog, const char* name)
{
    return dialog->findChild<QLineEdit*>(name);
}

void Press(QDialog* dialog, QDialogButtonBox::StandardButton which)
{
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(which)->click();
}

// Presses OK and answers each message box that this opens, returning the boxes' titles.
QStringList PressOkAnsweringBoxes(QDialog* dialog)
{
    QStringList titles;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&titles] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        {
            titles << box->windowTitle();
            box->accept();
        }
    });
    timer.start(10);
    Press(dialog, QDialogButtonBox::Ok);
    return titles;
}
} // namespace

class ShellDialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Settings::DeclareTypes(d); }

    void init()
    {
        Settings::Set("username", "old name");
        Settings::Set("password", "old password");
        Settings::Set("listening_port", "2234");
        Settings::Set("new_listening_port", "3000");
    }

    void accountOkTrimsOrRefuses_data()
    {
        QTest::addColumn<QStringList>("typed");  // name, password
        QTest::addColumn<QStringList>("stored"); // empty: refused, the dialog stays open
        QTest::newRow("trimmed, inner blanks kept")
            << QStringList{" \tal ice  ", "  pa ss\t"} << QStringList{"al ice", "pa ss"};
        QTest::newRow("same values again")
            << QStringList{"old name", "old password"} << QStringList{"old name", "old password"};
        QTest::newRow("blank name") << QStringList{"   ", "secret"} << QStringList();
        QTest::newRow("empty password") << QStringList{"bob", ""} << QStringList();
        QTest::newRow("blank password") << QStringList{"bob", " \t "} << QStringList();
    }

    void accountOkTrimsOrRefuses()
    {
        QFETCH(QStringList, typed);
        QFETCH(QStringList, stored);
        QPointer<QDialog> dialog = new ChangeUsernamePasswordDialog(false);
        dialog->show();
        QLineEdit* name = Edit(dialog, "usernameEdit");
        QLineEdit* password = Edit(dialog, "passwordEdit");
        QCOMPARE(name->text(), QString("old name"));
        QCOMPARE(password->text(), QString("old password"));
        QCOMPARE(password->echoMode(), QLineEdit::Normal);
        name->setText(typed[0]);
        password->setText(typed[1]);
        Press(dialog, QDialogButtonBox::Ok);

        const bool refused = stored.isEmpty();
        if (refused)
            stored = QStringList{"old name", "old password"};
        QCOMPARE(Settings::GetText("username"), stored[0]);
        QCOMPARE(Settings::GetText("password"), stored[1]);
        if (!refused)
        {
            QTRY_VERIFY(dialog.isNull());
            return;
        }
        QVERIFY(dialog->isVisible());
        delete dialog;
    }

    void firstRunDialogOnTheStackBelongsToItsCaller_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("ok") << true;
        QTest::newRow("cancel") << false;
    }

    void firstRunDialogOnTheStackBelongsToItsCaller()
    {
        QFETCH(bool, confirm);
        Settings::Clear("username");
        ChangeUsernamePasswordDialog dialog(true);
        QCOMPARE(dialog.windowTitle(), QString("Set Username/Password"));
        Edit(&dialog, "usernameEdit")->setText(" carol ");
        QTimer::singleShot(0, &dialog, [&] {
            Press(&dialog, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        });
        QCOMPARE(dialog.exec(), confirm ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(Settings::GetText("username"), confirm ? QString("carol") : QString());
        // A pending self-deletion would free this stack object here.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog.isVisible());
    }

    void modelessDialogsFreeThemselvesOnCancel_data()
    {
        QTest::addColumn<bool>("portDialog");
        QTest::addColumn<bool>("closeWindow");
        QTest::newRow("account, cancel") << false << false;
        QTest::newRow("account, window closed") << false << true;
        QTest::newRow("port, cancel") << true << false;
        QTest::newRow("port, window closed") << true << true;
    }

    void modelessDialogsFreeThemselvesOnCancel()
    {
        QFETCH(bool, portDialog);
        QFETCH(bool, closeWindow);
        QWidget parent;
        QPointer<QDialog> dialog =
            portDialog ? static_cast<QDialog*>(new ChangeListeningPortDialog(&parent))
                       : new ChangeUsernamePasswordDialog(false, &parent);
        dialog->show();
        Edit(dialog, portDialog ? "portEdit" : "usernameEdit")->setText("4444");
        if (closeWindow)
            dialog->close();
        else
            Press(dialog, QDialogButtonBox::Cancel);
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(Settings::GetText("username"), QString("old name"));
        QCOMPARE(Settings::GetText("new_listening_port"), QString("3000"));
    }

    void portOkValidatesThenRecordsPendingPort_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("boxTitle");
        QTest::addColumn<QString>("pending");
        const QString invalid = "Invalid Port Number";
        const QString unchanged = "Port Number Not Changed";
        const QString accepted = "Change to Listening Port Pending";
        QTest::newRow("empty") << "" << invalid << "3000";
        QTest::newRow("above range") << "65536" << invalid << "3000";
        QTest::newRow("current port") << "2234" << unchanged << "3000";
        QTest::newRow("top of range") << "65535" << accepted << "65535";
        // The mask keeps the first place for 1 to 9, so the typed zero lands behind it.
        QTest::newRow("leading zero not stored") << "08080" << accepted << "808";
        QTest::newRow("pending again") << "3000" << accepted << "3000";
    }

    void portOkValidatesThenRecordsPendingPort()
    {
        QFETCH(QString, typed);
        QFETCH(QString, boxTitle);
        QFETCH(QString, pending);
        QPointer<QDialog> dialog = new ChangeListeningPortDialog;
        dialog->show();
        QLineEdit* edit = Edit(dialog, "portEdit");
        QCOMPARE(edit->text(), QString("2234"));
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, typed);

        QCOMPARE(PressOkAnsweringBoxes(dialog), QStringList{boxTitle});
        QCOMPARE(Settings::GetText("new_listening_port"), pending);
        QCOMPARE(Settings::GetText("listening_port"), QString("2234"));
        if (boxTitle != "Change to Listening Port Pending")
        {
            QVERIFY(dialog->isVisible());
            delete dialog;
            return;
        }
        QTRY_VERIFY(dialog.isNull());
    }
};

QTEST_MAIN(ShellDialogsTest)
#include "tst_dialogs.moc"
