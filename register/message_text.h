#pragma once

#include <QString>

// Messages name files, and a file name may hold any character but "/" and NUL. A
// newline in a name would start a line of its own on standard error ("[ERRO] ..."
// forged by a file name), a carriage return or a direction override would hide the
// text before it. Every message of the counter's standard error and of the window's
// status bar passes through this: line feed, carriage return and tab become \n, \r
// and \t; other control characters (C0, DEL, C1) \xNN; line and paragraph separators
// and direction controls \uNNNN. Everything else is kept.
QString EscapeControlCharacters(const QString& text);
