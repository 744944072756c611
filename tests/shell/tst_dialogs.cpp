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
const char* const keys[] = {"username", "password", "listening_port", "new_listening_port"};
// The values of the keys as init() stores them.
const QStringList unchanged{"old", "pw", "2234", "3000"};

QStringList Stored()
{
    QStringList values;
    for (const char* key : keys)
        values << Settings::GetText(key);
    return values;
}

// Presses the button and answers each message box that this opens, returning their titles.
QStringList Press(QDialog* dialog, QDialogButtonBox::StandardButton which)
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
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(which)->click();
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
        for (int key = 0; key < unchanged.size(); ++key)
            Settings::Set(keys[key], unchanged[key]);
    }

    void okStoresTrimmedValuesOrRefuses_data()
    {
        QTest::addColumn<QStringList>("typed"); // name and password, or the port alone
        QTest::addColumn<QString>("box");       // title of the message box OK opens
        QTest::addColumn<QStringList>("stored");
        const QString invalid = "Invalid Port Number";
        const QString pending = "Change to Listening Port Pending";
        QTest::newRow("trimmed, inner blanks kept")
            << QStringList{" \tal ice  ", "  pa ss\t"} << QString()
            << QStringList{"al ice", "pa ss", "2234", "3000"};
        QTest::newRow("blank name") << QStringList{"   ", "secret"} << QString() << unchanged;
        QTest::newRow("blank password") << QStringList{"bob", " \t "} << QString() << unchanged;
        QTest::newRow("empty port") << QStringList{""} << invalid << unchanged;
        QTest::newRow("port above range") << QStringList{"65536"} << invalid << unchanged;
        QTest::newRow("current port")
            << QStringList{"2234"} << "Port Number Not Changed" << unchanged;
        QTest::newRow("top of range")
            << QStringList{"65535"} << pending << QStringList{"old", "pw", "2234", "65535"};
        // The mask keeps the first place for 1 to 9, so the typed zero lands behind it.
        QTest::newRow("leading zero not stored")
            << QStringList{"08080"} << pending << QStringList{"old", "pw", "2234", "808"};
    }

    void okStoresTrimmedValuesOrRefuses()
    {
        QFETCH(QStringList, typed);
        QFETCH(QString, box);
        QFETCH(QStringList, stored);
        const bool portDialog = typed.size() == 1;
        // Shown modeless, with no caller waiting on it.
        QPointer<QDialog> dialog = portDialog ? static_cast<QDialog*>(new ChangeListeningPortDialog)
                                              : new ChangeUsernamePasswordDialog(false);
        dialog->show();
        const QStringList edits =
            portDialog ? QStringList{"portEdit"} : QStringList{"usernameEdit", "passwordEdit"};
        for (int field = 0; field < typed.size(); ++field)
        {
            auto* edit = dialog->findChild<QLineEdit*>(edits[field]);
            QCOMPARE(edit->text(), unchanged[portDialog ? 2 : field]);
            edit->setText(typed[field]);
        }
        QCOMPARE(Press(dialog, QDialogButtonBox::Ok),
                 box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(Stored(), stored);
        // A refused dialog stays open until cancelled; either way it frees itself.
        if (stored == unchanged)
        {
            QVERIFY(dialog->isVisible());
            Press(dialog, QDialogButtonBox::Cancel);
            QCOMPARE(Stored(), unchanged);
        }
        QTRY_VERIFY(dialog.isNull());
    }

    void firstRunDialogOnTheStackBelongsToItsCaller()
    {
        for (bool confirm : {true, false})
        {
            Settings::Clear("username");
            ChangeUsernamePasswordDialog dialog(true);
            QCOMPARE(dialog.windowTitle(), QString("Set Username/Password"));
            dialog.findChild<QLineEdit*>("usernameEdit")->setText(" carol ");
            QTimer::singleShot(0, &dialog, [&] {
                Press(&dialog, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
            });
            QCOMPARE(dialog.exec(), confirm ? int(QDialog::Accepted) : int(QDialog::Rejected));
            QCOMPARE(Settings::GetText("username"), confirm ? QString("carol") : QString());
            // A pending self-deletion would free this stack object here.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
};

QTEST_MAIN(ShellDialogsTest)
#include "tst_dialogs.moc"
