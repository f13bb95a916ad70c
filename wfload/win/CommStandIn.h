// Serial port used until the real component is linked in: no port opens.
#pragma once

#include "comm32/CommPort.h"

class TCommStandIn final : public TCommPort {
 public:
  bool OpenPort() override { return false; }
  void ClosePort() override {}
  bool WritePort(const void*, std::uint16_t) override { return false; }
  bool PurgeInput() override { return false; }
};
