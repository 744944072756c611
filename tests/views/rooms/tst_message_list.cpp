#include <ctime>
#include <memory>

#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "FakeCentralServer.h"
#include "MainWindowRun.h"
#include "MessageListForm.h"
#include "RoomViews.h"
#include "Server.h"
#include "ui_MessageListForm.h"
#include "ui_mainwindow.h"

namespace {
// 2023-11-14 22:13:20 UTC and a minute later: before any message sent in the test.
const qint32 firstTime = 1700000000;
// 2036-07-18 13:20:00 UTC: after them.
const qint32 laterTime = 2100000000;
} // namespace

class MessageListTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    MessageListForm* form = nullptr;

    QTreeWidget* List() { return form->Form()->messageList; }

    QStringList Row(int index)
    {
        QTreeWidgetItem* row = List()->topLevelItem(index);
        if (!row)
            return {};
        return {row->text(MessageListForm::timeColumn), row->text(MessageListForm::userColumn),
                row->text(MessageListForm::messageColumn)};
    }

    void Receive(const QString& user, const QString& text, qint32 time)
    {
        static qint32 id = 100;
        run->Server().Send(22, ++id, time, user, text, quint8(1));
    }

    void CheckRows()
    {
        QFETCH(int, index);
        QFETCH(QString, user);
        QFETCH(QString, message);
        QFETCH(QString, time);
        const QStringList row = Row(index);
        QCOMPARE(row.value(MessageListForm::userColumn), user);
        QCOMPARE(row.value(MessageListForm::messageColumn), message);
        if (!time.isEmpty())
            QCOMPARE(row.value(MessageListForm::timeColumn), time);
    }

    static void RowsData()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("time");
        // ann wrote last, after alice wrote to carl, after bob wrote once.
        QTest::newRow("latest on top, later message") << 0 << "ann"
                                                      << "[ann] second"
                                                      << "Jul 18 1:20:00 pm";
        QTest::newRow("sent shows own name") << 1 << "carl"
                                             << "[alice] yo <i>" << QString();
        QTest::newRow("oldest at the bottom") << 2 << "bob"
                                              << "[bob] hey"
                                              << "Nov 14 10:14:20 pm";
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        RoomViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
        form = run->Form()->chatTab->findChild<MessageListForm*>();
        QVERIFY(form);

        Receive("ann", "first", firstTime);
        Receive("bob", "hey", firstTime + 60);
        QTRY_COMPARE(List()->topLevelItemCount(), 2);
        // Sent after bob's message, so above it, whatever the clock says.
        gp_server->SendPrivateChat("carl", "yo <i>");
        Receive("ann", "second", laterTime);
        QTRY_COMPARE(Row(0).value(MessageListForm::messageColumn), QString("[ann] second"));
    }

    void cleanupTestCase() { run.reset(); }

    void rowsShowEachUsersLatestMessage_data() { RowsData(); }
    void rowsShowEachUsersLatestMessage() { CheckRows(); }

    void everyMessageIsKeptAcrossARestart()
    {
        QTemporaryDir folder;
        const QString prefix = folder.path() + "/saved";
        QCOMPARE(List()->topLevelItemCount(), 3);
        QCOMPARE(int(g("private_message").Size()), 4);
        dataSaver->Save(prefix);

        // What a new run starts from: no messages in the store, no rows. The loader has no
        // handlers, so the window's other views are not told about this load.
        g("private_message").Remove();
        List()->clear();
        DataSaver* windowSaver = dataSaver;
        {
            DataSaver loader;
            loader.Load(prefix);
        }
        dataSaver = windowSaver;
        QCOMPARE(int(g("private_message").Size()), 4);
        form->DataLoaded();
        QCOMPARE(List()->topLevelItemCount(), 3);
    }

    void rowsComeBackInTheSameOrder_data() { RowsData(); }
    void rowsComeBackInTheSameOrder() { CheckRows(); }
};

QTEST_MAIN(MessageListTest)
#include "tst_message_list.moc"
