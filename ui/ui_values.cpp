#include "ui/ui_values.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <algorithm>
#include <charconv>

#include "core/text.h"
#include "engine/crc32.h"
#include "ui/qt_text.h"
#include "version.h"

namespace plimsy::ui {
namespace {

QFont makeHeadingFont() {
  QFont font = QApplication::font("QMenu");
  const int pixels = QFontInfo(font).pixelSize();
  font.setPixelSize(static_cast<int>(pixels * 1.8));
  font.setWeight(static_cast<QFont::Weight>(std::min(1000, static_cast<int>(static_cast<int>(font.weight()) * 1.5))));
  return font;
}

QIcon makeIcon() { return QIcon(QStringLiteral(":/plimsy/icon.png")); }

}  // namespace

sVersionRecord parseVersionRecord(std::string_view fileVersion) {
  std::uint32_t numbers[4] = {};
  const char* next = fileVersion.data();
  const char* end = fileVersion.data() + fileVersion.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (next == end || *next != '.') return {};
      ++next;
    }
    const auto [after, error] = std::from_chars(next, end, numbers[i]);
    if (error != std::errc()) return {};
    next = after;
  }
  if (next != end) return {};
  return {numbers[0] & 0xFF, numbers[1] & 0xFF, numbers[2] & 0xFF, numbers[3] & 0xFF};
}

std::string windowTitle(const sVersionRecord& version) {
  return formatText("%s for Epubs version %u.%u", std::string(kApplicationName), version.minor, version.build);
}

std::string windowTitle() { return windowTitle(uiValues().version); }

std::uint32_t instanceQueryMessage() { return 0xC000u + crc32Of(kInstanceGuid.data(), kInstanceGuid.size()) % 0x4000u; }

const sUiValues& uiValues() {
  static const sUiValues values = [] {
    sUiValues made;
    made.version = parseVersionRecord(kFileVersion);
    made.instanceQueryMessage = instanceQueryMessage();
    made.headingFont = makeHeadingFont();
    made.icon = makeIcon();
    return made;
  }();
  return values;
}

std::string helpPagePath() {
  const QString programFolder = QCoreApplication::applicationDirPath();
  const QString candidates[] = {
      programFolder + QStringLiteral("/help.html"),
      programFolder + QStringLiteral("/../share/plimsy/help.html"),
#ifdef PLIMSY_SOURCE_DIR
      QStringLiteral(PLIMSY_SOURCE_DIR "/docs/help.html"),
#endif
  };
  for (const QString& candidate : candidates)
    if (QFileInfo(candidate).isFile()) return fromQString(QDir::cleanPath(QFileInfo(candidate).absoluteFilePath()));
  return {};
}

}  // namespace plimsy::ui
