#include <list>
#include <memory>
#include <utility>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTextLayout>
#include <QtTest>

#include "ActionSetToolBar.h"
#include "ChatLogForm.h"
#include "FakeCentralServer.h"
#include "MainWindowRun.h"
#include "RoomViews.h"
#include "RoomWallForm.h"
#include "ui_ChatLogForm.h"
#include "ui_RoomWallForm.h"

namespace {
using ServerBytes::Fields;
using Ticker = std::pair<QString, QString>;

QByteArray Tickers(const std::list<Ticker>& tickers)
{
    QByteArray fields = Fields(QString("hall"), qint32(tickers.size()));
    for (const Ticker& ticker : tickers)
        fields += Fields(ticker.first, ticker.second);
    return fields;
}

QString Row(const char* colour, const QString& text, const QString& user)
{
    return QString("<tr width=\"%100\"><td bgcolor=#%1><b><big>%2</big></b><font "
                   "color=\"#0033ff\"> -%3</font></td></tr>")
        .arg(colour, text, user);
}
} // namespace

class WallAndLogTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    std::unique_ptr<RoomWallForm> wall;

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
        wall = std::make_unique<RoomWallForm>("hall");
    }

    void cleanupTestCase()
    {
        wall.reset();
        run.reset();
    }

    void wallShowsTickersNewestFirstEscaped()
    {
        run->Server().SendRaw(
            ServerBytes::Message(113, Tickers({{"ann", "x<y"}, {"bob", "second"}})));
        QTRY_VERIFY(wall->Form()->textBrowser->toPlainText().contains("x<y"));
        QCOMPARE(wall->TableHtml(), "<table>" + Row("ffffff", "second", "bob") +
                                        Row("d3d3d3", "x&lt;y", "ann") + "</table>");

        run->Server().Send(114, QString("hall"), QString("<i>eve"), QString("mine"));
        QTRY_VERIFY(wall->Form()->textBrowser->toPlainText().contains("-<i>eve"));
    }

    void wallRedrawsWhenTickersGo()
    {
        run->Server().SendRaw(ServerBytes::Message(113, Tickers({})));
        QTRY_COMPARE(wall->Form()->textBrowser->toPlainText().trimmed(), QString());
    }

    void enteringTextSetsTheTicker()
    {
        run->Server().ClearMessages();
        wall->Form()->lineEdit->setText("  hello ");
        QTest::keyClick(wall->Form()->lineEdit, Qt::Key_Return);
        QVERIFY(run->Server().WaitForCode(116));
        QCOMPARE(run->Server().MessagesWithCode(116).first().fields,
                 Fields(QString("hall"), QString("hello")));
        QVERIFY(wall->Form()->lineEdit->text().isEmpty());
    }

    // A long line wraps with its rest indented, loaded or added live: no piece of a message
    // starts at the left edge where the log's own lines start.
    void logViewerIndentsWrappedParts()
    {
        const QString path = run->Home() + "/wrap.log";
        const QByteArray line = "[Dec 1 1:00:00 am][ann] " + QByteArray(40, 'w').replace('w', "a ");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(line + "\n");
        file.close();
        ChatLogForm viewer(path);
        viewer.AddLine(QString::fromUtf8(line));
        viewer.resize(200, 300);
        viewer.show();
        QTextDocument* document = viewer.Form()->logEdit->document();
        QCOMPARE(document->blockCount(), 2);
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        {
            QTRY_VERIFY(block.layout()->lineCount() > 1);
            QVERIFY(block.layout()->lineAt(1).x() > block.layout()->lineAt(0).x());
        }
    }

    void logViewerSearchesPlainTextAndClears()
    {
        const QString path = run->Home() + "/test.log";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("alpha one\n<img src=\"http://peer/x\">beta\nALPHA two\n");
        file.close();
        ChatLogForm viewer(path);
        Ui_ChatLogForm* ui = viewer.Form();
        QVERIFY(ui->logEdit->toPlainText().contains("<img src=\"http://peer/x\">beta"));

        ui->searchEdit->setText("alpha");
        QCOMPARE(ui->logEdit->extraSelections().size(), 1);
        QCOMPARE(ui->logEdit->extraSelections().first().cursor.selectionStart(), 0);
        QCOMPARE(ui->searchBackButton->isEnabled(), false);
        QCOMPARE(ui->searchForwardButton->isEnabled(), true);
        ui->searchForwardButton->click();
        QVERIFY(ui->logEdit->extraSelections().first().cursor.selectedText() == "ALPHA");
        QCOMPARE(ui->searchForwardButton->isEnabled(), false);
        QCOMPARE(ui->searchBackButton->isEnabled(), true);
        ui->searchBackButton->click();
        QCOMPARE(ui->logEdit->extraSelections().first().cursor.selectionStart(), 0);
        ui->searchEdit->clear();
        QCOMPARE(ui->logEdit->extraSelections().size(), 0);

        run->boxAnswer = QMessageBox::Yes;
        emit actionBar->ActionTriggered(&viewer, "clear_chat_log");
        run->boxAnswer = 0;
        QVERIFY(!QFile::exists(path));
        QCOMPARE(ui->logEdit->toPlainText(), QString());
    }
};

QTEST_MAIN(WallAndLogTest)
#include "tst_wall_and_log.moc"
