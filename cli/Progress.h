// Progress on stderr: on a terminal one line that each new status text
// replaces, otherwise one line per text.
#pragma once

#include <cstdio>
#include <string>

class TProgress {
 public:
  TProgress(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  ~TProgress() { Finish(); }
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  void Status(const std::string& text);
  // A line that stays (a warning, an error).
  void Line(const std::string& text);
  // Ends the updating line; the last status stays visible.
  void Finish();

 private:
  std::FILE* out_;
  bool terminal_;
  size_t shown_ = 0;  // length of the updating line on the terminal
};
