// The program's plain-text log, "/tmp/imgsmith-gui.log".
#pragma once

// Appends one printf-style record. The file is opened in mode "a+" for every
// record and closed again; a file that cannot be opened drops the record
// silently. Records from concurrent threads (install worker, back-up worker,
// GUI thread) never interleave.
void log2file(const char *format, ...) __attribute__((format(printf, 1, 2)));
