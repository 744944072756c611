#include <memory>

#include <QTemporaryDir>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "ServerTypes.h"
#include "WindowTypes.h"

namespace {
ItemPtr NewItem(const QString& type, const QString& value)
{
    Type* itemType = d.GetType(type.toStdString());
    return itemType->isNull ? itemType->NewItem() : itemType->GetItem(Value(value));
}
} // namespace

class WindowTypesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    std::unique_ptr<DataSaver> saver;

private slots:
    void initTestCase()
    {
        saver = std::make_unique<DataSaver>();
        // Declared by the server connection before the window's own types.
        d.NewType(ServerTypes::user, PrimacyRoot, false, true);
        d.NewType(ServerTypes::room, PrimacyRoot, false, true);
        WindowTypes::DeclareWishListAndNotes();
        WindowTypes::DeclareUserChatWidget();
        WindowTypes::DeclareChatLogForm();
    }

    // Whether an item keeps its first partner when given a second one of the other type.
    void partnersPerItem_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QString>("partner");
        QTest::addColumn<bool>("holdsMany");
        QTest::newRow("user has one note") << "user"
                                           << "user_note" << false;
        QTest::newRow("note has many users") << "user_note"
                                             << "user" << true;
        QTest::newRow("wish has one mark") << "wish_list_item"
                                           << "wish_list_item_enabled" << false;
        QTest::newRow("mark has many wishes") << "wish_list_item_enabled"
                                              << "wish_list_item" << true;
        QTest::newRow("user has one chat tab") << "user"
                                               << "user_chat_widget" << false;
        QTest::newRow("chat tab has one user") << "user_chat_widget"
                                               << "user" << false;
        QTest::newRow("log has one room") << "chat_log_form"
                                          << "room" << false;
        QTest::newRow("room has one log") << "room"
                                          << "chat_log_form" << false;
        QTest::newRow("log has one user") << "chat_log_form"
                                          << "user" << false;
        QTest::newRow("user has one log") << "user"
                                          << "chat_log_form" << false;
    }

    void partnersPerItem()
    {
        QFETCH(QString, holder);
        QFETCH(QString, partner);
        const ItemPtr item = NewItem(holder, "h-" + QString(QTest::currentDataTag()));
        const ItemPtr first = item += NewItem(partner, "p1-" + QString(QTest::currentDataTag()));
        item += NewItem(partner, "p2-" + QString(QTest::currentDataTag()));
        QTEST(item.IsConnected(first), "holdsMany");
    }

    void wishesAndNotesSurviveSaveAndLoad()
    {
        NewItem("wish_list_item", "jazz") +=
            d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
        NewItem("user", "bob") += NewItem("user_note", "lends records");
        NewItem("user", "carl");
        NewItem("user", "bob") += NewItem("user_chat_widget", "4096");
        saver->Save(folder.filePath("saved"));
        for (const char* type : {"wish_list_item", "wish_list_item_enabled", "user_note", "user",
                                 "user_chat_widget", "chat_log_form", "room"})
            d.GetType(type)->GetItems().Remove();
        saver->Load(folder.filePath("saved"));
        const ItemPtr wish = d.GetType("wish_list_item")->HasItem("jazz");
        QVERIFY(wish.IsConnected("wish_list_item_enabled"));
        QCOMPARE(ItemPtr(d.GetType("user")->HasItem("bob"))["user_note"].AsString(),
                 QString("lends records"));
        QVERIFY(!d.GetType("user")->HasItem("carl"));
        QCOMPARE(d.GetType("user_chat_widget")->ItemCount(), size_t(0));
    }
};

QTEST_GUILESS_MAIN(WindowTypesTest)
#include "tst_window_types.moc"
