#include "comm32/CommLogic.h"

#include <cctype>

namespace comm32 {

std::uint32_t DcbFlagWord(TFlags flags) {
  struct Single {
    TFlag flag;
    std::uint32_t bit;
  };
  static constexpr Single kSingles[] = {
      {tfcBinary, kFBinary},
      {tfcParity, kFParity},
      {tfcCtsFlow, kFOutxCtsFlow},
      {tfcDsrFlow, kFOutxDsrFlow},
      {tfcDsrSens, kFDsrSensitivity},
      {tfcTXCntXoff, kFTXContinueOnXoff},
      {tfcOutX, kFOutX},
      {tfcInX, kFInX},
      {tfcPeChar, kFErrorChar},
      {tfcNull, kFNull},
      {tfcAbortOnErr, kFAbortOnError},
  };
  std::uint32_t word = 0;
  for (const Single& s : kSingles) {
    if (flags.Contains(s.flag)) word |= s.bit;
  }
  // In each control group the disable member wins.
  if (flags.Contains(tfcDtrDisable)) {
  } else if (flags.Contains(tfcDtrFlow)) {
    word |= kDtrControlHandshake;
  } else {
    word |= kDtrControlEnable;
  }
  if (flags.Contains(tfcRtsDisable)) {
  } else if (flags.Contains(tfcRtsFlow)) {
    word |= kRtsControlHandshake;
  } else if (flags.Contains(tfcRtsTog)) {
    word |= kRtsControlToggle;
  } else {
    word |= kRtsControlEnable;
  }
  return word;
}

std::uint32_t CommEventMask(TCommEvents events) {
  static constexpr std::uint32_t kBits[] = {
      kEvBreak, kEvCts,  kEvDsr,      kEvErr,    kEvEvent1, kEvEvent2,  kEvPErr,
      kEvRing,  kEvRlsd, kEvRx80Full, kEvRxChar, kEvRxFlag, kEvTxEmpty,
  };
  std::uint32_t mask = 0;
  for (unsigned i = 0; i < sizeof kBits / sizeof kBits[0]; ++i) {
    if (events.Contains(static_cast<TCommEvent>(i))) mask |= kBits[i];
  }
  return mask;
}

std::uint32_t BaudRateValue(TBaudRate rate) {
  static constexpr std::uint32_t kRates[] = {110,   300,   600,    1200,   2400,
                                             4800,  9600,  14400,  19200,  38400,
                                             56000, 57600, 115200, 128000, 256000};
  const unsigned i = static_cast<unsigned>(rate);
  return i < sizeof kRates / sizeof kRates[0] ? kRates[i] : 0;
}

std::uint8_t ParityValue(TParity parity) { return static_cast<std::uint8_t>(parity); }

std::uint8_t ByteSizeValue(TDataBits bits) { return static_cast<std::uint8_t>(4 + bits); }

std::uint8_t StopBitsValue(TStopBits bits) { return static_cast<std::uint8_t>(bits); }

std::string DeviceName(TPort port) {
  return "\\\\.\\COM" + std::to_string(static_cast<unsigned>(port));
}

int PortNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (size_t i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  if (name[3] == '0') return 0;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n <= kHighestPort ? n : 0;
}

std::string CommErrorEventText(std::uint32_t errorWord) {
  std::string parts;
  auto add = [&parts](const char* part) {
    if (!parts.empty()) parts += " and ";
    parts += part;
  };
  if (errorWord == 0) add("NULL Error");
  if (errorWord & kCeFrame) add("CE_FRAME");
  if (errorWord & kCeOverrun) add("CE_OVERRUN");
  if (errorWord & kCeRxParity) add("CE_RXPARITY");
  if (errorWord & ~(kCeFrame | kCeOverrun | kCeRxParity)) add("EV_ERR Unknown EvtMask");
  return "Comm Event: " + parts + ", EvtMask = " + std::to_string(errorWord);
}

}  // namespace comm32
