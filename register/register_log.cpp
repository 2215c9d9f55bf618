// The pipeline's log: one timestamped line per event, appended to "log_KOV.txt" in
// the working directory. Best effort: a log that cannot be written loses the line,
// which is counted so that a caller can tell its user.

#include "register/mivo_register_manager.h"

#include <QDateTime>

#include <cstdio>

QString CMivoRegisterManager::CurrentTimestamp()
{
    return QDateTime::currentDateTime()
        .toString(QStringLiteral("yyyy-MM-dd hh_mm_ss.zzz"))
        .replace(QLatin1Char(' '), QLatin1Char('_'));
}

void CMivoRegisterManager::AppendLogLine(QString message)
{
    const QByteArray line = (CurrentTimestamp() + QStringLiteral(" >> ") + message).toLocal8Bit();
    // Opened and closed for every line, so that the log is complete whenever it is read.
    std::FILE* file = std::fopen("log_KOV.txt", "a+");
    if (!file) {
        ++lostLogLines;
        return;
    }
    // A full disk shows only when the buffered line is written out, at the latest on close.
    const bool written = std::fprintf(file, "%s\n", line.constData()) >= 0;
    if (std::fclose(file) != 0 || !written)
        ++lostLogLines;
}
