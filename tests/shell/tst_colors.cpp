#include <QApplication>
#include <QColorDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "ColorSelectionDialog.h"
#include "Data.h"
#include "DataSaver.h"
#include "DefaultSettings.h"
#include "Settings.h"
#include "ShellGlobals.h"

namespace {
const QColor chosen(171, 205, 239);
const QString chosenText = "#abcdef";

QColor SwatchColour(QWidget* dialog, const QString& row)
{
    return dialog->findChild<QLineEdit*>(row + "Color")->palette().color(QPalette::Base);
}

QStringList Keys()
{
    QStringList keys;
    for (const auto& colour : DefaultSettings::PaletteColours())
        keys << colour.key;
    for (const auto& colour : DefaultSettings::FixedColours())
        keys << colour.key;
    return keys;
}

QStringList ColourTexts()
{
    QStringList texts;
    for (const QString& key : Keys())
        texts << Settings::GetText(key.toUtf8().constData());
    return texts;
}
} // namespace

// The colour dialog on a store holding the colour defaults, as the main window leaves it.
class ColorsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        new DataSaver;
        Settings::DeclareTypes(d);
        defaultPalette = QApplication::palette();
        // Stands in for the user at the colour picker.
        connect(&answering, &QTimer::timeout, this, [this] {
            if (auto* picker = qobject_cast<QColorDialog*>(QApplication::activeModalWidget()))
            {
                picker->setCurrentColor(chosen);
                pickerAccepts ? picker->accept() : picker->reject();
            }
        });
        answering.start(20);
    }

    void cleanupTestCase() { delete dataSaver; }

    void init()
    {
        d.RemoveAllItems();
        QApplication::setPalette(defaultPalette);
        DefaultSettings::WriteColoursAndLogs(defaultPalette);
        pickerAccepts = true;
    }

    void savesTheChosenColourOfEachRow_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("role"); // -1: not a palette colour
        QTest::newRow("window background") << "windowBackground"
                                           << "color_window_background" << int(QPalette::Window);
        QTest::newRow("window text") << "windowText"
                                     << "color_window_text" << int(QPalette::WindowText);
        QTest::newRow("input background") << "inputBackground"
                                          << "color_input_background" << int(QPalette::Base);
        QTest::newRow("input text") << "inputText"
                                    << "color_input_text" << int(QPalette::Text);
        QTest::newRow("button background") << "buttonBackground"
                                           << "color_button_background" << int(QPalette::Button);
        QTest::newRow("button text") << "buttonText"
                                     << "color_button_text" << int(QPalette::ButtonText);
        QTest::newRow("user names") << "chatUsername"
                                    << "color_chat_username" << -1;
        QTest::newRow("timestamps") << "chatTimestamp"
                                    << "color_chat_timestamp" << -1;
        QTest::newRow("status") << "chatStatus"
                                << "color_chat_status" << -1;
        QTest::newRow("queued") << "transferQueued"
                                << "color_transfer_queued" << -1;
        QTest::newRow("in progress") << "transferInProgress"
                                     << "color_transfer_in_progress" << -1;
        QTest::newRow("complete") << "transferComplete"
                                  << "color_transfer_complete" << -1;
        QTest::newRow("failed") << "transferFailed"
                                << "color_transfer_failed" << -1;
        QTest::newRow("other") << "transferOther"
                               << "color_transfer_other" << -1;
    }

    void savesTheChosenColourOfEachRow()
    {
        QFETCH(QString, row);
        QFETCH(QString, key);
        QFETCH(int, role);
        const QStringList before = ColourTexts();
        QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
        dialog->show();

        // A cancelled picker leaves the row alone; a chosen colour shows at once.
        pickerAccepts = false;
        dialog->findChild<QPushButton*>(row + "Button")->click();
        QVERIFY(SwatchColour(dialog, row) != chosen);
        pickerAccepts = true;
        dialog->findChild<QPushButton*>(row + "Button")->click();
        QCOMPARE(SwatchColour(dialog, row), chosen);
        // Nothing is stored before "Save Colors".
        QCOMPARE(ColourTexts(), before);

        dialog->findChild<QPushButton*>("saveColorsButton")->click();
        QTRY_VERIFY(dialog.isNull());
        QStringList expected = before;
        expected[Keys().indexOf(key)] = chosenText;
        QCOMPARE(ColourTexts(), expected);
        if (role < 0)
            return;
        const auto paletteRole = QPalette::ColorRole(role);
        QCOMPARE(QApplication::palette().color(QPalette::Active, paletteRole), chosen);
        QCOMPARE(QApplication::palette().color(QPalette::Disabled, paletteRole), chosen);
    }

    void resetThenCloseChangesNothing()
    {
        for (const QString& key : Keys())
            Settings::Set(key.toUtf8().constData(), QString("#123456"));
        QApplication::setPalette(DefaultSettings::SavedPalette(defaultPalette));
        const QStringList texts = ColourTexts();
        const QPalette palette = QApplication::palette();

        QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
        dialog->show();
        QCOMPARE(SwatchColour(dialog, "transferFailed").name(), QString("#123456"));
        dialog->findChild<QPushButton*>("resetToDefaultsButton")->click();
        // Back to the style's palette and the fixed colours, not to what was saved.
        QCOMPARE(SwatchColour(dialog, "windowBackground"), defaultPalette.color(QPalette::Window));
        QCOMPARE(SwatchColour(dialog, "transferFailed").name(), QString("#ff0a47"));
        dialog->close();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(ColourTexts(), texts);
        QCOMPARE(QApplication::palette().color(QPalette::Window), palette.color(QPalette::Window));
    }

    void savedColoursReachThePaletteAtTheNextStart()
    {
        auto* dialog = new ColorSelectionDialog;
        dialog->show();
        dialog->findChild<QPushButton*>("buttonTextButton")->click();
        dialog->findChild<QPushButton*>("saveColorsButton")->click();
        QTemporaryDir home;
        const QString prefix = home.filePath(".Vandrell");
        dataSaver->Save(prefix);

        // A new run: the style's palette, the defaults written, then the saved store loaded.
        d.RemoveAllItems();
        QApplication::setPalette(defaultPalette);
        DefaultSettings::WriteColoursAndLogs(defaultPalette);
        dataSaver->Load(prefix);
        const QPalette started = DefaultSettings::SavedPalette(defaultPalette);
        QCOMPARE(started.color(QPalette::ButtonText), chosen);
        QCOMPARE(started.color(QPalette::Window), defaultPalette.color(QPalette::Window));
    }

private:
    QTimer answering;
    bool pickerAccepts = true;
};

QTEST_MAIN(ColorsTest)
#include "tst_colors.moc"
