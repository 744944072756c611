#pragma once

#include <string>

#include <QString>

#include "DataHandler.h"
#include "ItemPtr.h"

class QTextCodec;

// Decodes 8-bit network text through the code page named by the setting
// extended_ascii_codepage, or as Latin-1 while none is chosen. It follows the
// setting, so loading a saved store selects the saved code page.
class ExtendedAsciiTranslator : public DataHandler
{
public:
    // Needs the settings types in the store.
    ExtendedAsciiTranslator();
    ~ExtendedAsciiTranslator() override;

    void SetCodePage(const std::string& name);
    void OnCodePageChanges(ItemPtr key);
    QString Translate(const std::string& bytes) const;

private:
    QTextCodec* codec = nullptr;
};

extern ExtendedAsciiTranslator* extendedAsciiTranslator;

// Network and stored bytes as text: UTF-8 when the bytes are valid UTF-8,
// otherwise through the chosen code page. Text after a NUL byte is dropped.
QString ToQString(const std::string& bytes);
