#pragma once

// What the dialogs and the job runner need from the desktop, behind two
// interfaces so that tests can stand in for the user and for the desktop:
//   cPresenter  message boxes, questions, task dialogs and the two pickers
//               (modal, on the GUI thread, caption "Plimsy")
//   cOpener     opens a file or folder in the program the desktop associates
//               with it (the finished work, the analysis log, the user guide)
// All calls are made on the GUI thread.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "engine/statistics.h"
#include "ui/native_window.h"

namespace plimsy::ui {

enum class eIcon { Warning, Information, Question };
enum class eAnswer { Yes, No, Cancel };

// A message box with a main instruction, a text, one custom button (id
// kTaskButtonId) that is the default, and one common button.
struct sTaskDialog {
  enum class eCommonButton { Ok, Cancel };
  std::string instruction;
  std::string content;
  std::string customButton;
  eCommonButton commonButton = eCommonButton::Ok;
};

// What a picker is for: its title, the kinds of file it offers ("EPUB
// (*.epub)"; the first is chosen at first, the last is "All files (*)"), the
// extension a typed name without one gets, and the path it starts from (a
// path line's text; it may name something that does not exist yet).
struct sPathPick {
  std::string title;
  std::vector<std::string> filters;
  std::string defaultSuffix;
  std::string startPath;
};

// The pickers of the dialogs' browse buttons.
sPathPick epubPick(const std::string& startPath);
sPathPick filesFolderPick(const std::string& startPath);
sPathPick backupFolderPick(const std::string& startPath);
sPathPick analysisLogPick(const std::string& startPath);

class cPresenter {
 public:
  virtual ~cPresenter() = default;
  virtual void showMessage(WindowRef owner, const std::string& text, eIcon icon) = 0;
  // A Yes/No/Cancel question with the question icon.
  virtual eAnswer ask(WindowRef owner, const std::string& question) = 0;
  // A Yes/No question with the question icon, No being the default and the
  // answer to Escape; true only for Yes.
  virtual bool confirm(WindowRef owner, const std::string& question) = 0;
  // Returns kTaskButtonId for the custom button, kIdOk or kIdCancel otherwise
  // (closing the box counts as the common button).
  virtual int showTaskDialog(WindowRef owner, const sTaskDialog& task) = 0;
  // Pickers, as `pick` describes them: true when a non-empty path was chosen;
  // on cancel false and an empty path. The file picker is a save-style
  // dialog: it accepts a name that does not exist yet, adds the default
  // extension to a name typed without one, and does not warn about an
  // existing file.
  virtual bool pickFile(WindowRef owner, const sPathPick& pick, std::string& path) = 0;
  virtual bool pickFolder(WindowRef owner, const sPathPick& pick, std::string& path) = 0;
};

class cOpener {
 public:
  virtual ~cOpener() = default;
  // Opens the file or folder; returns a classic shell result: above 32 on
  // success, else an error code that shellExecuteErrorText explains.
  virtual std::intptr_t open(const std::string& path) = 0;
};

// The jobs the runner starts (tests replace them with jobs they control).
using JobFunction = std::function<bool(const EpubWorkOrder& order, std::string* message, sStatistics& statistics)>;

struct sServices {
  cPresenter* presenter = nullptr;
  cOpener* opener = nullptr;
  JobFunction zip;
  JobFunction unzip;
  // Ends the program's event loop (the main dialog calls it when destroyed).
  std::function<void()> quit;
};

// Services with this presenter and opener, zipJob and unzipJob, and `quit`.
sServices jobServices(cPresenter& presenter, cOpener& opener, std::function<void()> quit);

// The window backend's presenter and opener (the desktop's message boxes,
// pickers and file opener), zipJob, unzipJob and the end of the event loop.
sServices desktopServices();

// Opens the user guide; returns the message for a failure, which names the
// page (or, when none was found, the first place it was looked for), or
// empty on success.
std::string openHelpPage(cOpener& opener);

}  // namespace plimsy::ui
