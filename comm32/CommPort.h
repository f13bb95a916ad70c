// Public face of the serial port component: types, properties, operations and
// events. Portable: no <windows.h>. TComm32 (Win32) and the unit tests' fake
// port both derive from TCommPort.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// A port number: tptNone, then COM1 .. COM8 by name; the numbers above
// (COM9 .. COM256) have no names of their own.
enum TPort : std::uint16_t {
  tptNone,
  tptOne,
  tptTwo,
  tptThree,
  tptFour,
  tptFive,
  tptSix,
  tptSeven,
  tptEight
};
constexpr int kHighestPort = 256;  // COM256

enum TBaudRate : std::uint8_t {
  tbr110,
  tbr300,
  tbr600,
  tbr1200,
  tbr2400,
  tbr4800,
  tbr9600,
  tbr14400,
  tbr19200,
  tbr38400,
  tbr56000,
  tbr57600,
  tbr115200,
  tbr128000,
  tbr256000
};

enum TParity : std::uint8_t { tpNone, tpOdd, tpEven, tpMark };

enum TDataBits : std::uint8_t { tdbFour, tdbFive, tdbSix, tdbSeven, tdbEight };

enum TStopBits : std::uint8_t { tsbOne, tsbOnePointFive, tsbTwo };

enum TCommEvent : std::uint8_t {
  tceBreak,
  tceCts,
  tceDsr,
  tceErr,
  tceEvent1,
  tceEvent2,
  tcePErr,
  tceRing,
  tceRlsd,
  tceRx80full,
  tceRxChar,
  tceRxFlag,
  tceTxEmpty
};

enum TFlag : std::uint8_t {
  tfcBinary,
  tfcParity,
  tfcCtsFlow,
  tfcDsrFlow,
  tfcDtrDisable,
  tfcDtrFlow,
  tfcDsrSens,
  tfcTXCntXoff,
  tfcOutX,
  tfcInX,
  tfcPeChar,
  tfcNull,
  tfcRtsDisable,
  tfcRtsFlow,
  tfcRtsTog,
  tfcAbortOnErr
};

// A set of up to 16 enumeration values held as one 16-bit word: bit n stands
// for the value with ordinal n.
template <class E>
class TSet16 {
 public:
  constexpr TSet16() = default;
  constexpr explicit TSet16(std::uint16_t word) : FWord(word) {}
  constexpr TSet16(std::initializer_list<E> values) {
    for (E v : values) FWord = static_cast<std::uint16_t>(FWord | Bit(v));
  }
  constexpr bool Contains(E v) const { return (FWord & Bit(v)) != 0; }
  constexpr TSet16& Include(E v) {
    FWord = static_cast<std::uint16_t>(FWord | Bit(v));
    return *this;
  }
  constexpr TSet16& Exclude(E v) {
    FWord = static_cast<std::uint16_t>(FWord & ~Bit(v));
    return *this;
  }
  constexpr bool Empty() const { return FWord == 0; }
  constexpr std::uint16_t Word() const { return FWord; }
  constexpr bool operator==(TSet16 o) const { return FWord == o.FWord; }
  constexpr bool operator!=(TSet16 o) const { return FWord != o.FWord; }

 private:
  static constexpr std::uint16_t Bit(E v) {
    return static_cast<std::uint16_t>(1u << static_cast<unsigned>(v));
  }
  std::uint16_t FWord = 0;
};

using TCommEvents = TSet16<TCommEvent>;
using TFlags = TSet16<TFlag>;

class TCommPort;

// Received bytes: Buffer points at BufferLength bytes followed by one zero
// byte. The block is released when the handler returns.
using TReceiveDataEvent = std::function<void(const void* Buffer, std::uint16_t BufferLength)>;
using TNotifyEvent = std::function<void(TCommPort* Sender)>;
// The end of an opening begun with BeginOpenPort: whether the port is open,
// and the text of the ECommsError the opening raised ("" when none).
using TOpenDoneEvent = std::function<void(bool Opened, const std::string& Error)>;

// Raised only when a worker thread cannot be created.
class ECommsError : public std::runtime_error {
 public:
  explicit ECommsError(const std::string& message) : std::runtime_error(message) {}
};

// Which property a setter changed; lets an implementation apply the change to
// an open port.
enum class TCommProperty {
  BaudRate,
  Parity,
  DataBits,
  StopBits,
  WriteBufferSize,
  ReadBufferSize,
  RxFullCount,
  TxLowCount,
  SLevel,
  XonLim,
  XoffLim,
  Events,
  Flags,
  CommsLogFileName
};

class TCommPort {
 public:
  // Declared defaults (what a stored configuration leaves out). XonLim,
  // XoffLim and Flags differ from their values after construction.
  static constexpr std::uint16_t kDeclaredXonLim = 100;
  static constexpr std::uint16_t kDeclaredXoffLim = 1024;
  static constexpr std::uint16_t kDeclaredFlagsWord = 8236;

  TCommPort() = default;
  TCommPort(const TCommPort&) = delete;
  TCommPort& operator=(const TCommPort&) = delete;
  virtual ~TCommPort() = default;

  // Operations, all on the owner's user-interface thread.
  virtual bool OpenPort() = 0;
  virtual void ClosePort() = 0;
  virtual bool WritePort(const void* Buffer, std::uint16_t Length) = 0;
  virtual bool PurgeInput() = 0;

  // Opens the port as OpenPort does, without holding the caller while the
  // device takes its time: OnOpenDone runs once the port is open or cannot
  // be opened, on the owner's thread, possibly before this returns (this
  // default opens at once). ClosePort, or the component's end, abandons an
  // opening under way: OnOpenDone then does not run.
  virtual void BeginOpenPort() {
    bool opened = false;
    std::string error;
    try {
      opened = OpenPort();
    } catch (const ECommsError& e) {
      error = e.what();
    }
    if (FOnOpenDone) FOnOpenDone(opened, error);
  }
  // An opening begun with BeginOpenPort has not ended yet.
  virtual bool OpenPending() const { return false; }

  // True when the last OpenPort failed because another program holds the port.
  bool PortHeld() const { return FPortHeld; }

  // Port is a plain field: it takes effect at the next OpenPort.
  TPort Port() const { return FPort; }
  void SetPort(TPort value) { FPort = value; }

  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate v) { Store(FBaudRate, v, TCommProperty::BaudRate); }
  TParity Parity() const { return FParity; }
  void SetParity(TParity v) { Store(FParity, v, TCommProperty::Parity); }
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits v) { Store(FDataBits, v, TCommProperty::DataBits); }
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits v) { Store(FStopBits, v, TCommProperty::StopBits); }
  std::uint16_t WriteBufferSize() const { return FWriteBufferSize; }
  void SetWriteBufferSize(std::uint16_t v) {
    Store(FWriteBufferSize, v, TCommProperty::WriteBufferSize);
  }
  std::uint16_t ReadBufferSize() const { return FReadBufferSize; }
  void SetReadBufferSize(std::uint16_t v) {
    Store(FReadBufferSize, v, TCommProperty::ReadBufferSize);
  }
  std::uint16_t RxFullCount() const { return FRxFullCount; }
  void SetRxFullCount(std::uint16_t v) { Store(FRxFullCount, v, TCommProperty::RxFullCount); }
  std::uint16_t TxLowCount() const { return FTxLowCount; }
  void SetTxLowCount(std::uint16_t v) { Store(FTxLowCount, v, TCommProperty::TxLowCount); }
  std::uint16_t SLevel() const { return FSLevel; }
  void SetSLevel(std::uint16_t v) { Store(FSLevel, v, TCommProperty::SLevel); }
  std::uint16_t XonLim() const { return FXonLim; }
  void SetXonLim(std::uint16_t v) { Store(FXonLim, v, TCommProperty::XonLim); }
  std::uint16_t XoffLim() const { return FXoffLim; }
  void SetXoffLim(std::uint16_t v) { Store(FXoffLim, v, TCommProperty::XoffLim); }
  TCommEvents Events() const { return FEvents; }
  void SetEvents(TCommEvents v) { Store(FEvents, v, TCommProperty::Events); }
  TFlags Flags() const { return FFlags; }
  void SetFlags(TFlags v) { Store(FFlags, v, TCommProperty::Flags); }
  const std::string& CommsLogFileName() const { return FCommsLogFileName; }
  void SetCommsLogFileName(const std::string& v) {
    Store(FCommsLogFileName, v, TCommProperty::CommsLogFileName);
  }

  const TReceiveDataEvent& OnReceiveData() const { return FOnReceiveData; }
  void SetOnReceiveData(TReceiveDataEvent handler) { FOnReceiveData = std::move(handler); }
  const TNotifyEvent& OnRequestHangup() const { return FOnRequestHangup; }
  void SetOnRequestHangup(TNotifyEvent handler) { FOnRequestHangup = std::move(handler); }
  const TOpenDoneEvent& OnOpenDone() const { return FOnOpenDone; }
  void SetOnOpenDone(TOpenDoneEvent handler) { FOnOpenDone = std::move(handler); }

 protected:
  // Called after a setter stored its value; an implementation applies the
  // change to an open port here. Setters report nothing.
  virtual void PropertyChanged(TCommProperty) {}

  TPort FPort = tptNone;
  bool FPortHeld = false;
  TBaudRate FBaudRate = tbr9600;
  TParity FParity = tpNone;
  TDataBits FDataBits = tdbEight;
  TStopBits FStopBits = tsbOne;
  std::uint16_t FReadBufferSize = 2048;
  std::uint16_t FWriteBufferSize = 2048;
  std::uint16_t FRxFullCount = 1024;
  std::uint16_t FTxLowCount = 1024;
  std::uint16_t FXonLim = 0;
  std::uint16_t FXoffLim = 0;
  std::uint16_t FSLevel = 0;
  TCommEvents FEvents;
  TFlags FFlags;
  std::string FCommsLogFileName;
  TReceiveDataEvent FOnReceiveData;
  TNotifyEvent FOnRequestHangup;
  TOpenDoneEvent FOnOpenDone;

 private:
  template <class T>
  void Store(T& field, const T& value, TCommProperty which) {
    field = value;
    PropertyChanged(which);
  }
};
