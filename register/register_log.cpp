// The register's log lines go through the run's log writer; the lines it loses are
// counted so that a caller can tell its user.

#include "register/mivo_register_manager.h"
#include "register/run_log.h"

QString CMivoRegisterManager::CurrentTimestamp()
{
    return LogTimestamp();
}

void CMivoRegisterManager::AppendLogLine(QString message)
{
    if (!WriteLogLine(message))
        ++lostLogLines;
}
