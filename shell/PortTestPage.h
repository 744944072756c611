#pragma once

#include <QUrl>

class QString;

// The web page that tells whether the given listening port can be reached from outside.
QUrl PortTestPage(const QString& port);
