#pragma once

#include <QDateTime>
#include <QString>

// What the room tabs and the private chat tabs share: the HTML pieces of a chat line, the
// times written in them, and the log files they append to.
namespace ChatText {
enum class LogKind
{
    Room,
    User
};

// Times always read alike ("Dec 5 7:04:09 pm"), whatever the desktop's language.
QString ShortTime(const QDateTime& time);
QString LongTime(const QDateTime& time);

// The time stamp, sender and status pieces of a chat paragraph, in the chat colours.
QString TimeStampPiece(const QString& time);
QString SenderPiece(const QString& sender);
QString StatusPiece(const QString& message);
// The rest of an action line ("/me waves" gives "waves"), or a null string for an ordinary
// line.
QString ActionOf(const QString& trimmedText);

// A room or user name as a file name that stays inside its folder.
QString LogFileName(const QString& name);
QString LogFolder(LogKind kind);
QString LogPath(LogKind kind, const QString& name);
// The text with every character that a viewer would break a line at turned into a blank, so
// that a message cannot forge another line.
QString OneLine(QString text);
// Appends the line, on one line, to the name's log when logging of that kind is on; returns
// whether it is.
bool AppendToLog(LogKind kind, const QString& name, const QString& line);
} // namespace ChatText
