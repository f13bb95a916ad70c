// Comms log routines for the component and its worker threads.
#pragma once

#include <windows.h>

// The system's text for Code as a LocalAlloc block (the caller frees it with
// LocalFree), a fallback text when the system has none, or null.
char* FormatLastError(DWORD Code);

// Writes Text as one line when a log name is set. On a worker thread a line
// that cannot be written is dropped; on any other thread it raises
// comm32::EInOutError.
void WriteCommsLog(const char* Text);

// Writes Prefix (may be null) and the system's text for Code as one line.
void LogLastError(DWORD Code, const char* Prefix);

// Marks the calling thread as a worker thread of the component.
void MarkCommsLogWorkerThread();
