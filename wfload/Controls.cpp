#include "wfload/Controls.h"

#include <algorithm>
#include <cctype>

#include "wfload/FormHost.h"

bool SortedListLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

TStringList::TStringList(std::initializer_list<const char*> items) {
  for (const char* item : items) items_.emplace_back(item);
}

int TStringList::Add(const std::string& item) {
  if (!sorted_) {
    items_.push_back(item);
    return Count() - 1;
  }
  auto at = std::upper_bound(items_.begin(), items_.end(), item, SortedListLess);
  int index = static_cast<int>(at - items_.begin());
  items_.insert(at, item);
  return index;
}

void TStringList::Assign(const std::vector<std::string>& items) {
  Clear();
  for (const std::string& item : items) Add(item);
}

void TStringList::Clear() {
  items_.clear();
  ItemIndex = -1;
}

int TStringList::IndexOf(const std::string& text) const {
  auto at = std::find(items_.begin(), items_.end(), text);
  return at == items_.end() ? -1 : static_cast<int>(at - items_.begin());
}

void TComboBox::SetText(const std::string& text) {
  Caption = text;
  Items.ItemIndex = Items.IndexOf(text);
}

void TComboBox::SetItemIndex(int index) {
  if (index < 0 || index >= Items.Count()) {
    Items.ItemIndex = -1;
    Caption.clear();
    return;
  }
  Items.ItemIndex = index;
  Caption = Items[index];
}

void TTimer::Attach(IFormHost* host) {
  host_ = host;
  if (host_ && enabled_) host_->ArmTimer(*this);
}

void TTimer::Restart() {
  if (host_ && enabled_) host_->ArmTimer(*this);
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (!host_) return;
  if (enabled_)
    host_->ArmTimer(*this);
  else
    host_->DisarmTimer(*this);
}

void TTimer::SetInterval(unsigned interval) {
  if (interval == interval_) return;
  interval_ = interval;
  Restart();
}

void TTimer::SetOnTimer(const std::string& handlerName, THandler handler) {
  if (handlerName == handlerName_) return;
  handlerName_ = handlerName;
  handler_ = std::move(handler);
  Restart();
}

void TTimer::Fire() {
  if (enabled_ && handler_) handler_();
}

void TMemo::SetText(const std::string& text) {
  Caption = text.substr(0, kMaxText);
  ++revision_;
}

void TMemo::Append(const char* text, size_t length) {
  size_t room = kMaxText - std::min(kMaxText, Caption.size());
  if (room == 0 || length == 0) return;
  Caption.append(text, std::min(length, room));
  ++revision_;
}

int TMemo::LineCount() const {
  Layout();
  return static_cast<int>(lines_.size());
}

std::string TMemo::Line(int i) const {
  Layout();
  if (i < 0 || i >= static_cast<int>(lines_.size())) return std::string();
  const TSpan& span = lines_[static_cast<size_t>(i)];
  return Caption.substr(span.Start, span.Length);
}

std::vector<std::string_view> TMemo::Lines() const {
  Layout();
  std::vector<std::string_view> lines;
  lines.reserve(lines_.size());
  for (const TSpan& span : lines_) lines.emplace_back(Caption.data() + span.Start, span.Length);
  return lines;
}

void TMemo::Layout() const {
  if (laidOut_ && layoutText_ == Caption) return;
  laidOut_ = true;
  layoutText_ = Caption;
  lines_.clear();
  const std::string& text = Caption;
  const size_t width = kWrapChars;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    // Wrap the hard line [start, end): break after the last blank that still
    // fits (a blank may hang over the edge), else cut at the width.
    size_t pos = start;
    while (end - pos > width) {
      // Only this line's own blanks count: look no further back than pos.
      size_t blank = std::string_view(text).substr(pos + 1, width).rfind(' ');
      if (blank != std::string_view::npos) blank += pos + 1;
      if (blank == std::string_view::npos) {
        lines_.push_back({pos, width});
        pos += width;
      } else {
        lines_.push_back({pos, blank + 1 - pos});
        pos = blank + 1;
      }
    }
    if (pos < end || pos == start) lines_.push_back({pos, end - pos});
    if (end == text.size()) break;
    // CR LF is one break; a lone CR or LF is one too.
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
}
