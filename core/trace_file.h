// Where a trace's log file is: the caller's name resolved against the
// documents folder or the current directory, with names that are programs,
// libraries, devices, directories, system or read-only files refused.
#ifndef KESTRELNODE9_TRACE_FILE_H
#define KESTRELNODE9_TRACE_FILE_H

#include "trace_state.h"

// Resolves fileName (null or empty: the default file) for the record.
// Returns 1 when the record now has a file; on 0 it has none.
int SetTraceFileName(TRACE_RECORD *record, const char *fileName);

#endif
