#include "DefaultSettings.h"

#include <QColor>

#include "Settings.h"

namespace {
struct PaletteSetting
{
    const char* key;
    QPalette::ColorRole role;
};

const PaletteSetting paletteSettings[] = {
    {"color_window_background", QPalette::Window}, {"color_window_text", QPalette::WindowText},
    {"color_input_background", QPalette::Base},    {"color_input_text", QPalette::Text},
    {"color_button_background", QPalette::Button}, {"color_button_text", QPalette::ButtonText},
};

const char* const fixedColours[][2] = {
    {"color_transfer_queued", "#3366ff"},      {"color_transfer_complete", "#006400"},
    {"color_transfer_in_progress", "#0000ff"}, {"color_transfer_failed", "#ff0a47"},
    {"color_transfer_other", "#000000"},       {"color_chat_username", "#0033ff"},
    {"color_chat_timestamp", "#0066ff"},       {"color_chat_status", "#339933"},
};
} // namespace

namespace DefaultSettings {
void WriteGeneral()
{
    Settings::Set("minimize_to_tray", "yes");
    Settings::Set("expand_new_shares", "yes");
    Settings::Set("chat_timestamps", "activity_based");
    Settings::Set("first_open_tab", "rooms");
}

void WriteColoursAndLogs(const QPalette& startPalette)
{
    for (const PaletteSetting& setting : paletteSettings)
        Settings::Set(setting.key, startPalette.color(setting.role).name());
    for (const auto& colour : fixedColours)
        Settings::Set(colour[0], colour[1]);
    Settings::Set("log_room_chat", "yes");
    Settings::Set("log_private_chat", "yes");
}

void WriteDataVersion()
{
    Settings::Set("data_version", "1");
}

QPalette SavedPalette(const QPalette& startPalette)
{
    QPalette palette = startPalette;
    for (const PaletteSetting& setting : paletteSettings)
    {
        QColor colour;
        colour.setNamedColor(Settings::GetText(setting.key));
        if (colour.isValid())
            palette.setBrush(QPalette::All, setting.role, QBrush(colour));
    }
    return palette;
}

QVector<PaletteColour> PaletteColours()
{
    QVector<PaletteColour> colours;
    for (const PaletteSetting& setting : paletteSettings)
        colours.append(PaletteColour{setting.key, setting.role});
    return colours;
}

QVector<FixedColour> FixedColours()
{
    QVector<FixedColour> colours;
    for (const auto& colour : fixedColours)
        colours.append(FixedColour{colour[0], colour[1]});
    return colours;
}
} // namespace DefaultSettings
