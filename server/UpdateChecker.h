#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

class QIODevice;
class QNetworkReply;

// Once per run, after the first login, fetches the version file from the update host and
// announces a build newer than this one and than the build the user chose to skip.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 currentVersion = 20130212;
    static constexpr const char* updateHost = "www.vandrell.net";
    // Without it a host that accepts the connection and never answers would keep the
    // request open for the rest of the run.
    static constexpr int defaultTimeoutMs = 30000;
    static constexpr qint64 maxVersionFileSize = 64 * 1024;

    explicit UpdateChecker(QObject* parent = nullptr);
    ~UpdateChecker() override;

    // Tests fetch the version file from a loopback fake instead of the update host.
    void SetVersionFileUrlForTesting(const QUrl& url, int timeoutMs = defaultTimeoutMs);

    // Called once, after the server connection exists.
    void Init();
    // Sends the request; later calls in the run do nothing.
    void CheckForNewVersion();

signals:
    void NewVersion(qint64 version, QString downloadLink, QStringList description);

private slots:
    void OnConnectedToServer();
    void OnRequestFinished();

private:
    void ReadVersionFile(QIODevice& file);

    QNetworkAccessManager client;
    QPointer<QNetworkReply> reply;
    bool requestSent = false;
    QUrl versionFileUrl;
    int timeoutMs = defaultTimeoutMs;
};
