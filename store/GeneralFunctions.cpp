#include "GeneralFunctions.h"

#include <climits>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <QDateTime>
#include <QRegExp>

namespace {
const char* const kSeparators = "/\\";

bool IsSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

std::string WithoutOneTrailingSeparator(const std::string& path)
{
    if (!path.empty() && IsSeparator(path.back()))
        return path.substr(0, path.size() - 1);
    return path;
}
} // namespace

bool GetBit(unsigned int value, int position)
{
    if (position < 1 || position > int(sizeof(value) * CHAR_BIT))
        return false;
    return (value >> (position - 1)) & 1u;
}

std::string StringReplace(std::string text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

int findFirstOf(const QString& text, const QString& chars, int from)
{
    int first = -1;
    for (const QChar c : chars)
    {
        const int at = text.indexOf(c, from, Qt::CaseSensitive);
        if (at >= 0 && (first < 0 || at < first))
            first = at;
    }
    return first;
}

int findLastOf(const QString& text, const QString& chars, int from)
{
    int last = -1;
    for (const QChar c : chars)
        last = qMax(last, text.lastIndexOf(c, from, Qt::CaseSensitive));
    return last;
}

QString ReversePathname(QString path)
{
    QString reversed;
    for (;;)
    {
        while (!path.isEmpty() && IsSeparator(path.back()))
            path.chop(1);
        if (path.isEmpty())
            return reversed;
        if (!reversed.isEmpty())
            reversed += QLatin1Char('/');
        const int cut = findLastOf(path, QStringLiteral("/\\"));
        reversed += path.mid(cut + 1);
        path.truncate(qMax(cut, 0));
    }
}

QString CommafyNumber(long long number)
{
    QString text;
    for (int digits = 0; number > 0; number /= 10, ++digits)
    {
        if (digits > 0 && digits % 3 == 0)
            text.prepend(QLatin1Char(','));
        text.prepend(QLatin1Char(char('0' + number % 10)));
    }
    return text;
}

QString ConvertLinks(const QString& text)
{
    // QRegExp rather than QRegularExpression: its word boundary also treats combining marks
    // as part of a word, so an address glued to such a word stays plain text.
    static const QRegExp link(
        QStringLiteral("(\\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|])"));
    QString converted = text;
    return converted.replace(link, QStringLiteral("<a href=\"\\1\">\\1</a>"));
}

QString EscapeHTML(QString text)
{
    // & goes first so the entities added below are not escaped again.
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}

std::string GetFileExtension(const std::string& path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string extension = path.substr(dot + 1);
    // Not std::tolower: under the user's locale it would also change bytes above 127.
    for (char& c : extension)
    {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return extension;
}

std::string GetFileName(const std::string& path)
{
    const std::string shortened = WithoutOneTrailingSeparator(path);
    const auto cut = shortened.find_last_of(kSeparators);
    return cut == std::string::npos ? shortened : shortened.substr(cut + 1);
}

std::string GetFolder(const std::string& path)
{
    const std::string shortened = WithoutOneTrailingSeparator(path);
    const auto cut = shortened.find_last_of(kSeparators);
    return cut == std::string::npos ? shortened : shortened.substr(0, cut);
}

std::string GetParentFolder(const std::string& path)
{
    const auto end = path.find_last_not_of('\\');
    if (end == std::string::npos)
        return std::string();
    return GetFolder(path.substr(0, end + 1));
}

QString FormatSeconds(long seconds)
{
    const long hours = seconds / 3600;
    const long days = hours / 24;
    QString text;
    if (days != 0)
        text += QString::number(days) + QLatin1Char('d');
    if (days != 0 || hours % 24 != 0)
        text += QString::number(hours % 24) + QLatin1Char('h');
    text += QString::number(seconds / 60 % 60) + QLatin1Char('m');
    text += QString::number(seconds % 60) + QLatin1Char('s');
    return text;
}

QString CurrentLocalTimeText()
{
    static qint64 second = -1;
    static QString text;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != second)
    {
        second = now;
        text = QDateTime::fromSecsSinceEpoch(now).toString(Qt::TextDate);
    }
    return text;
}

namespace {
bool IsDirectionControl(char16_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

bool IsLineBreak(char16_t c)
{
    return c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

// The visible stand-in of a character that would break the line or turn the text around, or the
// character itself. The marks are in the common desktop fonts, which lack the control pictures.
QChar ShownCharacter(QChar character)
{
    const char16_t c = character.unicode();
    if (IsLineBreak(c))
        return QChar(0x21B5);
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || IsDirectionControl(c))
        return QChar(0xFFFD);
    return character;
}

// Moves a cut that would fall between the halves of a surrogate pair to before the pair.
int WholeCharacterCut(const QString& text, int cut)
{
    if (cut > 0 && cut < text.size() && text.at(cut).isLowSurrogate() &&
        text.at(cut - 1).isHighSurrogate())
        return cut - 1;
    return cut;
}
} // namespace

QString ShownName(const QString& name)
{
    QString shown;
    if (name.size() <= maxShownNameLength)
        shown = name;
    else
    {
        const int head = WholeCharacterCut(name, (maxShownNameLength - 1) / 2);
        const int tail = name.size() - (maxShownNameLength - 1 - head);
        const int tailStart = WholeCharacterCut(name, tail) == tail ? tail : tail + 1;
        shown = name.left(head) + QChar(0x2026) + name.mid(tailStart);
    }
    for (QChar& character : shown)
        character = ShownCharacter(character);
    return shown;
}

void ReleaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
