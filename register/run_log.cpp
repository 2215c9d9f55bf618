#include "register/run_log.h"

#include <QDateTime>

#include <cstdio>

QString LogTimestamp()
{
    return QDateTime::currentDateTime()
        .toString(QStringLiteral("yyyy-MM-dd hh_mm_ss.zzz"))
        .replace(QLatin1Char(' '), QLatin1Char('_'));
}

bool WriteLogLine(const QString& message)
{
    const QByteArray line = (LogTimestamp() + QStringLiteral(" >> ") + message).toLocal8Bit();
    // Opened and closed for every line, so that the log is complete whenever it is read.
    std::FILE* file = std::fopen("log_KOV.txt", "a+");
    if (!file)
        return false;
    // A full disk shows only when the buffered line is written out, at the latest on close.
    const bool written = std::fprintf(file, "%s\n", line.constData()) >= 0;
    return std::fclose(file) == 0 && written;
}
