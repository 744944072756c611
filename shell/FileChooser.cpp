#include "FileChooser.h"

#include <QFileDialog>

namespace {
FileChooser::Handler& TestHandler()
{
    static FileChooser::Handler handler;
    return handler;
}
} // namespace

QString FileChooser::Choose(Kind kind, QWidget* parent, const QString& caption,
                            const QString& startPath, const QString& filter)
{
    if (TestHandler())
        return TestHandler()(kind, caption);
    switch (kind)
    {
    case Kind::OpenFile:
        return QFileDialog::getOpenFileName(parent, caption, startPath, filter);
    case Kind::SaveFile:
        return QFileDialog::getSaveFileName(parent, caption, startPath, filter);
    case Kind::Folder:
        return QFileDialog::getExistingDirectory(parent, caption, startPath);
    }
    return QString();
}

void FileChooser::SetHandlerForTesting(Handler handler)
{
    TestHandler() = std::move(handler);
}
