#include "ui/win32/template_bytes.h"

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <commctrl.h>

#include <map>

#include "core/message.h"

namespace plimsy::ui::win32 {
namespace {

// Writes the little-endian pieces of a template, each field at its natural
// place (the items start on 4-byte boundaries).
class cTemplateWriter {
 public:
  explicit cTemplateWriter(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  void word(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  void dword(std::uint32_t value) {
    word(static_cast<std::uint16_t>(value));
    word(static_cast<std::uint16_t>(value >> 16));
  }
  void byte(std::uint8_t value) { bytes_.push_back(value); }
  // A zero-terminated UTF-16 text.
  void text(const std::string& utf8) {
    for (const wchar_t c : widen(utf8)) word(static_cast<std::uint16_t>(c));
    word(0);
  }
  void alignToDword() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }

 private:
  std::vector<std::uint8_t>& bytes_;
};

// The predefined classes a template names by ordinal.
bool classOrdinal(const std::string& className, std::uint16_t& ordinal) {
  static const std::map<std::string, std::uint16_t> ordinals = {
      {"BUTTON", 0x0080}, {"EDIT", 0x0081}, {"STATIC", 0x0082}, {"COMBOBOX", 0x0085}};
  const auto found = ordinals.find(className);
  if (found == ordinals.end()) return false;
  ordinal = found->second;
  return true;
}

bool stylesValue(const sDialogTemplate& dialog, const std::set<std::string>& names, std::uint32_t& value,
                 std::string* message) {
  value = 0;
  for (const std::string& name : names) {
    std::uint32_t one = 0;
    if (!styleValue(name, one))
      return fail(message, "Dialog " + std::to_string(dialog.id) + ": unknown style " + name + ".");
    value |= one;
  }
  return true;
}

}  // namespace

bool styleValue(const std::string& name, std::uint32_t& value) {
  static const std::map<std::string, std::uint32_t> values = {
      {"WS_POPUP", WS_POPUP},
      {"WS_VISIBLE", WS_VISIBLE},
      {"WS_CAPTION", WS_CAPTION},
      {"WS_SYSMENU", WS_SYSMENU},
      {"WS_MINIMIZEBOX", WS_MINIMIZEBOX},
      {"WS_BORDER", WS_BORDER},
      {"WS_TABSTOP", WS_TABSTOP},
      {"WS_VSCROLL", WS_VSCROLL},
      {"WS_GROUP", WS_GROUP},
      {"DS_CENTER", DS_CENTER},
      {"DS_MODALFRAME", DS_MODALFRAME},
      {"DS_SETFONT", DS_SETFONT},
      {"DS_FIXEDSYS", DS_FIXEDSYS},
      {"SS_LEFT", SS_LEFT},
      {"SS_ETCHEDHORZ", SS_ETCHEDHORZ},
      {"ES_AUTOHSCROLL", ES_AUTOHSCROLL},
      {"ES_AUTOVSCROLL", ES_AUTOVSCROLL},
      {"ES_MULTILINE", ES_MULTILINE},
      {"ES_READONLY", ES_READONLY},
      {"BS_PUSHBUTTON", BS_PUSHBUTTON},
      {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
      {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX},
      {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON},
      {"BS_CENTER", BS_CENTER},
      {"CBS_DROPDOWN", CBS_DROPDOWN},
      {"CBS_SORT", CBS_SORT},
      {"PBS_MARQUEE", PBS_MARQUEE},
  };
  const auto found = values.find(name);
  if (found == values.end()) return false;
  value = found->second;
  return true;
}

bool dialogTemplateBytes(const sDialogTemplate& dialog, std::vector<std::uint8_t>& bytes, std::string* message) {
  bytes.clear();
  std::uint32_t dialogStyle = 0;
  if (!stylesValue(dialog, dialog.styles, dialogStyle, message)) return false;
  const bool hasFont = (dialogStyle & DS_SETFONT) != 0;

  std::vector<std::uint8_t> made;
  cTemplateWriter out(made);
  out.word(1);       // dlgVer
  out.word(0xFFFF);  // signature: the extended template
  out.dword(0);      // helpID
  out.dword(0);      // exStyle
  out.dword(dialogStyle);
  out.word(static_cast<std::uint16_t>(dialog.controls.size()));
  out.word(0);  // x, y: placed by DS_CENTER or by the dialog's own code
  out.word(0);
  out.word(static_cast<std::uint16_t>(dialog.width));
  out.word(static_cast<std::uint16_t>(dialog.height));
  out.word(0);  // no menu
  out.word(0);  // the dialog class
  out.text(dialog.caption);
  if (hasFont) {
    out.word(static_cast<std::uint16_t>(dialog.fontPoints));
    out.word(FW_NORMAL);
    out.byte(0);  // not italic
    out.byte(DEFAULT_CHARSET);
    out.text(dialog.fontFace);
  }

  for (const sControlTemplate& control : dialog.controls) {
    std::uint32_t style = 0;
    if (!stylesValue(dialog, control.styles, style, message)) return false;
    style |= WS_CHILD;
    out.alignToDword();
    out.dword(0);  // helpID
    out.dword(0);  // exStyle
    out.dword(style);
    out.word(static_cast<std::uint16_t>(control.rect.x));
    out.word(static_cast<std::uint16_t>(control.rect.y));
    out.word(static_cast<std::uint16_t>(control.rect.width));
    out.word(static_cast<std::uint16_t>(control.rect.height));
    out.dword(static_cast<std::uint32_t>(control.id));  // -1 stays 0xFFFFFFFF
    std::uint16_t ordinal = 0;
    if (classOrdinal(control.className, ordinal)) {
      out.word(0xFFFF);
      out.word(ordinal);
    } else if (control.className == "msctls_progress32") {
      out.text(control.className);
    } else {
      return fail(message,
                  "Dialog " + std::to_string(dialog.id) + ": unknown control class " + control.className + ".");
    }
    out.text(control.text);
    out.word(0);  // no creation data
  }
  bytes = std::move(made);
  return true;
}

}  // namespace plimsy::ui::win32
