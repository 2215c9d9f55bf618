#pragma once

#include <QByteArray>
#include <QString>

// Writes an output file the way the counter's outputs are written: a file is replaced
// only once it is complete; a device or a pipe (/dev/stdout, /dev/null, a FIFO) is
// written to as it is, since the safe replace would put a regular file in its place.
// False when it cannot be written.
bool WriteWholeFile(const QString& path, const QByteArray& bytes);
