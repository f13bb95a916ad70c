// A scripted serial port on the virtual clock. Devices sit on port numbers;
// a port without a device cannot be opened. Each command line written (the
// bytes up to a carriage return) goes to the device, whose answer is
// delivered through OnReceiveData in one burst (or a few) a set time after
// the carriage return, if that opening of the port is still open then.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "VirtualClock.h"
#include "comm32/CommLogic.h"
#include "comm32/CommPort.h"

class FakeDevice {
 public:
  virtual ~FakeDevice() = default;
  // Bytes sent back for one command line ("" for none).
  virtual std::string Answer(const std::string& line) = 0;
  // The answer as the port delivers it: bursts burstGap apart.
  virtual std::vector<std::string> Bursts(const std::string& line) {
    std::string answer = Answer(line);
    return answer.empty() ? std::vector<std::string>() : std::vector<std::string>{answer};
  }
  // Time from the carriage return to the delivery of the answer.
  VirtualClock::Ms replyDelay = 250;
  VirtualClock::Ms burstGap = 300;
};

// Answers nothing.
class SilentDevice : public FakeDevice {
 public:
  std::string Answer(const std::string&) override { return std::string(); }
};

// An AT modem: echo "CMD\r", then "\r\n<line>\r\n" per line, then
// "\r\n<result>\r\n"; with numeric result codes "<line>\r\n" per line, then
// "<code>\r".
class FakeModem : public FakeDevice {
 public:
  struct Reply {
    std::vector<std::string> lines;
    std::string result = "OK";  // "" for none
  };

  // The stored profile, which the modem starts from and ATZ brings back:
  // echo on or off, verbose or numeric result codes. ATE0/ATE1 and
  // ATV0/ATV1 (also together, "ATE1V1") change them until then.
  bool echo = true;
  bool numeric = false;
  std::vector<std::string> identification = {"56K FAKEMODEM V1.0"};  // ATI5
  std::string probe = "ERROR";                                       // result of ATH3
  bool hasStatusV5 = true;               // AT&V5 lists the status, else ERROR
  bool hasStatusI9 = true;               // ATI9 lists the status, else ERROR
  std::vector<std::string> statusExtra;  // lines of the listing after the country's
  // Result word for a well-formed AT%T19,0,<hex>: the country changes only
  // with "OK", and not even then when the modem keeps its country.
  // countryBursts, when given, is sent instead of the framed reply.
  std::string countryReply = "OK";
  bool keepsCountry = false;
  std::vector<std::string> countryBursts;
  unsigned country = 0;                         // current country code
  std::map<unsigned, std::string> countryKeys;  // code -> key shown in the status
  std::map<std::string, Reply> overrides;       // exact command -> reply
  std::vector<std::string> heard;               // every command line

  static std::string Frame(const std::string& command, const Reply& reply, bool echo,
                           bool numeric = false) {
    std::string out = echo ? command + "\r" : std::string();
    for (const std::string& line : reply.lines) out += (numeric ? "" : "\r\n") + line + "\r\n";
    if (!reply.result.empty())
      out += numeric ? NumericCode(reply.result) + "\r" : "\r\n" + reply.result + "\r\n";
    return out;
  }

  std::string StatusLine() const {
    auto key = countryKeys.find(country);
    return "COUNTRY: " + (key == countryKeys.end() ? std::string("??") : key->second);
  }

  std::string Answer(const std::string& line) override {
    heard.push_back(line);
    const bool echoing = echoNow_.value_or(echo);
    const Reply reply = ReplyTo(line);  // the result comes in the new form
    return Frame(line, reply, echoing, numericNow_.value_or(numeric));
  }
  std::vector<std::string> Bursts(const std::string& line) override {
    std::vector<std::string> bursts = FakeDevice::Bursts(line);
    if (!countryBursts.empty() && IsCountryCommand(line)) return countryBursts;
    return bursts;
  }

 private:
  static constexpr const char* kSetCountry = "AT%T19,0,";
  static bool IsCountryCommand(const std::string& command) {
    return command.rfind(kSetCountry, 0) == 0;
  }
  static std::string NumericCode(const std::string& word) {
    const std::map<std::string, std::string> codes = {
        {"OK", "0"}, {"RING", "2"}, {"ERROR", "4"}, {"NO DIAL TONE", "6"}, {"BUSY", "7"}};
    auto code = codes.find(word);
    return code == codes.end() ? word : code->second;
  }
  // "ATE1", "ATV0", "ATE1V1" ...: false for any other command.
  bool Configure(const std::string& command) {
    if (command.size() < 4 || command.size() % 2 != 0 || command.rfind("AT", 0) != 0) return false;
    for (size_t i = 2; i < command.size(); i += 2)
      if ((command[i] != 'E' && command[i] != 'V') ||
          (command[i + 1] != '0' && command[i + 1] != '1'))
        return false;
    for (size_t i = 2; i < command.size(); i += 2) {
      if (command[i] == 'E') echoNow_ = command[i + 1] == '1';
      if (command[i] == 'V') numericNow_ = command[i + 1] == '0';
    }
    return true;
  }

  std::optional<bool> echoNow_, numericNow_;  // set since the last ATZ

  Reply Listing() const {
    Reply listing{{StatusLine()}, "OK"};
    listing.lines.insert(listing.lines.end(), statusExtra.begin(), statusExtra.end());
    return listing;
  }

  Reply ReplyTo(const std::string& command) {
    auto over = overrides.find(command);
    if (over != overrides.end()) return over->second;
    if (command == "ATZ") {
      echoNow_.reset();
      numericNow_.reset();
      return {};
    }
    if (Configure(command)) return {};
    if (command == "ATI5") return {identification, "OK"};
    if (command == "ATH3") return {{}, probe};
    if (command == "AT&V5") return hasStatusV5 ? Listing() : Reply{{}, "ERROR"};
    if (command == "ATI9") return hasStatusI9 ? Listing() : Reply{{}, "ERROR"};
    if (IsCountryCommand(command)) {
      unsigned code = 0;
      std::string digits = command.substr(std::strlen(kSetCountry));
      if (digits.empty() || digits.size() > 4) return {{}, "ERROR"};
      for (char c : digits) {
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                            : -1;
        if (v < 0) return {{}, "ERROR"};
        code = code * 16 + static_cast<unsigned>(v);
      }
      if (countryReply == "OK" && !keepsCountry) country = code;
      return {{}, countryReply};
    }
    return {};
  }
};

class FakePort : public TCommPort {
 public:
  struct Line {
    VirtualClock::Ms at;  // when its carriage return was written
    int port;
    std::string text;
  };
  struct Opening {
    VirtualClock::Ms at;
    int port;
    bool opened;
  };

  explicit FakePort(VirtualClock& clock) : clock_(clock) {}

  // Puts a device on port n (1 .. 256); the port can then be opened.
  void Attach(int n, FakeDevice& device) { devices_[n] = &device; }
  // The device on port n vanishes: an opening of it stays open but hears and
  // answers nothing, and the port cannot be opened again.
  void Detach(int n) { devices_.erase(n); }
  // Opening port n cannot create this worker thread: as TComm32 does, the
  // opening gives the port back and raises ECommsError.
  enum class Worker { Read, Write };
  std::map<int, Worker> failing;
  // Ports another program holds: opening them fails, and PortHeld says so.
  std::set<int> held;
  // Ports whose device takes this long to open: BeginOpenPort ends then, or
  // at comm32::kPortOpenLimitMs with the port not opened, as TComm32's does.
  std::map<int, VirtualClock::Ms> openTakes;
  // ClosePort closes and then raises ECommsError (a comms log that cannot be
  // closed).
  bool closeThrows = false;
  // As TComm32 does, a closed component still hands over what was on its
  // way, unless it is opened again first: the answers in flight arrive right
  // after the handler that closed the port. false: they are dropped.
  bool deliversAfterClose = true;

  // What happened.
  std::vector<Opening> openings;  // every OpenPort call
  std::vector<Line> lines;        // every command line written
  std::string partial;            // bytes written since the last carriage return
  int closes = 0;
  int purges = 0;
  int abandonedOpens = 0;  // openings under way that ClosePort gave up

  bool IsOpen() const { return open_ != 0; }
  bool AnswersInFlight() const { return !inFlight_.empty(); }
  int OpenNumber() const { return open_; }
  std::vector<int> OpenedPorts() const {
    std::vector<int> ports;
    for (const Opening& o : openings)
      if (o.opened) ports.push_back(o.port);
    return ports;
  }
  std::vector<std::string> LinesOn(int port) const {
    std::vector<std::string> out;
    for (const Line& l : lines)
      if (l.port == port) out.push_back(l.text);
    return out;
  }

  // Delivers bytes at `at` if this opening of the port is still open then.
  void DeliverAt(VirtualClock::Ms at, const std::string& bytes) {
    const std::uint64_t id = nextFlight_++;
    inFlight_[id] = {session_, bytes};
    clock_.Post(at, [this, id] {
      auto flight = inFlight_.find(id);
      if (flight == inFlight_.end()) return;  // handed over at the close
      const Flight f = flight->second;
      inFlight_.erase(flight);
      if (open_ != 0 && f.session == session_) DeliverNow(f.bytes);
    });
  }
  // Raises OnReceiveData at once: the bytes and one zero byte after them, in
  // as many deliveries as a 16-bit length needs.
  void DeliverNow(const std::string& bytes) {
    const size_t most = 0xFFFF;
    size_t at = 0;
    do {
      std::string block = bytes.substr(at, most) + '\0';
      if (!OnReceiveData()) return;
      OnReceiveData()(block.data(), static_cast<std::uint16_t>(block.size() - 1));
      at += most;
    } while (at < bytes.size());
  }

  void BeginOpenPort() override {
    const auto slow = openTakes.find(static_cast<int>(Port()));
    if (slow == openTakes.end()) return TCommPort::BeginOpenPort();
    const bool inTime = slow->second <= comm32::kPortOpenLimitMs;
    const std::uint64_t id = ++pendingId_;
    pending_ = id;
    clock_.Post(clock_.Now() + (inTime ? slow->second : comm32::kPortOpenLimitMs),
                [this, id, inTime] {
                  if (pending_ != id) return;  // abandoned
                  pending_ = 0;
                  if (!inTime) {
                    openings.push_back({clock_.Now(), static_cast<int>(Port()), false});
                    if (OnOpenDone()) OnOpenDone()(false, std::string());
                    return;
                  }
                  TCommPort::BeginOpenPort();
                });
  }
  bool OpenPending() const override { return pending_ != 0; }

  bool OpenPort() override {
    const int n = static_cast<int>(Port());
    FPortHeld = held.count(n) != 0;
    const bool ok = open_ == 0 && devices_.count(n) != 0 && !FPortHeld;
    auto refused = failing.find(n);
    if (ok && refused != failing.end()) {
      openings.push_back({clock_.Now(), n, false});
      throw ECommsError(refused->second == Worker::Read ? comm32::kReadThreadError
                                                        : comm32::kWriteThreadError);
    }
    openings.push_back({clock_.Now(), n, ok});
    if (!ok) return false;
    open_ = n;
    ++session_;
    partial.clear();
    return true;
  }
  void ClosePort() override {
    if (pending_ != 0) {
      pending_ = 0;
      ++abandonedOpens;
    }
    if (open_ == 0) return;
    open_ = 0;
    ++closes;
    for (auto flight = inFlight_.begin(); deliversAfterClose && flight != inFlight_.end();) {
      if (flight->second.session != session_) {
        ++flight;
        continue;
      }
      clock_.Post(clock_.Now(), [this, session = session_, bytes = flight->second.bytes] {
        if (session == session_) DeliverNow(bytes);
      });
      flight = inFlight_.erase(flight);
    }
    if (closeThrows) throw ECommsError("Unable to close the comms log");
  }
  bool WritePort(const void* buffer, std::uint16_t length) override {
    if (open_ == 0) return false;
    const char* bytes = static_cast<const char*>(buffer);
    for (std::uint16_t i = 0; i < length; ++i) {
      if (bytes[i] != '\r') {
        partial += bytes[i];
        continue;
      }
      lines.push_back({clock_.Now(), open_, partial});
      auto device = devices_.find(open_);
      if (device != devices_.end()) {
        const FakeDevice& d = *device->second;
        VirtualClock::Ms at = clock_.Now() + d.replyDelay;
        for (const std::string& burst : device->second->Bursts(partial)) {
          DeliverAt(at, burst);
          at += d.burstGap;
        }
      }
      partial.clear();
    }
    return true;
  }
  bool PurgeInput() override {
    ++purges;
    return open_ != 0;
  }

 private:
  struct Flight {
    std::uint64_t session;
    std::string bytes;
  };

  VirtualClock& clock_;
  std::map<int, FakeDevice*> devices_;
  int open_ = 0;
  std::uint64_t session_ = 0;
  std::map<std::uint64_t, Flight> inFlight_;  // answers not yet delivered
  std::uint64_t nextFlight_ = 0;
  std::uint64_t pending_ = 0;  // the opening under way, 0 when none
  std::uint64_t pendingId_ = 0;
};
