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

class NewVersionTest : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser; the registry forgets it when it is destroyed.
    void Open(const QUrl& url) { opened << url; }

private slots:
    void initTestCase()
    {
        Settings::DeclareTypes(d);
        for (const char* scheme : {"http", "https", "ftp"})
            QDesktopServices::setUrlHandler(scheme, this, "Open");
    }

    void showsTextPlainAndSkipsTheBuild()
    {
        const QString link = "http://dl.test/<b>x</b>&amp;/Linux/y.tgz";
        const QStringList description{"<b>Bold</b> & <a href=\"http://x\">y</a>", "", "&lt;z&gt;"};
        QPointer<NewVersionDialog> dialog = new NewVersionDialog(20140301, link, description);
        QCOMPARE(dialog->findChild<QLineEdit*>("newVersionEdit")->text(),
                 QString("Build 3/1/2014"));
        QCOMPARE(dialog->findChild<QTextEdit*>("descriptionEdit")->toPlainText(),
                 description.join('\n'));
        QTextDocument tip;
        tip.setHtml(dialog->findChild<QPushButton*>("downloadButton")->toolTip());
        QCOMPARE(tip.toPlainText(), link);

        dialog->findChild<QPushButton*>("skipButton")->click();
        QCOMPARE(Settings::GetText("skip_version"), QString("20140301"));
        QTRY_VERIFY(dialog.isNull());
    }

    void opensOnlyWebLinks()
    {
        const QStringList web{"http://dl.test/Linux/v.tgz", "HTTPS://dl.test/Linux/v.tgz"};
        for (const QString& link :
             web + QStringList{"ftp://dl.test/Linux/v.tgz", "dl.test/Linux/v.tgz"})
        {
            opened.clear();
            NewVersionDialog dialog(20140301, link, {});
            QCOMPARE(dialog.findChild<QPushButton*>("downloadButton")->isEnabled(),
                     web.contains(link));
            dialog.OnDownloadButtonClicked();
            QCOMPARE(opened, web.contains(link) ? QList<QUrl>{QUrl(link)} : QList<QUrl>());
        }
    }

private:
    QList<QUrl> opened;
};

QTEST_MAIN(NewVersionTest)
#include "tst_new_version.moc"
