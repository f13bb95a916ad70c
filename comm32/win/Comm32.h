// TComm32: the serial port component on Win32. One port opened for
// overlapped I/O, a transmit thread, one receive thread, and a hidden
// message window through which the threads reach the owner's thread.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "comm32/CommPort.h"
#include "comm32/win/DeviceOpen.h"

class TCommThread;
class TReadThread;
class TWriteThread;
class CommReadThread;

class TComm32 : public TCommPort {
 public:
  // Construct and use on the owner's user-interface thread.
  TComm32();
  ~TComm32() override;

  bool OpenPort() override;
  void ClosePort() override;
  bool WritePort(const void* Buffer, std::uint16_t Length) override;
  bool PurgeInput() override;
  // The device opens on a thread of its own while the owner's thread runs
  // on; OnOpenDone comes through the hidden window, at the latest
  // kPortOpenLimitMs after the start (a device not open by then counts as one
  // that cannot be opened).
  void BeginOpenPort() override;
  bool OpenPending() const override { return FPendingOpen != nullptr; }

  // Which receive thread runs (for diagnostics and tests). The applet only
  // ever runs the overlapped TReadThread (SLevel 0); blocking mode and
  // CommReadThread serve the component's interface (SLevel 10 and 100 on).
  enum class TReceiveKind { None, Overlapped, Blocking, CommRead };
  TReceiveKind ReceiveKind() const;
  bool IsOpen() const { return FCommFile != nullptr; }
  HWND WindowHandle() const { return FWindowHandle; }
  HANDLE PortHandle() const { return FCommFile; }  // for tests

  // An exception that escapes OnReceiveData or OnRequestHangup cannot leave
  // the window procedure; its text ("Unknown error" for one that is not a
  // std::exception) goes here, or to a standard error box when no hook is
  // set.
  using THandlerErrorHook = std::function<void(const char* message)>;
  void SetHandlerErrorHook(THandlerErrorHook hook) { FHandlerErrorHook = std::move(hook); }

  // Test seams: what Windows does and Wine does not, made to happen. Each
  // applies to every OpenPort while it is set.
  enum class TWorker { None, Open, Read, Write };
  struct TTestSeams {
    TWorker refusedThread = TWorker::None;  // creating this thread fails
    DWORD openDelayMs = 0;                  // the device takes this long to open
    TPort slowPort = tptNone;               // ... only this one (tptNone: every port)
    // Opening these ports fails with ERROR_ACCESS_DENIED, as when another
    // program holds them.
    std::vector<TPort> heldPorts;
    // Sees each DCB given to the port (OpenPort gives one, and a second when
    // the first is refused), and whether it was taken.
    std::function<void(const DCB& given, bool accepted)> dcbGiven;
    // The driver refuses this many DCBs before it takes any.
    int refusedDcbs = 0;
  };
  void SetTestSeams(TTestSeams seams) { FSeams = std::move(seams); }

 protected:
  void PropertyChanged(TCommProperty which) override;

 private:
  static LRESULT CALLBACK CommWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void DoReceiveData(const void* Buffer, std::uint16_t BufferLength);
  void DoRequestHangup();
  void HandlerFailed(const char* message);
  // ClosePort's halves. Each waits for its thread at most
  // kThreadStopWaitMs and leaves behind a thread that has not ended by then,
  // with its share of the opening's handles.
  void CloseReadThread(const std::shared_ptr<void>& handles);
  void CloseWriteThread(const std::shared_ptr<void>& handles);
  template <class Thread>
  void StopThread(std::unique_ptr<Thread>& thread, const char* notExiting,
                  const std::shared_ptr<void>& handles);
  void DiscardReceivedData();
  template <class Thread>
  void StartThread(Thread& thread, int priority);
  bool GiveDcb(DCB& dcb);
  template <class Change>
  bool ChangeDcb(Change change, DCB& dcb);
  void PutInDcb(DCB& dcb, TCommProperty which) const;
  static void PutFlagWord(DCB& dcb, DWORD word);
  void SetUpPort();
  bool CreateWorker(TCommThread& thread, TWorker which);
  comm32::TOpenSeams OpenSeams() const;
  // Makes the port of an ended open the component's: checks and sets it up,
  // starts the threads. False (or ECommsError) when it cannot serve.
  bool TakeDevice(const comm32::TDeviceOpen& device);
  void FinishOpen();
  void StartWorkers();
  void ReleasePort();

  HANDLE FCommFile = nullptr;
  HANDLE FCloseEvent = nullptr;
  HWND FWindowHandle = nullptr;
  std::unique_ptr<TReadThread> FReadThread;
  std::unique_ptr<TWriteThread> FWriteThread;
  std::unique_ptr<CommReadThread> FCommReadThread;
  // Counts openings; a block posted for an earlier one is dropped (one of
  // the last opening is delivered, also after ClosePort).
  std::uint16_t FOpening = 0;
  THandlerErrorHook FHandlerErrorHook;
  TTestSeams FSeams;
  // The open begun by BeginOpenPort, until it ends or is abandoned.
  std::unique_ptr<comm32::TPendingOpen> FPendingOpen;
  WPARAM FOpenTag = 0;
};
