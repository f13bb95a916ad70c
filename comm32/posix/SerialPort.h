// TCommPort on a POSIX terminal device (termios). The port numbers tptOne ..
// tptEight name the devices of a list, in order. Opening takes the device for
// exclusive use (a UUCP lock file, flock and TIOCEXCL) and refuses one that
// another program holds. A receive thread gathers incoming bytes into bursts
// and hands each burst over kReadIntervalTimeoutMs after its last byte (or
// when the burst fills the receive buffer), as the Win32 component's interval
// time-out does; the burst reaches OnReceiveData through the owner's `post`,
// on the owner's thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comm32/posix/UucpLock.h"
#include "comm32/CommPort.h"

class TSerialPort final : public TCommPort {
 public:
  using TTask = std::function<void()>;
  // Hands a task to the owner's thread (callable from any thread).
  using TPoster = std::function<void(TTask)>;

  // Why the last OpenPort returned false.
  enum class TRefusal { None, NoDevice, Absent, NotTty, Held, Failed };

  TSerialPort(std::vector<std::string> devices, TPoster post);
  ~TSerialPort() override;

  bool OpenPort() override;
  void ClosePort() override;
  bool WritePort(const void* Buffer, std::uint16_t Length) override;
  bool PurgeInput() override;

  // The device that Port names; empty for none.
  std::string Device() const;
  const std::vector<std::string>& Devices() const { return devices_; }
  TRefusal Refusal() const { return refusal_; }
  // The refusal in words ("not a terminal device", ...).
  const std::string& RefusalText() const { return refusalText_; }
  // Called whenever OpenPort refuses (Refusal() tells why).
  std::function<void()> OnRefused;
  // Where the UUCP lock files are (default /var/lock).
  void SetLockDirectory(std::string directory) { lockDirectory_ = std::move(directory); }

 protected:
  void PropertyChanged(TCommProperty which) override;

 private:
  struct TShared;
  bool Refuse(TRefusal refusal, std::string text);
  bool ApplyLineSettings();
  static void Receive(int fd, int stopFd, std::shared_ptr<TShared> shared, unsigned session);

  std::vector<std::string> devices_;
  std::shared_ptr<TShared> shared_;
  int fd_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::thread reader_;
  TRefusal refusal_ = TRefusal::None;
  std::string refusalText_;
  std::string lockDirectory_ = "/var/lock";
  TUucpLock lock_;
};
