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
        Settings::Set("window", "yes", Settings::runtime);
        QVERIFY(Settings::IsYes("window", Settings::runtime) && !Settings::IsYes("window"));
        QTemporaryDir folder;
        saver.Save(folder.filePath("saved"));
        QFile file(QDir(folder.path()).entryInfoList({"saved.*"}).value(0).filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.contains("volume") && bytes.contains("eleven") && !bytes.contains("window"));
    }

    void settingHoldsOneValueSharedBetweenKeys()
    {
        Settings::Set("colour", "blue");
        Settings::Set("colour", "red");
        Settings::Set("paint", "red");
        QCOMPARE(Settings::Get("paint"), Settings::Get("colour"));
        Settings::Clear("colour");
        QCOMPARE(Settings::GetText("colour") + Settings::GetText("paint"), QString("red"));
    }

    void logReachesTheSinkOnlyWithDiagnosticsShown()
    {
        QStringList lines;
        SetLogSink([&](auto area, int level, auto text, auto) { lines << area + level + text; });
        Log("server", 2, "unset");
        for (const char* shown : {"yes", "no"})
            Settings::Set("show_diagnostics", shown), Log("server", 2, shown);
        SetLogSink({});
        Log("server", 1, "no sink");
        QCOMPARE(lines, QStringList{QString("server") + 2 + "yes"});
    }

    void textDecodesAsUtf8OrThroughTheCodePage()
    {
        const QString oUmlaut(QChar(0xF6));
        const std::tuple<const char*, QByteArray, QString> rows[] = {
            {"", "w\xC3\xB6rd", "w" + oUmlaut + "rd"},
            {"windows-1251", "\xC3\xB6", oUmlaut}, // utf-8 wins
            {"windows-1251", "\xF6", QString(QChar(0x446))},
            {"windows-1251", "\xC3\xB6\xE9", QString::fromUtf16(u"\u0413\u00B6\u0439")},
            {"no-such-page", "\xF6", oUmlaut},
            {"", QByteArray("abc\0def", 7), "abc"}};
        ExtendedAsciiTranslator translator;
        for (const auto& [page, bytes, text] : rows)
        {
            translator.SetCodePage(page);
            QCOMPARE(ToQString(bytes.toStdString()), text);
            QCOMPARE(ItemPtr(d.GetType("global_value")->GetItem(bytes.toStdString())).AsString(),
                     text);
        }
        ItemPtr(d.GetType("global")->GetItem("extended_ascii_codepage")) +=
            d.GetType("global_value")->GetItem("windows-1251");
        QCOMPARE(ToQString("\xF6"), QString(QChar(0x446))); // the key loaded with its saved value
        translator.SetCodePage("");
        QCOMPARE(ToQString("\xF6"), oUmlaut);
    }
};

QTEST_GUILESS_MAIN(StoreSettingsTest)
#include "tst_settings.moc"
