#include "Modem.h"

#include <cctype>
#include <utility>

namespace modemsim {

namespace {

std::string Upper(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
}

}  // namespace

std::string Garbage(std::size_t size, unsigned& seed, bool line_breaks) {
  static constexpr char kNoise[] = "0123456789#$%&*+-/<=>@^_|~!?.,:;";
  std::string out;
  out.reserve(size);
  while (out.size() < size) {
    if (line_breaks && size - out.size() >= 2 && out.size() % 80 == 78) {
      out += "\r\n";
      continue;
    }
    seed = seed * 1103515245u + 12345u;
    out += kNoise[(seed >> 16) % (sizeof kNoise - 1)];
  }
  return out;
}

Modem::Modem(Profile profile, Behaviour behaviour)
    : profile_(std::move(profile)),
      behaviour_(behaviour),
      echo_(profile_.echo),
      verbose_(profile_.verbose) {}

std::vector<Exchange> Modem::Receive(std::string_view bytes) {
  std::vector<Exchange> done;
  for (char c : bytes) {
    if (c == '\r') {
      done.push_back(Complete(line_));
      line_.clear();
      overflow_ = false;
    } else if (c == '\n' || c == '\0') {
      // not part of a command line
    } else if (c == '\b') {
      if (!line_.empty()) line_.pop_back();
    } else if (line_.size() < kMaxLine) {
      line_ += c;
    } else {
      overflow_ = true;
    }
  }
  return done;
}

Exchange Modem::Complete(const std::string& line) {
  Exchange ex;
  ex.command = line;
  // Echoed as received: with the settings in force before the command.
  const bool echo = behaviour_.echo && echo_ && !behaviour_.silent;
  if (line.empty()) {
    // A bare CR is echoed and otherwise ignored, as by a real modem.
    if (echo) ex.echo = "\r";
    return ex;
  }
  ++commands_;
  const std::string answer = Answer(line, ex.country_changed);
  if (!behaviour_.silent) {
    if (echo) ex.echo = line + "\r";
    ex.reply = answer;
    if (behaviour_.flood_bytes > 0 && commands_ == behaviour_.flood_after)
      ex.extra += Garbage(behaviour_.flood_bytes, garbage_seed_, true);
    if (behaviour_.garbage_every > 0 && commands_ % behaviour_.garbage_every == 0)
      ex.extra += Garbage(behaviour_.garbage_bytes, garbage_seed_, false);
  }
  ex.hang_up = behaviour_.hangup_after > 0 && commands_ >= behaviour_.hangup_after;
  return ex;
}

std::string Modem::Answer(const std::string& line, bool& country_changed) {
  const std::string text = Upper(line);
  // Like a real modem, anything before the "AT" attention sequence is noise.
  const auto at = text.find("AT");
  if (at == std::string::npos) return {};
  if (overflow_ || behaviour_.all_error) return Result("ERROR");
  const std::string body = text.substr(at + 2);
  if (body == "Z" || body == "Z0") {
    echo_ = profile_.echo;
    verbose_ = profile_.verbose;
  }
  if (body.empty() || body == "Z" || body == "Z0" || Configure(body)) return Result("OK");
  if (body == "I5") return Lines(profile_.ident) + Result("OK");
  if (body == "H3")
    return profile_.ath3.empty() ? Result("OK") : Lines({profile_.ath3}) + Result("OK");
  if (body == "&V5") return behaviour_.error_avv5 ? Result("ERROR") : Listing(profile_.avv5);
  if (body == "I9") return behaviour_.error_ati9 ? Result("ERROR") : Listing(profile_.ati9);
  static constexpr std::string_view kCountry = "%T19,0,";
  if (body.compare(0, kCountry.size(), kCountry) == 0) {
    const auto code = ParseHexCode(std::string_view(body).substr(kCountry.size()));
    if (!code || !profile_.Find(*code)) return Result("ERROR");
    if (behaviour_.country_reply != "OK") return Result(behaviour_.country_reply);
    if (!behaviour_.keep_country) {
      profile_.country = *code;
      country_changed = true;
    }
    return Result("OK");
  }
  return Result("ERROR");
}

std::string Modem::Listing(const std::vector<std::string>& lines) const {
  const Country* current = profile_.Find(profile_.country);
  std::vector<std::string> filled = lines;
  for (auto& l : filled) {
    ReplaceAll(l, "{KEY}", current ? current->key : std::string("?"));
    ReplaceAll(l, "{CODE}", FormatHexCode(profile_.country));
  }
  return Lines(filled) + Result("OK");
}

bool Modem::Configure(std::string_view body) {
  if (body.empty() || body.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < body.size(); i += 2)
    if ((body[i] != 'E' && body[i] != 'V') || (body[i + 1] != '0' && body[i + 1] != '1'))
      return false;
  for (std::size_t i = 0; i < body.size(); i += 2)
    (body[i] == 'E' ? echo_ : verbose_) = body[i + 1] == '1';
  return true;
}

// Information text: CR LF, the lines separated by CR LF, CR LF; with numeric
// codes each line followed by CR LF.
std::string Modem::Lines(const std::vector<std::string>& lines) const {
  std::string out = verbose_ ? "\r\n" : "";
  for (const auto& l : lines) {
    if (behaviour_.nul_bytes) out += '\0';
    out += l + "\r\n";
  }
  return out;
}

// "\r\nOK\r\n"; with numeric codes "0\r" (a word without a number stays a
// word).
std::string Modem::Result(std::string_view code) const {
  static constexpr std::pair<std::string_view, std::string_view> kNumbers[] = {
      {"OK", "0"},    {"CONNECT", "1"},     {"RING", "2"}, {"NO CARRIER", "3"},
      {"ERROR", "4"}, {"NO DIALTONE", "6"}, {"BUSY", "7"}, {"NO ANSWER", "8"}};
  std::string out = verbose_ ? "\r\n" : "";
  if (behaviour_.nul_bytes) out += '\0';
  std::string_view text = code;
  for (const auto& [word, number] : kNumbers)
    if (!verbose_ && code == word) text = number;
  out += text;
  if (!behaviour_.unterminated) out += verbose_ ? "\r\n" : "\r";
  return out;
}

}  // namespace modemsim
