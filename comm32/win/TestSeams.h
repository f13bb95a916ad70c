// Test seams of the worker threads, for what Wine cannot show: the setters
// for tests, then what the threads ask.
#pragma once

#include <windows.h>

class TCommThread;

namespace comm32 {

// Which way the receive threads wait for port events: Auto polls under Wine
// only; Pending and Polled force one way (set before OpenPort).
enum class TPortEventWaits { Auto, Pending, Polled };
void SetPortEventWaits(TPortEventWaits waits);

// Asked before each overlapped read of TReadThread and each write of
// TWriteThread; true fails that call at once with ERROR_OPERATION_ABORTED,
// as a driver does while a line error holds a port with fAbortOnError set.
enum class TPortOperation { Read, Write, CommEvent };
using TAbortSeam = bool (*)(TPortOperation operation);
void SetAbortSeam(TAbortSeam seam);

// Asked before each pending comm-event wait of TReadThread is issued; a
// non-zero result is a line error (CE_* bits) that occurred just then, as a
// device sending at another speed makes one per character.
using TLineErrorSeam = DWORD (*)();
void SetLineErrorSeam(TLineErrorSeam seam);

// Asked before each post of a worker thread to the owner's window; true
// fails it with ERROR_NOT_ENOUGH_QUOTA, as a full message queue does.
using TPostSeam = bool (*)();
void SetPostSeam(TPostSeam seam);

// Runs on each worker thread after its body has returned, before the thread
// counts as ended. A hook that blocks plays a thread held in a driver that
// never gives back a cancelled operation.
using TThreadEndSeam = void (*)(const TCommThread& thread);
void SetThreadEndSeam(TThreadEndSeam seam);

// What the worker threads ask of the seams.
TPortEventWaits PortEventWaits();
// True (last error ERROR_OPERATION_ABORTED) when the abort seam fails this
// operation.
bool AbortedBySeam(TPortOperation operation);
// The line errors the line-error seam makes happen now; 0 for none.
DWORD InjectedLineErrors();
// True when the post seam refuses this post.
bool PostRefusedBySeam();
// Runs the thread-end seam, if one is set.
void RunThreadEndSeam(const TCommThread& thread);

}  // namespace comm32
