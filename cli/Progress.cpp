#include "cli/Progress.h"

void TProgress::Status(const std::string& text) {
  if (!terminal_) {
    std::fprintf(out_, "%s\n", text.c_str());
  } else {
    // Blanks over what is left of a longer previous text.
    const size_t pad = shown_ > text.size() ? shown_ - text.size() : 0;
    std::fprintf(out_, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
    if (pad) std::fprintf(out_, "\r%s", text.c_str());
    shown_ = text.size();
  }
  std::fflush(out_);
}

void TProgress::Line(const std::string& text) {
  Finish();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void TProgress::Finish() {
  if (!terminal_ || shown_ == 0) return;
  std::fprintf(out_, "\n");
  std::fflush(out_);
  shown_ = 0;
}
