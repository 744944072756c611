#include "PortTestPage.h"

#include <QString>
#include <QUrlQuery>

namespace {
const char* const portTestHost = "www.vandrell.net";
const char* const portTestPath = "/porttest.php";
} // namespace

QUrl PortTestPage(const QString& port)
{
    QUrl page;
    page.setScheme("http");
    page.setHost(portTestHost);
    page.setPath(portTestPath);
    page.setQuery(QUrlQuery{{"port", QString::number(port.toInt())}});
    return page;
}
