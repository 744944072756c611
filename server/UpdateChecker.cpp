#include "UpdateChecker.h"

#include <QBuffer>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "Server.h"
#include "Settings.h"

namespace {
const char* const skipVersion = "skip_version";

QUrl DefaultVersionFileUrl()
{
    QUrl url;
    url.setScheme("http");
    url.setHost(UpdateChecker::updateHost);
    url.setPort(80);
    url.setPath("/qtversion.txt");
    return url;
}

// The file is 8-bit text, one character per byte; line ends of CR LF and LF both do.
QString ReadTrimmedLine(QIODevice& file)
{
    return QString::fromLatin1(file.readLine()).trimmed();
}
} // namespace

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent), client(this), versionFileUrl(DefaultVersionFileUrl())
{}

UpdateChecker::~UpdateChecker()
{
    if (reply)
    {
        reply->disconnect(this);
        reply->abort();
    }
}

void UpdateChecker::SetVersionFileUrlForTesting(const QUrl& url, int testTimeoutMs)
{
    versionFileUrl = url;
    timeoutMs = testTimeoutMs;
}

void UpdateChecker::Init()
{
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &UpdateChecker::OnConnectedToServer);
}

void UpdateChecker::OnConnectedToServer()
{
    CheckForNewVersion();
}

void UpdateChecker::CheckForNewVersion()
{
    // Every login emits Connected; only the first of a run asks, and a failure is not retried.
    if (requestSent)
        return;
    requestSent = true;
    QNetworkRequest request(versionFileUrl);
    request.setTransferTimeout(timeoutMs);
    reply = client.get(request);
    connect(reply, &QNetworkReply::finished, this, &UpdateChecker::OnRequestFinished);
    // The file is a few lines; a body past the limit is not a version file and is not kept.
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > maxVersionFileSize && reply)
            reply->abort();
    });
}

void UpdateChecker::OnRequestFinished()
{
    QNetworkReply* finished = reply;
    reply = nullptr;
    if (!finished)
        return;
    finished->deleteLater();
    // Failures, the timeout among them, end the check without a word.
    if (finished->error() != QNetworkReply::NoError ||
        finished->bytesAvailable() > maxVersionFileSize)
        return;
    QByteArray body = finished->readAll();
    QBuffer file(&body);
    file.open(QIODevice::ReadOnly);
    ReadVersionFile(file);
}

void UpdateChecker::ReadVersionFile(QIODevice& file)
{
    const qint64 version = ReadTrimmedLine(file).toLongLong(nullptr, 10);
    if (version <= Settings::GetText(skipVersion).toLongLong(nullptr, 10))
        return;
    if (version <= currentVersion)
        return;
    const QString linkStart = ReadTrimmedLine(file);
    if (linkStart.isEmpty())
        return;
    const QString fileName = ReadTrimmedLine(file);
    if (fileName.isEmpty())
        return;
    // A last line without its line feed may be a cut-off transfer: it is left out.
    QStringList description;
    while (file.canReadLine())
        description << ReadTrimmedLine(file);
    emit NewVersion(version, linkStart + "/Linux/" + fileName + ".tgz", description);
}
