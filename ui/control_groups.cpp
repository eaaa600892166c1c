#include "ui/control_groups.h"

namespace plimsy::ui {
namespace {

struct sGroupBounds {
  std::size_t first = 0;
  std::size_t end = 0;  // one past the last control
};

sGroupBounds groupOf(const sDialogTemplate& dialog, std::size_t index) {
  const auto& controls = dialog.controls;
  sGroupBounds bounds{index, index + 1};
  while (bounds.first > 0 && !controls[bounds.first].has("WS_GROUP")) --bounds.first;
  while (bounds.end < controls.size() && !controls[bounds.end].has("WS_GROUP")) ++bounds.end;
  return bounds;
}

}  // namespace

bool arrowsMoveWithinGroup(const sControlTemplate& control) { return control.className == "BUTTON"; }

bool canTakeFocus(const sControlTemplate& control) {
  return control.className != "STATIC" && control.className != "msctls_progress32";
}

std::optional<std::size_t> nextGroupControl(const sDialogTemplate& dialog, std::size_t from, bool previous,
                                            const std::function<bool(std::size_t)>& available) {
  if (from >= dialog.controls.size()) return std::nullopt;
  const sGroupBounds group = groupOf(dialog, from);
  const std::size_t size = group.end - group.first;
  std::size_t offset = from - group.first;
  for (std::size_t step = 1; step < size; ++step) {
    offset = previous ? (offset + size - 1) % size : (offset + 1) % size;
    const std::size_t candidate = group.first + offset;
    if (canTakeFocus(dialog.controls[candidate]) && available(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace plimsy::ui
