// Helpers for overlapped operations on the port, for the worker threads.
#pragma once

#include <windows.h>

#include "comm32/CommLogic.h"

namespace comm32 {

// Ends an outstanding operation on ov and waits until the system no longer
// uses ov; returns the byte count the operation reported. The wait has no
// limit (ov lives on the caller's stack): drivers need not honour a cancel
// (Microsoft docs: Canceling Pending I/O Operations), and one that never
// gives the operation back keeps the thread here; ClosePort leaves it behind.
DWORD CancelAndCollect(HANDLE file, OVERLAPPED& ov);

enum class TOverlappedWait { Completed, Failed, Stopped };

// Waits for the operation on ov or the stop event. Completed: count set.
// Failed: last error set. Stopped: the operation was ended and collected,
// count holds what it reported.
TOverlappedWait WaitOverlapped(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& count);

// True when the process runs under Wine (ntdll exports wine_get_version).
bool UnderWine();

// Wine 8 serves each pending WaitCommEvent with a helper thread that ends
// without the loader's thread detach, so its freed thread block stays in the
// loader's list of threads with TLS slots; the next load or unload of a module
// with a TLS directory (this one has one) writes through it and faults. Under
// Wine no comm-event wait is left pending: the receive threads look at the
// port themselves, every kPortPollMs, as Wine's helper thread does.
bool PortEventsPolled();
constexpr DWORD kPortPollMs = 10;

// A comm-event wait that sleeps: an overlapped WaitCommEvent on ov, also
// ended by the stop event. Returns false when stopped; mask is 0 when the
// wait ended without an event or failed. Where port events are polled, the
// port's input queue is polled instead (EV_RXCHAR only).
bool WaitPortEvent(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& mask);

// One ReadFile of up to size bytes on ov, waited for (the stop event ends the
// wait); returns the bytes read. A read that fails clears the port's error
// word, so that the next one is taken.
DWORD ReadAndWait(HANDLE file, HANDLE stop, OVERLAPPED& ov, char* buffer, DWORD size);

// One round of a blocking receive: WaitPortEvent on waitOv, then readChunk
// until a chunk yields nothing (RunChunkSeries). A wait that ended without an
// event is not renewed at once.
template <class ReadChunk>
void WaitThenReadChunks(HANDLE file, HANDLE stop, OVERLAPPED& waitOv, ReadChunk&& readChunk) {
  DWORD mask = 0;
  if (!WaitPortEvent(file, stop, waitOv, mask)) return;
  if (mask & EV_RXCHAR) {
    RunChunkSeries(readChunk);
  } else if (mask == 0) {
    WaitForSingleObject(stop, kEmptyEventPauseMs);
  }
}

// ReadFile and WriteFile of the worker threads, through the abort seam
// (TestSeams.h).
BOOL IssueRead(HANDLE file, void* buffer, DWORD size, DWORD* count, OVERLAPPED* ov);
BOOL IssueWrite(HANDLE file, const void* data, DWORD size, DWORD* count, OVERLAPPED* ov);
// WaitCommEvent of TReadThread's pending comm-event wait, through the abort
// seam and the line-error seam. injected: the line errors the seam
// made happen (the call then counts as completed with EV_ERR).
BOOL IssueWaitCommEvent(HANDLE file, DWORD* mask, OVERLAPPED* ov, DWORD& injected);

}  // namespace comm32
