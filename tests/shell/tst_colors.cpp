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
        // The key is the row's name in lower case with its words joined by '_'.
        const auto add = [](QString row, int role) {
            const QString key =
                "color_" + QString(row).replace(QRegularExpression("([A-Z])"), "_\\1");
            QTest::newRow(qPrintable(row)) << row << key.toLower() << role;
        };
        add("windowBackground", QPalette::Window);
        add("windowText", QPalette::WindowText);
        add("inputBackground", QPalette::Base);
        add("inputText", QPalette::Text);
        add("buttonBackground", QPalette::Button);
        add("buttonText", QPalette::ButtonText);
        for (const char* row :
             {"chatUsername", "chatTimestamp", "chatStatus", "transferQueued", "transferInProgress",
              "transferComplete", "transferFailed", "transferOther"})
            add(row, -1);
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
