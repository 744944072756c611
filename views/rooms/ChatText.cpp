#include "ChatText.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include "GeneralFunctions.h"
#include "Settings.h"

namespace ChatText {
namespace {
QString Coloured(const char* colourKey, const QString& text)
{
    return QString("<font color=\"%1\">%2</font>").arg(Settings::GetText(colourKey), text);
}
} // namespace

QString ShortTime(const QDateTime& time)
{
    return QLocale::c().toString(time, QStringLiteral("h:mm:ss"));
}

QString LongTime(const QDateTime& time)
{
    return QLocale::c().toString(time, QStringLiteral("MMM d h:mm:ss ap"));
}

QString TimeStampPiece(const QString& time)
{
    return "[" + Coloured("color_chat_timestamp", time) + "]";
}

QString SenderPiece(const QString& sender)
{
    return "[" + Coloured("color_chat_username", EscapeHTML(sender)) + "] ";
}

QString StatusPiece(const QString& message)
{
    return "* " + Coloured("color_chat_status", EscapeHTML(message));
}

QString ActionOf(const QString& trimmedText)
{
    if (!trimmedText.startsWith(QLatin1String("/me ")))
        return QString();
    QString action = trimmedText.mid(4).trimmed();
    // Not null even when empty, so that the caller can tell it from an ordinary line.
    return action.isNull() ? QString("") : action;
}

QString LogFileName(const QString& name)
{
    QString file = name;
    file.remove(QChar(0));
    file.replace(QChar('/'), QChar('_'));
    file.replace(QChar('\\'), QChar('_'));
    if (file.isEmpty() || file == "." || file == "..")
        file.prepend('_');
    return file;
}

QString LogFolder(LogKind kind)
{
    return QDir::homePath() +
           (kind == LogKind::Room ? "/Vandrell Chat Logs/Rooms/" : "/Vandrell Chat Logs/Users/");
}

QString LogPath(LogKind kind, const QString& name)
{
    return LogFolder(kind) + LogFileName(name) + ".log";
}

QString OneLine(QString text)
{
    // Besides CR and LF, the text views break at the Unicode line and paragraph separators,
    // NEL, vertical tab and form feed.
    static const QChar breaks[] = {QChar('\r'),
                                   QChar('\n'),
                                   QChar('\v'),
                                   QChar('\f'),
                                   QChar(0x0085),
                                   QChar::LineSeparator,
                                   QChar::ParagraphSeparator};
    for (QChar lineBreak : breaks)
        text.replace(lineBreak, QChar(' '));
    return text;
}

bool AppendToLog(LogKind kind, const QString& name, const QString& line)
{
    if (!Settings::IsYes(kind == LogKind::Room ? "log_room_chat" : "log_private_chat"))
        return false;
    QDir().mkpath(LogFolder(kind));
    QFile file(LogPath(kind, name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(OneLine(line).toUtf8() + '\n');
    return true;
}
} // namespace ChatText
