// The one helper that turns untrusted text (image-set names, file names from
// removable media) into a single /bin/sh word.
#pragma once

#include <QString>

// Wraps `text` in single quotes; every embedded single quote becomes '\''.
// Inside single quotes sh interprets nothing ($, `, \, ;, newlines, globs),
// so the result always reaches the command as exactly one argument, equal
// to `text`. An empty text gives '' (an empty argument, not none).
// NUL characters cannot be passed to a program at all and are dropped.
QString shellQuote(const QString &text);
