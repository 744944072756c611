#include "TransferText.h"

#include <algorithm>

#include "GeneralFunctions.h"

namespace TransferText {
QString TimeLeft(long long seconds)
{
    QString text = QString("%1s").arg(seconds % 60);
    if (seconds > 59)
        text.prepend(QString("%1m:").arg((seconds / 60) % 60));
    if (seconds > 3599)
        text.prepend(QString("%1h:").arg(seconds / 3600));
    return "   " + text;
}

QString TimeLeft(long long remaining, long long bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return QString();
    return TimeLeft(std::max(0LL, remaining) / bytesPerSecond);
}

double Percent(long long done, long long size, bool complete)
{
    if (size <= 0)
        return complete ? 100.0 : 0.0;
    return std::clamp(static_cast<double>(done) * 100.0 / static_cast<double>(size), 0.0, 100.0);
}

QString Progress(long long done, double percent)
{
    // The shared number format leaves 0 blank, which would read as a missing figure here.
    const QString bytes = done == 0 ? QString("0") : CommafyNumber(done);
    return QString("%1 (%2%)").arg(bytes).arg(percent, 0, 'f', 1);
}

QString Speed(long long bytesPerSecond)
{
    return QString("%1").arg(static_cast<double>(bytesPerSecond) / 1024.0, 0, 'f', 1);
}
} // namespace TransferText
