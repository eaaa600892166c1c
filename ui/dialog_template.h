#pragma once

// Dialog templates as data: the dialog's size, caption, font and styles and a
// table of its controls (id, class, text, rectangle in dialog units, styles),
// kept in resources/dialogs/<id>_<name>.dlg and compiled into the program.
//
// The notation is a small subset of a resource script, one statement a line:
//   DIALOG <id> <width> <height>
//   CAPTION "<text>"
//   FONT <points> "<face>"
//   STYLE <style>...
//   CONTROL <id> <class> "<text>" <x>,<y>,<width>,<height> [<style> | NOT <style>]...
// "#" starts a comment line. In a quoted text, "" stands for one quote.
// Controls are visible unless a NOT WS_VISIBLE says otherwise.

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace plimsy::ui {

// A rectangle in dialog units.
struct sDluRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const sDluRect&) const = default;
};

struct sControlTemplate {
  int id = 0;
  std::string className;  // STATIC, EDIT, BUTTON, COMBOBOX, msctls_progress32
  std::string text;
  sDluRect rect;
  std::set<std::string> styles;

  bool has(std::string_view style) const { return styles.count(std::string(style)) != 0; }
  bool visible() const { return has("WS_VISIBLE"); }
};

struct sDialogTemplate {
  int id = 0;
  int width = 0;   // dialog units
  int height = 0;  // dialog units
  std::string caption;
  int fontPoints = 0;
  std::string fontFace;
  std::set<std::string> styles;
  std::vector<sControlTemplate> controls;

  bool has(std::string_view style) const { return styles.count(std::string(style)) != 0; }
  // The first control with this id; nullptr when there is none.
  const sControlTemplate* control(int controlId) const;
};

// Parses a template text. Fails with "Line <n>: <what is wrong>" at the first
// statement it cannot read (an unknown keyword, class or style included), and
// when the text holds no DIALOG statement.
bool parseDialogTemplate(std::string_view text, sDialogTemplate& dialog, std::string* message);

// The text of the template compiled into the program under this id (101,
// 114 or 116; made from resources/dialogs at build time); empty for any other id.
std::string_view dialogTemplateText(int templateId);

// The template compiled into the program under this id, parsed. Fails
// with "No dialog template <id>." or the parser's message.
bool loadDialogTemplate(int templateId, sDialogTemplate& dialog, std::string* message);

}  // namespace plimsy::ui
