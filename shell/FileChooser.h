#pragma once

#include <functional>

#include <QString>

class QWidget;

// The one way the shell asks the user for a file or a folder, so that tests can answer in
// place of the desktop's dialog.
class FileChooser
{
public:
    enum class Kind
    {
        OpenFile,
        SaveFile,
        Folder
    };

    // Gives the path chosen, or an empty text when the user cancelled.
    static QString Choose(Kind kind, QWidget* parent, const QString& caption,
                          const QString& startPath = QString(), const QString& filter = QString());

    // While set, Choose calls this instead of showing a dialog; an empty function restores the
    // dialogs.
    using Handler = std::function<QString(Kind kind, const QString& caption)>;
    static void SetHandlerForTesting(Handler handler);
};
