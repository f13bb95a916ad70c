#include "comm32/win/Comm32.h"

#include <array>
#include <cstring>
#include <exception>

#include "comm32/CommLogic.h"
#include "comm32/CommsLog.h"
#include "comm32/win/CommReadThread.h"
#include "comm32/win/CommsLogWin.h"
#include "comm32/win/DeviceOpen.h"
#include "comm32/win/Overlapped.h"
#include "comm32/win/ReadThread.h"
#include "comm32/win/WriteThread.h"

namespace {

// The portable part holds its own copies of <windows.h> values; each must be
// the header's.
static_assert(comm32::kEvRxChar == EV_RXCHAR && comm32::kEvRxFlag == EV_RXFLAG &&
              comm32::kEvTxEmpty == EV_TXEMPTY && comm32::kEvCts == EV_CTS &&
              comm32::kEvDsr == EV_DSR && comm32::kEvRlsd == EV_RLSD &&
              comm32::kEvBreak == EV_BREAK && comm32::kEvErr == EV_ERR &&
              comm32::kEvRing == EV_RING && comm32::kEvPErr == EV_PERR &&
              comm32::kEvRx80Full == EV_RX80FULL && comm32::kEvEvent1 == EV_EVENT1 &&
              comm32::kEvEvent2 == EV_EVENT2);
static_assert(comm32::kCeRxOver == CE_RXOVER && comm32::kCeOverrun == CE_OVERRUN &&
              comm32::kCeRxParity == CE_RXPARITY && comm32::kCeFrame == CE_FRAME &&
              comm32::kCeBreak == CE_BREAK);
static_assert(comm32::kWmUser == WM_USER && WM_COMMDATA == WM_USER + 1 &&
              WM_REQUESTHANGUP == WM_USER + 2);
// ParityValue and StopBitsValue hand the enumeration's ordinal to the DCB.
static_assert(tpNone == NOPARITY && tpOdd == ODDPARITY && tpEven == EVENPARITY &&
              tpMark == MARKPARITY);
static_assert(tsbOne == ONESTOPBIT && tsbOnePointFive == ONE5STOPBITS && tsbTwo == TWOSTOPBITS);

// The bit fields of a DCB whose flag word (the 32-bit word after BaudRate) is
// word, in the header's order.
constexpr std::array<DWORD, 14> FlagMembers(DWORD word) {
  struct TWords {
    DWORD word[sizeof(DCB) / sizeof(DWORD)];
  };
  static_assert(sizeof(TWords) == sizeof(DCB));
  TWords words{};
  words.word[offsetof(DCB, BaudRate) / sizeof(DWORD) + 1] = word;
  const DCB d = __builtin_bit_cast(DCB, words);
  return {d.fBinary,         d.fParity,           d.fOutxCtsFlow,  d.fOutxDsrFlow, d.fDtrControl,
          d.fDsrSensitivity, d.fTXContinueOnXoff, d.fOutX,         d.fInX,         d.fErrorChar,
          d.fNull,           d.fRtsControl,       d.fAbortOnError, d.fDummy2};
}
static_assert(offsetof(DCB, wReserved) == offsetof(DCB, BaudRate) + 2 * sizeof(DWORD));

// Each flag-word constant of the portable part sets one bit field (its place
// in FlagMembers) to one value, and no other bit.
constexpr bool FlagBitsMatch() {
  struct TFlagBits {
    std::uint32_t bits;
    unsigned member;
    DWORD value;
  };
  constexpr TFlagBits kFlagBits[] = {{comm32::kFBinary, 0, 1},
                                     {comm32::kFParity, 1, 1},
                                     {comm32::kFOutxCtsFlow, 2, 1},
                                     {comm32::kFOutxDsrFlow, 3, 1},
                                     {comm32::kDtrControlEnable, 4, DTR_CONTROL_ENABLE},
                                     {comm32::kDtrControlHandshake, 4, DTR_CONTROL_HANDSHAKE},
                                     {comm32::kFDsrSensitivity, 5, 1},
                                     {comm32::kFTXContinueOnXoff, 6, 1},
                                     {comm32::kFOutX, 7, 1},
                                     {comm32::kFInX, 8, 1},
                                     {comm32::kFErrorChar, 9, 1},
                                     {comm32::kFNull, 10, 1},
                                     {comm32::kRtsControlEnable, 11, RTS_CONTROL_ENABLE},
                                     {comm32::kRtsControlHandshake, 11, RTS_CONTROL_HANDSHAKE},
                                     {comm32::kRtsControlToggle, 11, RTS_CONTROL_TOGGLE},
                                     {comm32::kFAbortOnError, 12, 1}};
  for (const TFlagBits& f : kFlagBits) {
    const std::array<DWORD, 14> members = FlagMembers(f.bits);
    for (unsigned i = 0; i < members.size(); ++i) {
      if (members[i] != (i == f.member ? f.value : 0)) return false;
    }
  }
  return true;
}
static_assert(FlagBitsMatch());

const char kWindowClass[] = "TComm32Window";
// Window class registrations by live components (user-interface thread only).
int gWindowClassUsers = 0;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

// Keeps this module mapped until the process ends (user-interface thread
// only).
void PinThisModule() {
  static bool pinned = false;
  if (pinned) return;
  pinned = true;
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&PinThisModule), &module);
}

// Wine 8's serial driver serves each pending WaitCommEvent with a helper
// thread that ends without detaching from the loader, so its freed thread
// block stays in the loader's list of threads with TLS. Loading a module with
// a TLS directory (this one has one, from the MinGW runtime) walks that list
// and faults. Under Wine the module that runs a port therefore stays loaded
// for the life of the process, and a host that frees and loads the applet
// again gets the same image back without a new walk.
void KeepModuleLoadedUnderWine() {
  if (comm32::UnderWine()) PinThisModule();
}

// The port handle and the stop event of one opening, closed by the last of
// their owners: ClosePort, or a thread that it left behind.
struct TOpeningHandles {
  HANDLE file;
  HANDLE stop;
  TOpeningHandles(HANDLE f, HANDLE s) : file(f), stop(s) {}
  TOpeningHandles(const TOpeningHandles&) = delete;
  TOpeningHandles& operator=(const TOpeningHandles&) = delete;
  ~TOpeningHandles() {
    if (stop != nullptr) CloseHandle(stop);
    if (file != nullptr) CloseHandle(file);
  }
};

}  // namespace

TComm32::TComm32() {
  comm32::CommsLog().SetName("");
  const HINSTANCE module = ThisModule();
  if (gWindowClassUsers++ == 0) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &TComm32::CommWindowProc;
    wc.hInstance = module;
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
  }
  FWindowHandle =
      CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  if (FWindowHandle != nullptr) {
    SetWindowLongPtrA(FWindowHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
}

TComm32::~TComm32() {
  // The owner closes the port first; closing here too keeps threads from
  // outliving the component.
  try {
    ClosePort();
  } catch (...) {
  }
  if (FWindowHandle != nullptr) {
    DiscardReceivedData();
    SetWindowLongPtrA(FWindowHandle, GWLP_USERDATA, 0);
    DestroyWindow(FWindowHandle);
  }
  if (--gWindowClassUsers == 0) UnregisterClassA(kWindowClass, ThisModule());
}

TComm32::TReceiveKind TComm32::ReceiveKind() const {
  if (FCommReadThread) return TReceiveKind::CommRead;
  if (FReadThread)
    return FReadThread->FOverlappedMode ? TReceiveKind::Overlapped : TReceiveKind::Blocking;
  return TReceiveKind::None;
}

template <class Thread>
void TComm32::StartThread(Thread& thread, int priority) {
  thread.FCommFile = FCommFile;
  thread.FCloseEvent = FCloseEvent;
  thread.FNotifyWindow = FWindowHandle;
  thread.FOpening = FOpening;
  thread.Resume();
  thread.SetPriority(priority);
}

namespace {
// The hidden window's message for an open that has ended (wParam: its tag),
// and its timer for an open that takes too long.
constexpr UINT kWmOpenDone = WM_USER + 3;
constexpr UINT_PTR kOpenTimer = 1;
}  // namespace

comm32::TOpenSeams TComm32::OpenSeams() const {
  comm32::TOpenSeams seams;
  if (FSeams.slowPort == tptNone || FSeams.slowPort == FPort) seams.delayMs = FSeams.openDelayMs;
  seams.refuseThread = FSeams.refusedThread == TWorker::Open;
  for (TPort held : FSeams.heldPorts)
    if (held == FPort) seams.failWith = ERROR_ACCESS_DENIED;
  return seams;
}

bool TComm32::OpenPort() {
  if (FCommFile != nullptr || FPendingOpen) return false;
  FPortHeld = false;
  if (!FCommsLogFileName.empty()) comm32::CommsLog().Open(FCommsLogFileName);
  return TakeDevice(
      comm32::OpenDeviceWithin(comm32::DeviceName(FPort), comm32::kPortOpenLimitMs, OpenSeams()));
}

void TComm32::BeginOpenPort() {
  if (FCommFile != nullptr || FPendingOpen) {
    if (FOnOpenDone) FOnOpenDone(false, std::string());
    return;
  }
  FPortHeld = false;
  if (!FCommsLogFileName.empty()) comm32::CommsLog().Open(FCommsLogFileName);
  FPendingOpen = std::make_unique<comm32::TPendingOpen>(comm32::DeviceName(FPort), FWindowHandle,
                                                        kWmOpenDone, ++FOpenTag, OpenSeams());
  if (FPendingOpen->Started() && FWindowHandle != nullptr &&
      SetTimer(FWindowHandle, kOpenTimer, comm32::kPortOpenLimitMs, nullptr) != 0) {
    return;
  }
  // No thread, or no window to hear from it: the open ends here.
  FPendingOpen->Wait(comm32::kPortOpenLimitMs);
  FinishOpen();
}

// The open has ended, or taken too long: the owner hears how it went.
void TComm32::FinishOpen() {
  if (FWindowHandle != nullptr) KillTimer(FWindowHandle, kOpenTimer);
  const std::unique_ptr<comm32::TPendingOpen> pending = std::move(FPendingOpen);
  if (!pending) return;
  bool opened = false;
  std::string error;
  try {
    opened = TakeDevice(pending->Take());
  } catch (const ECommsError& e) {
    error = e.what();
  }
  if (FOnOpenDone) FOnOpenDone(opened, error);
}

bool TComm32::TakeDevice(const comm32::TDeviceOpen& device) {
  switch (device.result) {
    case comm32::TDeviceOpen::TResult::Opened:
      break;
    case comm32::TDeviceOpen::TResult::Failed:
      // Another program holds the port ("Communications Resource Handles",
      // Microsoft Learn): the owner may want to say so.
      if (device.error == ERROR_ACCESS_DENIED) {
        FPortHeld = true;
        LogLastError(device.error, "Port held by another program: ");
      }
      return false;
    case comm32::TDeviceOpen::TResult::TimedOut:
      WriteCommsLog("Port did not open in time");
      return false;
    case comm32::TDeviceOpen::TResult::NoThread:
      LogLastError(device.error, "Unable to create Open thread");
      return false;
  }
  // A handle that takes no comm calls is no serial port: under Wine a COM
  // port without a device behind it still opens. The file type does not
  // tell: some vendor and virtual port drivers report FILE_TYPE_UNKNOWN.
  DCB probe = {};
  probe.DCBlength = sizeof probe;
  if (!GetCommState(device.file, &probe)) {
    CloseHandle(device.file);
    return false;
  }
  // A thread left behind by an earlier opening keeps that opening's number.
  ++FOpening;
  FCommFile = device.file;
  KeepModuleLoadedUnderWine();
  SetUpPort();

  FCloseEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (FCloseEvent == nullptr) {
    LogLastError(GetLastError(), "Unable to CreateEvent: ");
    ReleasePort();
    return false;
  }
  try {
    StartWorkers();
  } catch (...) {
    // A failed opening gives back what it took, so the next one can succeed.
    ReleasePort();
    throw;
  }
  return true;
}

// Gives the port a DCB; false (logged) when the driver refuses it. Every DCB
// is in binary mode, the only one Windows supports, with distinct Xon and
// Xoff characters, which SetCommState requires (DCB,
// https://learn.microsoft.com/en-us/windows/win32/api/winbase/ns-winbase-dcb).
bool TComm32::GiveDcb(DCB& dcb) {
  dcb.fBinary = TRUE;
  dcb.XonChar = comm32::kXonChar;
  dcb.XoffChar = comm32::kXoffChar;
  bool accepted = false;
  if (FSeams.refusedDcbs > 0) {
    --FSeams.refusedDcbs;
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    accepted = SetCommState(FCommFile, &dcb) != 0;
  }
  if (!accepted) LogLastError(GetLastError(), "Unable to SetCommState: ");
  if (FSeams.dcbGiven) FSeams.dcbGiven(dcb, accepted);
  return accepted;
}

// Reads the DCB the port has, lets `change` fill in members and gives it back
// in one SetCommState. False when the DCB could not be read (DCBlength 0) or
// was refused (`dcb` then holds what was read); both are logged.
template <class Change>
bool TComm32::ChangeDcb(Change change, DCB& dcb) {
  dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(FCommFile, &dcb)) {
    LogLastError(GetLastError(), "Unable to GetCommState: ");
    dcb.DCBlength = 0;
    return false;
  }
  const DCB driver = dcb;
  change(dcb);
  if (GiveDcb(dcb)) return true;
  dcb = driver;
  return false;
}

// The whole configuration goes to the port in one SetCommState, on the DCB
// the driver has. A driver keeps what the previous program left (handshake,
// DTR off, abort-on-error, 5 data bits), and changed one member at a time the
// line passes through combinations the driver refuses, such as 6 to 8 data
// bits with 1.5 stop bits (SetCommState,
// https://learn.microsoft.com/en-us/windows/win32/api/winbase/nf-winbase-setcommstate).
// A refused DCB is logged and the port stays open: whether a device answers
// on it decides, and a driver that refuses a member it does not support may
// still serve the modem.
void TComm32::SetUpPort() {
  if (!SetupComm(FCommFile, FReadBufferSize, FWriteBufferSize)) {
    LogLastError(GetLastError(), "Unable to SetupComm: ");
  }
  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = comm32::kReadIntervalTimeoutMs;
  timeouts.WriteTotalTimeoutMultiplier = comm32::kWriteTimeoutPerByteMs;
  SetCommTimeouts(FCommFile, &timeouts);

  // The Xon/Xoff limits stay the driver's: the owner's apply when set while
  // the port is open.
  DCB dcb;
  if (!ChangeDcb(
          [this](DCB& d) {
            for (TCommProperty p :
                 {TCommProperty::BaudRate, TCommProperty::Parity, TCommProperty::DataBits,
                  TCommProperty::StopBits, TCommProperty::Flags}) {
              PutInDcb(d, p);
            }
          },
          dcb) &&
      dcb.DCBlength != 0) {
    // Refused as a whole (a member the driver does not support): the line
    // settings alone, DTR and RTS on, no handshake, no abort on error.
    for (TCommProperty p : {TCommProperty::BaudRate, TCommProperty::Parity, TCommProperty::DataBits,
                            TCommProperty::StopBits}) {
      PutInDcb(dcb, p);
    }
    PutFlagWord(dcb, comm32::kLineOnlyFlagWord);
    if (GiveDcb(dcb)) WriteCommsLog("Port set up with the line settings only.");
  }
  SetCommMask(FCommFile, comm32::CommEventMask(FEvents));
}

bool TComm32::CreateWorker(TCommThread& thread, TWorker which) {
  if (FSeams.refusedThread == which) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return thread.Create();
}

namespace {

[[noreturn]] void WorkerNotCreated(const char* text) {
  LogLastError(GetLastError(), text);
  throw ECommsError(text);
}

}  // namespace

void TComm32::StartWorkers() {
  if (FSLevel < comm32::kCommReadThreadFrom) {
    auto thread = std::make_unique<TReadThread>();
    if (!CreateWorker(*thread, TWorker::Read)) WorkerNotCreated(comm32::kReadThreadError);
    thread->FOverlappedMode = FSLevel < comm32::kOverlappedBelow;
    FReadThread = std::move(thread);
    StartThread(*FReadThread, THREAD_PRIORITY_HIGHEST);
  } else {
    auto thread = std::make_unique<CommReadThread>();
    if (!CreateWorker(*thread, TWorker::Read)) WorkerNotCreated(comm32::kReadThreadError);
    thread->FRunState = 1;
    FCommReadThread = std::move(thread);
    StartThread(*FCommReadThread, THREAD_PRIORITY_ABOVE_NORMAL);
  }

  auto writer = std::make_unique<TWriteThread>();
  if (writer->QueueReady() == nullptr || !CreateWorker(*writer, TWorker::Write)) {
    WorkerNotCreated(comm32::kWriteThreadError);
  }
  FWriteThread = std::move(writer);
  StartThread(*FWriteThread, THREAD_PRIORITY_HIGHEST);
  // Return only once the thread can take messages, so that a WritePort
  // right after OpenPort is not refused.
  const HANDLE ready[2] = {FWriteThread->QueueReady(), FWriteThread->Handle()};
  WaitForMultipleObjects(2, ready, FALSE, comm32::kThreadStopWaitMs);
}

template <class Thread>
void TComm32::StopThread(std::unique_ptr<Thread>& thread, const char* notExiting,
                         const std::shared_ptr<void>& handles) {
  if (thread->WaitFor(comm32::kThreadStopWaitMs) != WAIT_TIMEOUT) {
    thread.reset();
    return;
  }
  WriteCommsLog(notExiting);
  thread->Terminate();
  // A driver need not give back a cancelled operation (an adapter unplugged
  // mid-read), so the thread may never end. It is not terminated: it is left
  // to end by itself, owning its object and its share of the handles, and
  // this module stays mapped for its code.
  WriteCommsLog("Thread left to end by itself.");
  PinThisModule();
  TCommThread::Abandon(std::move(thread), handles);
}

void TComm32::CloseReadThread(const std::shared_ptr<void>& handles) {
  if (!FReadThread && !FCommReadThread) return;
  WriteCommsLog("Closing Read Thread ");
  if (FCommReadThread) FCommReadThread->FRunState = 0;
  SetEvent(FCloseEvent);
  // Clearing the mask also ends a comm-event wait of blocking mode.
  SetCommMask(FCommFile, 0);
  PurgeComm(FCommFile, PURGE_RXABORT | PURGE_RXCLEAR);
  const char notExiting[] = "Read thread not exiting.  Terminating it.";
  if (FReadThread) {
    StopThread(FReadThread, notExiting, handles);
  } else {
    StopThread(FCommReadThread, notExiting, handles);
  }
}

void TComm32::CloseWriteThread(const std::shared_ptr<void>& handles) {
  if (!FWriteThread) return;
  WriteCommsLog("Closing Write Thread");
  SetEvent(FCloseEvent);
  PurgeComm(FCommFile, PURGE_TXABORT | PURGE_TXCLEAR);
  StopThread(FWriteThread, "Write thread not exiting.  Terminating it.", handles);
}

void TComm32::ClosePort() {
  if (FPendingOpen) {
    // Abandoned: a handle that still comes is closed by the open's thread.
    KillTimer(FWindowHandle, kOpenTimer);
    FPendingOpen.reset();
  }
  if (FCommFile == nullptr) return;
  WriteCommsLog("Stopping the Comm");
  ReleasePort();
  if (!FCommsLogFileName.empty()) comm32::CommsLog().Close();
}

// Stops the threads and gives back the handles that an opening took.
void TComm32::ReleasePort() {
  {
    // Each thread is waited for at most kThreadStopWaitMs.
    const std::shared_ptr<void> handles = std::make_shared<TOpeningHandles>(FCommFile, FCloseEvent);
    CloseReadThread(handles);
    CloseWriteThread(handles);
  }
  // Blocks already posted stay queued: they reach OnReceiveData unless the
  // next opening comes first.
  FCloseEvent = nullptr;
  FCommFile = nullptr;
}

void TComm32::DiscardReceivedData() {
  // Posted messages only: a message sent by another thread must not run
  // here, in the middle of a close.
  MSG msg;
  while (
      PeekMessageA(&msg, FWindowHandle, WM_COMMDATA, WM_COMMDATA, PM_REMOVE | PM_QS_POSTMESSAGE)) {
    LocalFree(reinterpret_cast<HLOCAL>(msg.lParam));
  }
}

bool TComm32::WritePort(const void* Buffer, std::uint16_t Length) {
  if (!FWriteThread) {
    WriteCommsLog("Write thread not created");
    return false;
  }
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, Length + 1u));
  if (block == nullptr) {
    LogLastError(GetLastError(), "LocalAlloc: ");
    return false;
  }
  if (Length != 0) std::memcpy(block, Buffer, Length);
  if (FWriteThread->PostBlock(block, Length)) return true;
  WriteCommsLog("Failed to Post to Write thread. ");
  LocalFree(block);
  return false;
}

bool TComm32::PurgeInput() { return PurgeComm(FCommFile, PURGE_RXCLEAR) != 0; }

void TComm32::PropertyChanged(TCommProperty which) {
  switch (which) {
    case TCommProperty::CommsLogFileName:
      comm32::CommsLog().SetName(FCommsLogFileName);
      return;
    case TCommProperty::SLevel:
      if (FReadThread) FReadThread->FOverlappedMode = FSLevel < comm32::kOverlappedBelow;
      return;
    case TCommProperty::RxFullCount:
    case TCommProperty::TxLowCount:
      return;
    default:
      break;
  }
  if (FCommFile == nullptr) return;
  switch (which) {
    case TCommProperty::Events:
      SetCommMask(FCommFile, comm32::CommEventMask(FEvents));
      break;
    case TCommProperty::ReadBufferSize:
    case TCommProperty::WriteBufferSize:
      SetupComm(FCommFile, FReadBufferSize, FWriteBufferSize);
      break;
    default: {
      DCB dcb;
      ChangeDcb([this, which](DCB& d) { PutInDcb(d, which); }, dcb);
      break;
    }
  }
}

// Writes the DCB member that property `which` sets (nothing for others).
void TComm32::PutInDcb(DCB& d, TCommProperty which) const {
  using P = TCommProperty;
  if (which == P::BaudRate) d.BaudRate = comm32::BaudRateValue(FBaudRate);
  if (which == P::Parity) d.Parity = comm32::ParityValue(FParity);
  if (which == P::DataBits) d.ByteSize = comm32::ByteSizeValue(FDataBits);
  if (which == P::StopBits) d.StopBits = comm32::StopBitsValue(FStopBits);
  if (which == P::XonLim) d.XonLim = FXonLim;
  if (which == P::XoffLim) d.XoffLim = FXoffLim;
  if (which == P::Flags) PutFlagWord(d, comm32::DcbFlagWord(FFlags));
}

// The flag word is the 32-bit word after BaudRate.
void TComm32::PutFlagWord(DCB& d, DWORD word) {
  std::memcpy(reinterpret_cast<char*>(&d) + offsetof(DCB, BaudRate) + sizeof(DWORD), &word,
              sizeof word);
}

void TComm32::DoReceiveData(const void* Buffer, std::uint16_t BufferLength) {
  if (FOnReceiveData) FOnReceiveData(Buffer, BufferLength);
}

void TComm32::DoRequestHangup() {
  if (FOnRequestHangup) FOnRequestHangup(this);
}

void TComm32::HandlerFailed(const char* message) {
  if (FHandlerErrorHook) {
    FHandlerErrorHook(message);
  } else {
    MessageBoxA(nullptr, message, "Error", MB_OK | MB_ICONERROR);
  }
}

LRESULT CALLBACK TComm32::CommWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TComm32*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  const bool openEnded = (message == kWmOpenDone) || (message == WM_TIMER && wParam == kOpenTimer);
  if (message != WM_COMMDATA && message != WM_REQUESTHANGUP && !openEnded) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  // A block is freed whatever the handler does; one posted for an earlier
  // opening than the last is only freed.
  struct TBlock {
    HLOCAL h;
    ~TBlock() { LocalFree(h); }
  } block{message == WM_COMMDATA ? reinterpret_cast<HLOCAL>(lParam) : nullptr};
  if (self == nullptr) return 0;
  try {
    if (openEnded) {
      // A tag of an earlier, abandoned open is passed over.
      if (message == WM_TIMER || wParam == self->FOpenTag) self->FinishOpen();
    } else if (message == WM_REQUESTHANGUP) {
      self->DoRequestHangup();
    } else if (HIWORD(wParam) == self->FOpening) {
      self->DoReceiveData(block.h, LOWORD(wParam));
    }
  } catch (const std::exception& e) {
    self->HandlerFailed(e.what());
  } catch (...) {
    self->HandlerFailed("Unknown error");
  }
  return 0;
}
