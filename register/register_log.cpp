// The pipeline's log: one timestamped line per event, appended to "log_KOV.txt" in
// the working directory. Best effort: a log that cannot be opened loses the line.

#include "register/mivo_register_manager.h"

#include <QDateTime>

#include <cstdio>

QString CMivoRegisterManager::CurrentTimestamp() {
    return QDateTime::currentDateTime()
        .toString(QStringLiteral("yyyy-MM-dd hh_mm_ss.zzz"))
        .replace(QLatin1Char(' '), QLatin1Char('_'));
}

void CMivoRegisterManager::AppendLogLine(QString message) {
    const QByteArray line = (CurrentTimestamp() + QStringLiteral(" >> ") + message).toLocal8Bit();
    // Opened and closed for every line, so that the log is complete whenever it is read.
    std::FILE* file = std::fopen("log_KOV.txt", "a+");
    if (!file) return;
    std::fprintf(file, "%s\n", line.constData());
    std::fclose(file);
}
