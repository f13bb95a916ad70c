// Models of the dialog's controls under their design names. The dialog logic
// changes the models; the Win32 window mirrors them into real controls after
// every handler and feeds user input (combo selection, typed keys) back.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class IFormHost;

// Place and size in design pixels (96 dpi), relative to the parent.
struct TBounds {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

struct TControl {
  TControl(std::string name, TBounds bounds, std::string caption, bool visible)
      : Name(std::move(name)), Bounds(bounds), Caption(std::move(caption)), Visible(visible) {}
  std::string Name;
  TBounds Bounds;
  std::string Caption;  // the window text
  bool Visible = true;
  bool Enabled = true;
};

// A string list with an optional sorted order and a selected item, the data
// of list boxes and combo boxes.
class TStringList {
 public:
  explicit TStringList(bool sorted = false) : sorted_(sorted) {}
  TStringList(std::initializer_list<const char*> items);

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int i) const { return items_[static_cast<size_t>(i)]; }
  const std::vector<std::string>& Items() const { return items_; }
  bool Sorted() const { return sorted_; }

  // Returns the index at which the item was placed.
  int Add(const std::string& item);
  void Assign(const std::vector<std::string>& items);
  void Clear();
  // First item equal to text (exact), or -1.
  int IndexOf(const std::string& text) const;

  int ItemIndex = -1;

 private:
  std::vector<std::string> items_;
  bool sorted_ = false;
};

// Order of a sorted Win32 list or combo box (case-insensitive).
bool SortedListLess(const std::string& a, const std::string& b);

struct TListBox : TControl {
  TListBox(std::string name, TStringList items)
      : TControl(std::move(name), {}, "", false), Items(std::move(items)) {}
  TStringList Items;
};

struct TComboBox : TControl {
  TComboBox(std::string name, TBounds bounds, TStringList items)
      : TControl(std::move(name), bounds, "", true), Items(std::move(items)) {}
  TStringList Items;
  // The edit text. Selecting an item sets it; setting a text that is no item
  // leaves no item selected.
  const std::string& Text() const { return Caption; }
  void SetText(const std::string& text);
  void SetItemIndex(int index);
};

// The multi-line transcript edit (word wrap on, no scroll bars). Caption holds
// the text; the line layout follows any change of it. Lines are the text divided at each line break
// (CR LF, or a lone CR or LF) and wrapped at kWrapChars characters, at a blank where there is one.
struct TMemo : TControl {
  // The edit is 201 px wide in the System font. Its sunken border takes 2 px
  // on each side and the formatting rectangle keeps a 1 px margin on each
  // side, leaving 195 px for text; System's average character width is 7 px
  // (maximum about 14), and 195 / 7 = 27.9, rounded down so that a line of
  // ordinary text never overhangs: 27 characters.
  static constexpr int kWrapChars = 27;
  // A bound on the text kept, so that a flood from a device costs neither
  // memory nor time (the window mirrors the text into a real edit control
  // after every delivery); text beyond it is not added. One probe's replies
  // take a few KiB.
  static constexpr size_t kMaxText = 64u << 10;

  TMemo(std::string name, TBounds bounds, std::string text, bool visible)
      : TControl(std::move(name), bounds, std::move(text), visible) {}

  const std::string& Text() const { return Caption; }
  void SetText(const std::string& text);
  void Clear() { SetText(std::string()); }
  // Adds text at the end, cut to what kMaxText leaves room for; a full text
  // stays as it is (and keeps its Revision).
  void Append(const char* text, size_t length);

  // Number of lines, not counting the empty line after a final line break.
  int LineCount() const;
  // Line i, or an empty text outside 0 .. LineCount() - 1.
  std::string Line(int i) const;
  // All lines at once, for walks over the whole transcript (each Line() call
  // checks the layout against the text). Valid until the text changes.
  std::vector<std::string_view> Lines() const;

  // Changes with every change of the text made through the members above
  // (lets the window mirror only when needed).
  unsigned Revision() const { return revision_; }

 private:
  void Layout() const;

  struct TSpan {
    size_t Start;
    size_t Length;
  };
  unsigned revision_ = 0;
  mutable bool laidOut_ = false;
  mutable std::string layoutText_;  // the text lines_ describes
  mutable std::vector<TSpan> lines_;
};

class TTimer {
 public:
  using THandler = std::function<void()>;

  TTimer(std::string name, unsigned interval, bool enabled, std::string handlerName,
         THandler handler)
      : Name(std::move(name)),
        interval_(interval),
        enabled_(enabled),
        handlerName_(std::move(handlerName)),
        handler_(std::move(handler)) {}

  // The host that arms and disarms the timer; set once the window exists.
  // Arms the timer at once if it is enabled.
  void Attach(IFormHost* host);

  bool Enabled() const { return enabled_; }
  unsigned Interval() const { return interval_; }
  const std::string& HandlerName() const { return handlerName_; }

  // While enabled, a different interval or a re-bound handler restarts the
  // count; assigning what the timer already has changes nothing.
  void SetEnabled(bool enabled);
  void SetInterval(unsigned interval);
  void SetOnTimer(const std::string& handlerName, THandler handler);

  // Called by the host when the count has run out.
  void Fire();

  const std::string Name;

 private:
  void Restart();

  IFormHost* host_ = nullptr;
  unsigned interval_;
  bool enabled_;
  std::string handlerName_;
  THandler handler_;
};
