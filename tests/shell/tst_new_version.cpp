#include <QDesktopServices>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

#include "Data.h"
#include "NewVersionDialog.h"
#include "Settings.h"

namespace {
const char* const schemes[] = {"http", "https", "file", "javascript", "ftp"};
} // namespace

class NewVersionTest : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser.
    void Open(const QUrl& url) { opened << url; }

private slots:
    void initTestCase()
    {
        Settings::DeclareTypes(d);
        for (const char* scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, this, "Open");
    }

    void cleanupTestCase()
    {
        for (const char* scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void init() { opened.clear(); }

    void showsBuildsAndDescriptionAsPlainText()
    {
        const QString link = "http://dl.test/<b>x</b>&amp;/Linux/y.tgz";
        const QStringList description{"<b>Bold</b> & <a href=\"http://evil\">link</a>", "",
                                      "&lt;entity&gt;"};
        NewVersionDialog dialog(20140301, link, description);
        QCOMPARE(dialog.windowTitle(), QString("VandrellQt Update"));
        QCOMPARE(dialog.findChild<QLineEdit*>("currentVersionEdit")->text(),
                 QString("Build 2/12/2013"));
        QCOMPARE(dialog.findChild<QLineEdit*>("newVersionEdit")->text(), QString("Build 3/1/2014"));
        auto* text = dialog.findChild<QTextEdit*>("descriptionEdit");
        QCOMPARE(text->toPlainText(), description.join('\n'));
        QCOMPARE(text->document()->blockCount(), 3);
        QVERIFY(text->textCursor().atStart());
        QTextDocument tip;
        tip.setHtml(dialog.findChild<QPushButton*>("downloadButton")->toolTip());
        QCOMPARE(tip.toPlainText(), link);
    }

    void opensOnlyWebLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("opens");
        QTest::newRow("http") << "http://dl.test/files/Linux/v.tgz" << true;
        QTest::newRow("https, any case") << "HTTPS://dl.test/files/Linux/v.tgz" << true;
        QTest::newRow("file") << "file:///etc/Linux/v.tgz" << false;
        QTest::newRow("javascript") << "javascript:alert(1)/Linux/v.tgz" << false;
        QTest::newRow("ftp") << "ftp://dl.test/Linux/v.tgz" << false;
        QTest::newRow("no scheme") << "dl.test/files/Linux/v.tgz" << false;
    }

    void opensOnlyWebLinks()
    {
        QFETCH(QString, link);
        QFETCH(bool, opens);
        NewVersionDialog dialog(20140301, link, {});
        QCOMPARE(dialog.findChild<QPushButton*>("downloadButton")->isEnabled(), opens);
        dialog.OnDownloadButtonClicked();
        QCOMPARE(opened, opens ? QList<QUrl>{QUrl(link)} : QList<QUrl>());
    }

    void skipStoresBuildAndCloses()
    {
        QPointer<NewVersionDialog> dialog = new NewVersionDialog(20140301, "http://a/b.tgz", {});
        dialog->show();
        dialog->findChild<QPushButton*>("skipButton")->click();
        QCOMPARE(Settings::GetText("skip_version"), QString("20140301"));
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(opened.isEmpty());
    }

private:
    QList<QUrl> opened;
};

QTEST_MAIN(NewVersionTest)
#include "tst_new_version.moc"
