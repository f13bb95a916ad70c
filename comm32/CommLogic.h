// Pure pieces of the serial port component: the numbers and texts that the
// Win32 code hands to the port. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "comm32/CommPort.h"

namespace comm32 {

// Comm event mask bits (the values of the platform's EV_* constants).
constexpr std::uint32_t kEvRxChar = 0x0001;
constexpr std::uint32_t kEvRxFlag = 0x0002;
constexpr std::uint32_t kEvTxEmpty = 0x0004;
constexpr std::uint32_t kEvCts = 0x0008;
constexpr std::uint32_t kEvDsr = 0x0010;
constexpr std::uint32_t kEvRlsd = 0x0020;
constexpr std::uint32_t kEvBreak = 0x0040;
constexpr std::uint32_t kEvErr = 0x0080;
constexpr std::uint32_t kEvRing = 0x0100;
constexpr std::uint32_t kEvPErr = 0x0200;
constexpr std::uint32_t kEvRx80Full = 0x0400;
constexpr std::uint32_t kEvEvent1 = 0x0800;
constexpr std::uint32_t kEvEvent2 = 0x1000;

// Line error bits reported by ClearCommError (the CE_* constants).
constexpr std::uint32_t kCeRxOver = 0x0001;
constexpr std::uint32_t kCeOverrun = 0x0002;
constexpr std::uint32_t kCeRxParity = 0x0004;
constexpr std::uint32_t kCeFrame = 0x0008;
constexpr std::uint32_t kCeBreak = 0x0010;

// The DCB flag word: the bit fields fBinary .. fAbortOnError as one word.
constexpr std::uint32_t kFBinary = 0x0001;
constexpr std::uint32_t kFParity = 0x0002;
constexpr std::uint32_t kFOutxCtsFlow = 0x0004;
constexpr std::uint32_t kFOutxDsrFlow = 0x0008;
constexpr std::uint32_t kDtrControlEnable = 0x0010;
constexpr std::uint32_t kDtrControlHandshake = 0x0020;
constexpr std::uint32_t kFDsrSensitivity = 0x0040;
constexpr std::uint32_t kFTXContinueOnXoff = 0x0080;
constexpr std::uint32_t kFOutX = 0x0100;
constexpr std::uint32_t kFInX = 0x0200;
constexpr std::uint32_t kFErrorChar = 0x0400;
constexpr std::uint32_t kFNull = 0x0800;
constexpr std::uint32_t kRtsControlEnable = 0x1000;
constexpr std::uint32_t kRtsControlHandshake = 0x2000;
constexpr std::uint32_t kRtsControlToggle = 0x3000;
constexpr std::uint32_t kFAbortOnError = 0x4000;
// What a driver that refuses the owner's flags is given: binary mode, DTR and
// RTS on, nothing else.
constexpr std::uint32_t kLineOnlyFlagWord = kFBinary | kDtrControlEnable | kRtsControlEnable;
// The flow-control characters of every DCB (DC1, DC3).
constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;

// Messages between the worker threads and the component.
constexpr unsigned kWmUser = 0x0400;
constexpr unsigned kWmCommData = kWmUser + 1;
constexpr unsigned kWmRequestHangup = kWmUser + 2;

// Port and thread parameters.
constexpr std::uint32_t kReceiveBufferSize = 22048;
constexpr std::uint32_t kChunkSize = 4000;
constexpr std::uint32_t kReadIntervalTimeoutMs = 250;
constexpr std::uint32_t kWriteTimeoutPerByteMs = 2;
constexpr std::uint32_t kThreadStopWaitMs = 10000;
// The longest a port's device may take to open (a Bluetooth port connects
// to its device in CreateFile); one that takes longer counts as a port that
// cannot be opened.
constexpr std::uint32_t kPortOpenLimitMs = 8000;
// SLevel thresholds: below kOverlappedBelow a TReadThread in overlapped
// mode, below kCommReadThreadFrom a TReadThread, else a CommReadThread.
constexpr std::uint16_t kOverlappedBelow = 10;
constexpr std::uint16_t kCommReadThreadFrom = 100;
// A comm-event wait that ends without an event (a pty under Wine ends every
// wait so) is not renewed before this pause, so it cannot become a busy loop.
constexpr std::uint32_t kEmptyEventPauseMs = 20;

// The texts of ECommsError when a worker thread cannot be created.
constexpr char kReadThreadError[] = "Unable to create Read thread";
constexpr char kWriteThreadError[] = "Unable to create Write thread";

// The DCB flag word (fBinary .. fAbortOnError) built from the set alone.
std::uint32_t DcbFlagWord(TFlags flags);

// The SetCommMask word for a set of comm events.
std::uint32_t CommEventMask(TCommEvents events);

// DCB member values for the line settings.
std::uint32_t BaudRateValue(TBaudRate rate);
std::uint8_t ParityValue(TParity parity);
std::uint8_t ByteSizeValue(TDataBits bits);
std::uint8_t StopBitsValue(TStopBits bits);

// "\\.\COMn" for the port (n up to 256); tptNone gives COM0, which no system
// has.
std::string DeviceName(TPort port);

// n for a port name "COMn" (any case, n 1 .. 256 in plain digits), else 0.
int PortNumber(const std::string& name);

// The text posted for an EV_ERR: "Comm Event: <parts>, EvtMask = <word>".
std::string CommErrorEventText(std::uint32_t errorWord);

// The number of bytes one queued-chunk read asks for.
constexpr std::uint32_t QueuedChunkLength(std::uint32_t queued) {
  return queued < kChunkSize ? queued : kChunkSize;
}

// Runs chunk reads until one yields zero bytes (that one included);
// returns the total number of bytes read.
template <class ReadChunk>
std::size_t RunChunkSeries(ReadChunk&& readChunk) {
  std::size_t total = 0;
  for (;;) {
    const std::uint32_t n = readChunk();
    if (n == 0) return total;
    total += n;
  }
}

}  // namespace comm32
