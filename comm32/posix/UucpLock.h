// UUCP lock file of a terminal device, as terminal programs (minicom, cu,
// getty) take a port: LCK..<name> in the lock directory, holding the owner's
// process id as ten ASCII characters and a newline. The name is the device's
// path below /dev with '/' turned into '_' (ttyUSB0, pts_3), of the device a
// symbolic link leads to.
#pragma once

#include <string>

class TUucpLock {
 public:
  enum class TResult {
    Taken,     // the lock file is ours until Release
    Unlocked,  // the lock directory cannot hold ours: go on without one
    Held,      // a living process holds the device, or its lock cannot be read
  };

  TUucpLock() = default;
  TUucpLock(const TUucpLock&) = delete;
  TUucpLock& operator=(const TUucpLock&) = delete;
  ~TUucpLock() { Release(); }

  // Looks for the device's lock (also under the name the path itself gives,
  // when it is a link) and takes it. A lock whose process is gone is removed.
  TResult Acquire(const std::string& directory, const std::string& device);
  // Removes the lock file taken by Acquire, if any.
  void Release();

  // LCK..<name> for `device` as given (no link followed).
  static std::string FileName(const std::string& device);
  // The lock file taken, empty when none.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
