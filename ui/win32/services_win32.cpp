// The desktop on Windows: message boxes, task dialogs, the common item
// dialog for the pickers, ShellExecuteW for opening and the clipboard.

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "core/paths.h"

#include "core/text.h"
#include "ui/clipboard.h"
#include "ui/control_ids.h"
#include "ui/services.h"
#include "version.h"

namespace plimsy::ui {

using namespace win32;

namespace {

const std::wstring& caption() {
  static const std::wstring text = widen(kApplicationName);
  return text;
}

UINT iconStyle(eIcon icon) {
  switch (icon) {
    case eIcon::Warning: return MB_ICONWARNING;
    case eIcon::Information: return MB_ICONINFORMATION;
    case eIcon::Question: return MB_ICONQUESTION;
  }
  return 0;
}

int messageBox(WindowRef owner, const std::string& text, UINT style) {
  return MessageBoxW(hwndOf(owner), widen(text).c_str(), caption().c_str(), style);
}

// COM for the calling thread while a picker is shown (the program has it
// already; a nested start is only counted).
class cComScope {
 public:
  cComScope() : started_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~cComScope() {
    if (started_) CoUninitialize();
  }
  cComScope(const cComScope&) = delete;
  cComScope& operator=(const cComScope&) = delete;

 private:
  bool started_;
};

// A path line's text the way the shell reads it: "\\" separators, no
// separator at the end (a drive's root keeps its own).
std::string shellPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  while (path.size() > 1 && path.back() == '\\' && !(path.size() == 3 && path[1] == ':')) path.pop_back();
  return path;
}

IShellItem* shellItem(const std::string& path) {
  IShellItem* item = nullptr;
  if (FAILED(
          SHCreateItemFromParsingName(widen(path).c_str(), nullptr, IID_IShellItem, reinterpret_cast<void**>(&item))))
    return nullptr;
  return item;
}

std::function<HRESULT(IFileDialog&, HWND)>& showHook() {
  static std::function<HRESULT(IFileDialog&, HWND)> hook;
  return hook;
}

// The common item dialog, as the pick describes it: its title, its file
// types (the first chosen at first; "All files (*)" offers every file), the
// extension a typed name without one gets, and the folder and name it starts
// from. A file is picked with the save dialog (the button says Save, a new
// name is taken, an existing one is not warned about: the job keeps a
// backup); a folder with the open dialog. Only file-system items can be
// chosen (a virtual folder such as "This PC" has no path).
bool pickPath(WindowRef owner, const sPathPick& pick, bool folder, std::string& path) {
  path.clear();
  cComScope com;
  IFileDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(folder ? CLSID_FileOpenDialog : CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileDialog, reinterpret_cast<void**>(&dialog))))
    return false;
  FILEOPENDIALOGOPTIONS options = 0;
  if (SUCCEEDED(dialog->GetOptions(&options))) {
    options &= ~static_cast<FILEOPENDIALOGOPTIONS>(FOS_FILEMUSTEXIST | FOS_OVERWRITEPROMPT);
    options |= FOS_FORCEFILESYSTEM;
    if (folder) options |= FOS_PICKFOLDERS;
    dialog->SetOptions(options);
  }
  if (!pick.title.empty()) dialog->SetTitle(widen(pick.title).c_str());
  if (!folder && !pick.filters.empty()) {
    std::vector<std::wstring> names;
    std::vector<std::wstring> patterns;
    for (const std::string& filter : pick.filters) {
      // "EPUB (*.epub)": the pattern is in the brackets; Windows writes "every file" as *.*.
      const std::size_t open = filter.rfind('(');
      const std::size_t close = filter.rfind(')');
      std::string pattern = open != std::string::npos && close > open ? filter.substr(open + 1, close - open - 1) : "*";
      std::string name = filter;
      if (pattern == "*") {
        pattern = "*.*";
        if (open != std::string::npos) name = filter.substr(0, open) + "(*.*)";
      }
      names.push_back(widen(name));
      patterns.push_back(widen(pattern));
    }
    std::vector<COMDLG_FILTERSPEC> types;
    for (std::size_t i = 0; i < names.size(); ++i) types.push_back({names[i].c_str(), patterns[i].c_str()});
    dialog->SetFileTypes(static_cast<UINT>(types.size()), types.data());
    dialog->SetFileTypeIndex(1);
  }
  if (!folder && !pick.defaultSuffix.empty()) dialog->SetDefaultExtension(widen(pick.defaultSuffix).c_str());
  // The folder to start in: the line's folder, or the one that holds the line's file.
  const std::string start = shellPath(pick.startPath);
  std::string startFolder;
  std::string startName;
  if (!start.empty()) {
    if (pathKind(start) == PathKind::Folder) {
      startFolder = start;
    } else if (const std::size_t cut = start.find_last_of('\\'); cut != std::string::npos) {
      const std::string parent = start.substr(0, cut == 2 && start[1] == ':' ? 3 : cut);
      if (pathKind(parent) == PathKind::Folder) startFolder = parent;
      startName = start.substr(cut + 1);
    }
  }
  if (IShellItem* item = startFolder.empty() ? nullptr : shellItem(startFolder)) {
    dialog->SetFolder(item);
    item->Release();
  }
  if (!folder && !startName.empty()) dialog->SetFileName(widen(startName).c_str());
  HWND ownerWindow = hwndOf(owner);
  const HRESULT shown = showHook() ? showHook()(*dialog, ownerWindow) : dialog->Show(ownerWindow);
  if (SUCCEEDED(shown)) {
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->GetResult(&item))) {
      wchar_t* name = nullptr;
      if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name))) {
        path = narrow(name);
        CoTaskMemFree(name);
      }
      item->Release();
    }
  }
  dialog->Release();
  return !path.empty();
}

// TaskDialogIndirect lives in Common Controls 6 only, which the program's
// manifest asks for; where it is missing, a message box stands in.
using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

TaskDialogIndirectFunction taskDialogIndirect() {
  static const auto function = [] {
    HMODULE controls = LoadLibraryW(L"comctl32.dll");
    return controls ? reinterpret_cast<TaskDialogIndirectFunction>(
                          reinterpret_cast<void*>(GetProcAddress(controls, "TaskDialogIndirect")))
                    : nullptr;
  }();
  return function;
}

class cWin32Presenter : public cPresenter {
 public:
  void showMessage(WindowRef owner, const std::string& text, eIcon icon) override {
    messageBox(owner, text, MB_OK | iconStyle(icon));
  }

  eAnswer ask(WindowRef owner, const std::string& question) override {
    switch (messageBox(owner, question, MB_YESNOCANCEL | MB_ICONQUESTION)) {
      case IDYES: return eAnswer::Yes;
      case IDNO: return eAnswer::No;
      default: return eAnswer::Cancel;
    }
  }

  bool confirm(WindowRef owner, const std::string& question) override {
    return messageBox(owner, question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  }

  int showTaskDialog(WindowRef owner, const sTaskDialog& task) override {
    const bool ok = task.commonButton == sTaskDialog::eCommonButton::Ok;
    const int common = ok ? kIdOk : kIdCancel;
    const TaskDialogIndirectFunction function = taskDialogIndirect();
    if (!function) {
      const int answer = messageBox(owner, task.instruction + "\n\n" + task.content, MB_OKCANCEL | MB_ICONINFORMATION);
      return answer == IDOK ? kTaskButtonId : common;
    }
    const std::wstring instruction = widen(task.instruction);
    const std::wstring content = widen(task.content);
    const std::wstring buttonText = widen(task.customButton);
    TASKDIALOG_BUTTON button{kTaskButtonId, buttonText.c_str()};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = hwndOf(owner);
    config.hInstance = GetModuleHandleW(nullptr);
    config.dwCommonButtons = ok ? TDCBF_OK_BUTTON : TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = caption().c_str();
    // The program icon where the executable has one.
    if (FindResourceW(config.hInstance, MAKEINTRESOURCEW(kIconResource), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */))
      config.pszMainIcon = MAKEINTRESOURCEW(kIconResource);
    config.pszMainInstruction = instruction.c_str();
    config.pszContent = content.c_str();
    config.cButtons = 1;
    config.pButtons = &button;
    config.nDefaultButton = kTaskButtonId;
    int pressed = 0;
    if (FAILED(function(&config, &pressed, nullptr, nullptr))) return common;
    return pressed == kTaskButtonId ? kTaskButtonId : common;
  }

  bool pickFile(WindowRef owner, const sPathPick& pick, std::string& path) override {
    return pickPath(owner, pick, false, path);
  }
  bool pickFolder(WindowRef owner, const sPathPick& pick, std::string& path) override {
    return pickPath(owner, pick, true, path);
  }
};

class cShellOpener : public cOpener {
 public:
  std::intptr_t open(const std::string& path) override {
    // An empty path would open the current folder.
    if (path.empty()) return SE_ERR_FNF;
    return reinterpret_cast<std::intptr_t>(
        ShellExecuteW(nullptr, L"open", widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  }
};

}  // namespace

namespace win32 {

void setFileDialogShow(std::function<HRESULT(IFileDialog&, HWND)> show) { showHook() = std::move(show); }

cPresenter& desktopPresenter() {
  static cWin32Presenter presenter;
  return presenter;
}

}  // namespace win32

sServices desktopServices() {
  static cShellOpener opener;
  return jobServices(win32::desktopPresenter(), opener, [] { PostQuitMessage(0); });
}

void copyToClipboard(const std::string& text) {
  const std::wstring wide = widen(text);
  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!block) return;
  if (void* target = GlobalLock(block)) {
    std::memcpy(target, wide.c_str(), bytes);
    GlobalUnlock(block);
  }
  if (!OpenClipboard(nullptr)) {
    GlobalFree(block);
    return;
  }
  EmptyClipboard();
  // The clipboard owns the block once it has taken it.
  if (!SetClipboardData(CF_UNICODETEXT, block)) GlobalFree(block);
  CloseClipboard();
}

}  // namespace plimsy::ui
