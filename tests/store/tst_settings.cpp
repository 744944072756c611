#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "ExtendedAsciiTranslator.h"
#include "Log.h"
#include "Settings.h"

class StoreSettingsTest : public QObject
{
    Q_OBJECT

    DataSaver saver; // made before the types, as at start-up

private slots:
    void initTestCase()
    {
        QCOMPARE(Settings::GetText("username"), QString()); // no types yet: missing, no throw
        Settings::DeclareTypes(d);
    }

    void savesOnlyLastingSettings()
    {
        Settings::Set("volume", "eleven");
        Settings::Set("window", "run-only", Settings::runtime);
        QTemporaryDir folder;
        QVERIFY(saver.SaveAll(folder.filePath("all")));
        saver.Save(folder.filePath("saved"));
        const QStringList saved = QDir(folder.path()).entryList({"saved.*"});
        QCOMPARE(saved.size(), 1);
        QFile file(folder.filePath(saved.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.contains("volume") && bytes.contains("eleven"));
        QVERIFY(!bytes.contains("vglobal") && !bytes.contains("run-only"));
    }

    void settingHoldsOneValueSharedBetweenKeys()
    {
        Settings::Set("colour", "blue");
        Settings::Set("colour", "red");
        Settings::Set("paint", "red");
        Settings::Set("session", "yes", Settings::runtime);
        QCOMPARE(Settings::GetText("colour"), QString("red"));
        QCOMPARE(Settings::Get("paint"), Settings::Get("colour"));
        QVERIFY(Settings::IsYes("session", Settings::runtime) && !Settings::IsYes("session"));
        Settings::Clear("colour");
        QCOMPARE(Settings::GetText("colour"), QString());
        QCOMPARE(Settings::GetText("paint"), QString("red"));
    }

    void logReachesTheSinkOnlyWithDiagnosticsShown()
    {
        QStringList lines;
        SetLogSink([&lines](const QString& area, int level, const QString& text, ItemPtr) {
            lines << QString("%1/%2/%3").arg(area).arg(level).arg(text);
        });
        Log("server", 1, "hidden");
        Settings::Set("show_diagnostics", "yes");
        Log("server", 2, "shown");
        Settings::Set("show_diagnostics", "no");
        Log("server", 1, "hidden again");
        SetLogSink({});
        Settings::Set("show_diagnostics", "yes");
        Log("server", 1, "no sink");
        QCOMPARE(lines, QStringList{"server/2/shown"});
    }

    void textDecodesAsUtf8OrThroughTheCodePage_data()
    {
        QTest::addColumn<QByteArray>("codePage");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QString oUmlaut(QChar(0xF6));
        QTest::newRow("utf-8, no code page")
            << QByteArray() << QByteArray("w\xC3\xB6rd") << "w" + oUmlaut + "rd";
        QTest::newRow("utf-8 wins")
            << QByteArray("windows-1251") << QByteArray("\xC3\xB6") << oUmlaut;
        QTest::newRow("latin-1") << QByteArray() << QByteArray("\xF6") << oUmlaut;
        QTest::newRow("cyrillic") << QByteArray("windows-1251") << QByteArray("\xF6")
                                  << QString(QChar(0x446));
        QTest::newRow("mixed goes whole")
            << QByteArray("windows-1251") << QByteArray("\xC3\xB6\xE9")
            << QString::fromUtf16(u"\u0413\u00B6\u0439");
        QTest::newRow("unknown code page")
            << QByteArray("no-such-page") << QByteArray("\xF6") << oUmlaut;
        QTest::newRow("nul cuts") << QByteArray() << QByteArray("abc\0def", 7) << QString("abc");
    }

    void textDecodesAsUtf8OrThroughTheCodePage()
    {
        QFETCH(QByteArray, codePage);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        ExtendedAsciiTranslator translator;
        translator.SetCodePage(codePage.toStdString());
        QCOMPARE(ToQString(bytes.toStdString()), text);
        QCOMPARE(ItemPtr(d.GetType("global_value")->GetItem(bytes.toStdString())).AsString(), text);
        translator.SetCodePage("");
        QCOMPARE(ToQString("\xF6"), QString(QChar(0xF6)));
    }

    void translatorFollowsTheLoadedSetting()
    {
        ExtendedAsciiTranslator translator;
        // What loading a saved store does: connect the key to its saved value.
        ItemPtr(d.GetType("global")->GetItem("extended_ascii_codepage")) +=
            d.GetType("global_value")->GetItem("windows-1251");
        QCOMPARE(ToQString("\xF6"), QString(QChar(0x446)));
        translator.SetCodePage("");
    }
};

QTEST_GUILESS_MAIN(StoreSettingsTest)
#include "tst_settings.moc"
