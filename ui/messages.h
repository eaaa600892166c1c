#pragma once

// The messages a dialog object receives. The numbers are those of the
// classic window messages, so that a handler reads like the tables it was
// written from; the dialog's Qt bridge (dialog_bridge.h) turns Qt events into
// them, and tests send them straight to a dialog object.

#include <QPoint>
#include <cstdint>
#include <string>
#include <vector>

namespace plimsy::ui {

inline constexpr std::uint32_t kMsgDestroy = 0x0002;
inline constexpr std::uint32_t kMsgMove = 0x0003;
inline constexpr std::uint32_t kMsgSize = 0x0005;
inline constexpr std::uint32_t kMsgClose = 0x0010;
inline constexpr std::uint32_t kMsgDisplayChange = 0x007E;
inline constexpr std::uint32_t kMsgNcDestroy = 0x0082;
inline constexpr std::uint32_t kMsgNcLButtonDown = 0x00A1;
inline constexpr std::uint32_t kMsgNcRButtonDown = 0x00A4;
inline constexpr std::uint32_t kMsgInitDialog = 0x0110;
inline constexpr std::uint32_t kMsgCommand = 0x0111;
inline constexpr std::uint32_t kMsgLButtonDown = 0x0201;
inline constexpr std::uint32_t kMsgRButtonDown = 0x0204;
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
  std::vector<std::string> paths;  // kMsgDropFiles: the dropped items (empty when one is not a local file)
  QPoint point;                    // kMsgDropFiles: the drop point in the dialog's client coordinates
};

inline sMessage commandMessage(int controlId) { return {kMsgCommand, controlId, {}, {}}; }
inline sMessage dropMessage(std::vector<std::string> paths, QPoint point) {
  return {kMsgDropFiles, 0, std::move(paths), point};
}

}  // namespace plimsy::ui
