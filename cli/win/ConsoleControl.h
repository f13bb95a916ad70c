// The console control handler of the program on Win32.
#pragma once

#include <windows.h>

// Closing the console window, logging off or shutting down ends the process
// about 5 s after the handler is called (HandlerRoutine callback function,
// https://learn.microsoft.com/en-us/windows/console/handlerroutine), or as
// soon as it returns. The handler waits this long at most for the run to end.
constexpr DWORD kConsoleCloseGraceMs = 4000;

// Ctrl+C and Ctrl+Break end the run; the close, log-off and shut-down events
// end it too, and return only once it has ended (or kConsoleCloseGraceMs has
// passed). Installed by TEventLoop::CatchInterrupts.
BOOL WINAPI OnConsoleControl(DWORD type);
