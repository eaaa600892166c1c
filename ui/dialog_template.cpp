#include "ui/dialog_template.h"

#include <charconv>
#include <map>

#include "core/message.h"

namespace plimsy::ui {
namespace {

const std::set<std::string>& knownClasses() {
  static const std::set<std::string> classes = {"STATIC", "EDIT", "BUTTON", "COMBOBOX", "msctls_progress32"};
  return classes;
}

const std::set<std::string>& knownStyles() {
  static const std::set<std::string> styles = {
      "WS_POPUP",     "WS_VISIBLE",    "WS_CAPTION",       "WS_SYSMENU",      "WS_MINIMIZEBOX",     "WS_BORDER",
      "WS_TABSTOP",   "WS_VSCROLL",    "WS_GROUP",         "DS_CENTER",       "DS_MODALFRAME",      "DS_SETFONT",
      "DS_FIXEDSYS",  "SS_LEFT",       "SS_ETCHEDHORZ",    "ES_AUTOHSCROLL",  "ES_AUTOVSCROLL",     "ES_MULTILINE",
      "ES_READONLY",  "BS_PUSHBUTTON", "BS_DEFPUSHBUTTON", "BS_AUTOCHECKBOX", "BS_AUTORADIOBUTTON", "BS_CENTER",
      "CBS_DROPDOWN", "CBS_SORT",      "PBS_MARQUEE"};
  return styles;
}

// The words of one statement: bare words, and quoted texts (kept with a
// leading quote so that an empty text stays a word of its own).
bool splitWords(std::string_view line, std::vector<std::string>& words, std::string& problem) {
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c != '"') {
      const std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
      words.emplace_back(line.substr(start, i - start));
      continue;
    }
    std::string text = "\"";
    ++i;
    for (;;) {
      if (i >= line.size()) {
        problem = "unterminated text";
        return false;
      }
      if (line[i] == '"') {
        if (i + 1 < line.size() && line[i + 1] == '"') {
          text += '"';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      text += line[i++];
    }
    words.push_back(std::move(text));
  }
  return true;
}

bool isQuoted(const std::string& word) { return !word.empty() && word[0] == '"'; }

bool toInt(std::string_view word, int& value) {
  const char* end = word.data() + word.size();
  const auto [next, error] = std::from_chars(word.data(), end, value);
  return error == std::errc() && next == end;
}

bool toRect(const std::string& word, sDluRect& rect) {
  int values[4] = {};
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t comma = part < 3 ? word.find(',', start) : word.size();
    if (comma == std::string::npos || !toInt(std::string_view(word).substr(start, comma - start), values[part]))
      return false;
    start = comma + 1;
  }
  rect = {values[0], values[1], values[2], values[3]};
  return true;
}

// Applies "STYLE" words (with NOT) to a style set; false at an unknown style.
bool applyStyles(const std::vector<std::string>& words, std::size_t first, std::set<std::string>& styles,
                 std::string& problem) {
  for (std::size_t i = first; i < words.size(); ++i) {
    const bool negate = words[i] == "NOT";
    if (negate && ++i == words.size()) {
      problem = "NOT without a style";
      return false;
    }
    if (!knownStyles().count(words[i])) {
      problem = "unknown style " + words[i];
      return false;
    }
    if (negate)
      styles.erase(words[i]);
    else
      styles.insert(words[i]);
  }
  return true;
}

bool parseControl(const std::vector<std::string>& words, sControlTemplate& control, std::string& problem) {
  if (words.size() < 5 || !toInt(words[1], control.id) || !isQuoted(words[3]) || !toRect(words[4], control.rect)) {
    problem = "expected CONTROL <id> <class> \"<text>\" <x>,<y>,<width>,<height> <styles>";
    return false;
  }
  control.className = words[2];
  if (!knownClasses().count(control.className)) {
    problem = "unknown class " + control.className;
    return false;
  }
  control.text = words[3].substr(1);
  control.styles = {"WS_VISIBLE"};
  return applyStyles(words, 5, control.styles, problem);
}

bool parseStatement(const std::vector<std::string>& words, sDialogTemplate& dialog, bool& haveDialog,
                    std::string& problem) {
  const std::string& keyword = words[0];
  if (keyword == "DIALOG") {
    if (words.size() != 4 || !toInt(words[1], dialog.id) || !toInt(words[2], dialog.width) ||
        !toInt(words[3], dialog.height)) {
      problem = "expected DIALOG <id> <width> <height>";
      return false;
    }
    haveDialog = true;
    return true;
  }
  if (!haveDialog) {
    problem = keyword + " before DIALOG";
    return false;
  }
  if (keyword == "CAPTION" && words.size() == 2 && isQuoted(words[1])) {
    dialog.caption = words[1].substr(1);
    return true;
  }
  if (keyword == "FONT" && words.size() == 3 && toInt(words[1], dialog.fontPoints) && isQuoted(words[2])) {
    dialog.fontFace = words[2].substr(1);
    return true;
  }
  if (keyword == "STYLE") return applyStyles(words, 1, dialog.styles, problem);
  if (keyword == "CONTROL") {
    sControlTemplate control;
    if (!parseControl(words, control, problem)) return false;
    dialog.controls.push_back(std::move(control));
    return true;
  }
  problem = "cannot read " + keyword + " statement";
  return false;
}

}  // namespace

const sControlTemplate* sDialogTemplate::control(int controlId) const {
  for (const sControlTemplate& c : controls)
    if (c.id == controlId) return &c;
  return nullptr;
}

bool parseDialogTemplate(std::string_view text, sDialogTemplate& dialog, std::string* message) {
  dialog = {};
  bool haveDialog = false;
  int lineNumber = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    std::vector<std::string> words;
    std::string problem;
    if (!splitWords(line, words, problem))
      return fail(message, "Line " + std::to_string(lineNumber) + ": " + problem + ".");
    if (words.empty() || words[0][0] == '#') continue;
    if (!parseStatement(words, dialog, haveDialog, problem))
      return fail(message, "Line " + std::to_string(lineNumber) + ": " + problem + ".");
  }
  if (!haveDialog) return fail(message, "No DIALOG statement.");
  return true;
}

bool loadDialogTemplate(int templateId, sDialogTemplate& dialog, std::string* message) {
  const std::string_view text = dialogTemplateText(templateId);
  if (text.empty()) return fail(message, "No dialog template " + std::to_string(templateId) + ".");
  return parseDialogTemplate(text, dialog, message);
}

}  // namespace plimsy::ui
