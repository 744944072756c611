#include "ColorSelectionDialog.h"

#include <QApplication>
#include <QColorDialog>

#include "DefaultSettings.h"
#include "Settings.h"
#include "ShellGlobals.h"
#include "ViewHooks.h"
#include "ui_ColorSelectionDialog.h"

namespace {
const char* const keyPrefix = "color_";

QColor SwatchColour(const QLineEdit* swatch)
{
    return swatch->palette().color(QPalette::Base);
}

void SetSwatchColour(QLineEdit* swatch, const QColor& colour)
{
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Base, colour);
    swatch->setPalette(palette);
}

QColor NamedColour(const QString& text)
{
    QColor colour;
    colour.setNamedColor(text);
    return colour;
}
} // namespace

ColorSelectionDialog::ColorSelectionDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui_ColorSelectionDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The palette rows show the colours in force, the others what the settings hold.
    const QPalette current = QApplication::palette();
    for (const DefaultSettings::PaletteColour& colour : DefaultSettings::PaletteColours())
        SetSwatchColour(Swatch(colour.key), current.color(colour.role));
    for (const DefaultSettings::FixedColour& colour : DefaultSettings::FixedColours())
        SetSwatchColour(Swatch(colour.key),
                        NamedColour(Settings::GetText(colour.key.toUtf8().constData())));
}

ColorSelectionDialog::~ColorSelectionDialog()
{
    delete ui;
}

QLineEdit* ColorSelectionDialog::Swatch(const QString& key) const
{
    // A row is named after its key: "color_transfer_in_progress" is "transferInProgressColor".
    QStringList words = key.mid(QString(keyPrefix).size()).split('_');
    for (int word = 1; word < words.size(); ++word)
        words[word][0] = words[word][0].toUpper();
    auto* swatch = findChild<QLineEdit*>(words.join(QString()) + "Color");
    Q_ASSERT(swatch);
    return swatch;
}

void ColorSelectionDialog::ChangeColour(QLineEdit* swatch)
{
    const QColor chosen = QColorDialog::getColor(SwatchColour(swatch), this);
    if (chosen.isValid())
        SetSwatchColour(swatch, chosen);
}

void ColorSelectionDialog::OnChangeWindowBackground()
{
    ChangeColour(ui->windowBackgroundColor);
}

void ColorSelectionDialog::OnChangeWindowText()
{
    ChangeColour(ui->windowTextColor);
}

void ColorSelectionDialog::OnChangeInputBackground()
{
    ChangeColour(ui->inputBackgroundColor);
}

void ColorSelectionDialog::OnChangeInputText()
{
    ChangeColour(ui->inputTextColor);
}

void ColorSelectionDialog::OnChangeButtonBackground()
{
    ChangeColour(ui->buttonBackgroundColor);
}

void ColorSelectionDialog::OnChangeButtonText()
{
    ChangeColour(ui->buttonTextColor);
}

void ColorSelectionDialog::OnSaveColors()
{
    for (const DefaultSettings::PaletteColour& colour : DefaultSettings::PaletteColours())
        Settings::Set(colour.key.toUtf8().constData(), SwatchColour(Swatch(colour.key)).name());
    for (const DefaultSettings::FixedColour& colour : DefaultSettings::FixedColours())
        Settings::Set(colour.key.toUtf8().constData(), SwatchColour(Swatch(colour.key)).name());
    // The same path as a start with these settings: every colour group gets the six colours.
    QApplication::setPalette(DefaultSettings::SavedPalette(QApplication::palette()));
    if (ViewHooks::recolorTransfers)
        ViewHooks::recolorTransfers();
    accept();
}

void ColorSelectionDialog::OnResetToDefaults()
{
    for (const DefaultSettings::PaletteColour& colour : DefaultSettings::PaletteColours())
        SetSwatchColour(Swatch(colour.key), defaultPalette.color(colour.role));
    for (const DefaultSettings::FixedColour& colour : DefaultSettings::FixedColours())
        SetSwatchColour(Swatch(colour.key), NamedColour(colour.colour));
}

void ColorSelectionDialog::OnChangeTransferComplete()
{
    ChangeColour(ui->transferCompleteColor);
}

void ColorSelectionDialog::OnChangeTransferQueued()
{
    ChangeColour(ui->transferQueuedColor);
}

void ColorSelectionDialog::OnChangeTransferInProgress()
{
    ChangeColour(ui->transferInProgressColor);
}

void ColorSelectionDialog::OnChangeTransferFailed()
{
    ChangeColour(ui->transferFailedColor);
}

void ColorSelectionDialog::OnChangeTransferOther()
{
    ChangeColour(ui->transferOtherColor);
}

void ColorSelectionDialog::OnChangeChatUsername()
{
    ChangeColour(ui->chatUsernameColor);
}

void ColorSelectionDialog::OnChangeChatTimestamp()
{
    ChangeColour(ui->chatTimestampColor);
}

void ColorSelectionDialog::OnChangeChatStatus()
{
    ChangeColour(ui->chatStatusColor);
}
