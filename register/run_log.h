#pragma once

#include <QString>

// The pipeline's log: "log_KOV.txt" in the working directory, one line per event,
// "<timestamp> >> <message>". Best effort: a line that cannot be written is lost.

// Local time as "yyyy-MM-dd_hh_mm_ss.zzz".
QString LogTimestamp();

// Appends one line; false when it could not be written.
bool WriteLogLine(const QString& message);
