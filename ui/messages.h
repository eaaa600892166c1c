#pragma once

// The messages a dialog object receives. The numbers are the window
// messages' own: on Windows the dialog procedure hands the system's messages
// straight on, and the Qt backend (ui/qt/dialog_bridge.h) turns Qt events
// into the same messages; tests send them straight to a dialog object.

#include <cstdint>
#include <string>
#include <vector>

#include "ui/native_window.h"

namespace plimsy::ui {

inline constexpr std::uint32_t kMsgDestroy = 0x0002;
inline constexpr std::uint32_t kMsgClose = 0x0010;
// A path that a later start of the program was given, for the running
// window (on Windows it comes as WM_COPYDATA tagged kOpenPathCopyData, its
// bytes the path in UTF-8; on Linux over the single-instance socket).
inline constexpr std::uint32_t kMsgOpenPath = 0x004A;
inline constexpr std::uintptr_t kOpenPathCopyData = 0x504C4F50;  // "PLOP"
inline constexpr std::uint32_t kMsgDisplayChange = 0x007E;
inline constexpr std::uint32_t kMsgNcDestroy = 0x0082;
inline constexpr std::uint32_t kMsgInitDialog = 0x0110;
inline constexpr std::uint32_t kMsgCommand = 0x0111;
inline constexpr std::uint32_t kMsgDeviceChange = 0x0219;
inline constexpr std::uint32_t kMsgDropFiles = 0x0233;
inline constexpr std::uint32_t kMsgDpiChanged = 0x02E0;
inline constexpr std::uint32_t kMsgUser = 0x0400;
// Asks a framework dialog for its object: the message result becomes the
// object's address.
inline constexpr std::uint32_t kMsgGetObject = kMsgUser + 3;
// The instance query has no fixed number: see sUiValues::instanceQueryMessage.

struct sMessage {
  std::uint32_t id = 0;
  int controlId = 0;               // kMsgCommand: the control that was pressed
  std::vector<std::string> paths;  // kMsgDropFiles: the dropped items (empty when one is not a local file);
                                   // kMsgOpenPath: the path given
  sPoint point;                    // kMsgDropFiles: the drop point in the dialog's client coordinates
};

inline sMessage commandMessage(int controlId) { return {kMsgCommand, controlId, {}, {}}; }
inline sMessage dropMessage(std::vector<std::string> paths, sPoint point) {
  return {kMsgDropFiles, 0, std::move(paths), point};
}
inline sMessage openPathMessage(std::string path) { return {kMsgOpenPath, 0, {std::move(path)}, {}}; }

}  // namespace plimsy::ui
