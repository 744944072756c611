#include "ExtendedAsciiTranslator.h"

#include <cstring>

#include <QTextCodec>

#include "Data.h"
#include "Settings.h"

ExtendedAsciiTranslator* extendedAsciiTranslator = nullptr;

namespace {
const char* const codePageKey = "extended_ascii_codepage";
}

ExtendedAsciiTranslator::ExtendedAsciiTranslator()
{
    extendedAsciiTranslator = this;
    auto* root = new PathNode(ItemPtr(d.GetType(Settings::global)->GetItem(codePageKey)));
    new PathNode(root, Settings::value, PathOnConnect);
    d.AddPathHandler(root, this, &ExtendedAsciiTranslator::OnCodePageChanges);
}

ExtendedAsciiTranslator::~ExtendedAsciiTranslator()
{
    if (extendedAsciiTranslator == this)
        extendedAsciiTranslator = nullptr;
}

void ExtendedAsciiTranslator::SetCodePage(const std::string& name)
{
    Settings::Set(codePageKey, name);
}

void ExtendedAsciiTranslator::OnCodePageChanges(ItemPtr key)
{
    const std::string name = key[Settings::value].AsStdString();
    // An unknown name gives no codec, which reads as no code page.
    codec = name.empty() ? nullptr : QTextCodec::codecForName(name.c_str());
}

QString ExtendedAsciiTranslator::Translate(const std::string& bytes) const
{
    if (!codec)
        return QString::fromLatin1(bytes.c_str());
    return codec->toUnicode(bytes.c_str());
}

QString ToQString(const std::string& bytes)
{
    const QString decoded = QString::fromUtf8(bytes.c_str());
    const QByteArray reencoded = decoded.toUtf8();
    if (static_cast<size_t>(reencoded.size()) == bytes.size() &&
        std::memcmp(reencoded.constData(), bytes.data(), bytes.size()) == 0)
        return decoded;
    if (extendedAsciiTranslator)
        return extendedAsciiTranslator->Translate(bytes);
    return QString::fromLatin1(bytes.c_str());
}
