// plimsy-screenshots <folder>: draws the main dialog, the options dialog and
// the result of a check, as the program shows them, into
// <folder>/main-dialog.png, <folder>/options-dialog.png and
// <folder>/check-dialog.png. Run under a display server (the screenshots
// target uses Xvfb). The settings live in a temporary folder for the run, so
// the user's own settings are neither read nor changed.

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "core/settings.h"
#include "ui/check_job.h"
#include "ui/control_ids.h"
#include "ui/dlg_check.h"
#include "ui/dlg_main.h"
#include "ui/dlg_options.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/qt_window.h"
#include "ui/services.h"
#include "ui/ui_values.h"

namespace {

using namespace plimsy;
using namespace plimsy::ui;

void settle() {
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
}

// The dialog's client area in a plain window frame with its title and icon
// (a display server without a window manager draws none).
QImage framed(QWidget* dialog) {
  const QPixmap client = dialog->grab();
  const int titleHeight = 30;
  const int border = 1;
  QImage image(client.width() + 2 * border, client.height() + titleHeight + border, QImage::Format_RGB32);
  image.fill(QColor(0x8C, 0x8C, 0x8C));
  QPainter painter(&image);
  painter.fillRect(QRect(border, border, client.width(), titleHeight - border), QColor(0xE8, 0xE8, 0xE8));
  painter.drawPixmap(border + 6, border + 5, programIcon().pixmap(18, 18));
  QFont font = QApplication::font();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor(0x20, 0x20, 0x20));
  painter.drawText(QRect(border + 30, border, client.width() - 60, titleHeight - border), Qt::AlignVCenter,
                   dialog->windowTitle());
  painter.drawText(QRect(border + client.width() - 28, border, 22, titleHeight - border), Qt::AlignCenter,
                   QStringLiteral("✕"));
  painter.drawPixmap(border, titleHeight, client);
  return image;
}

bool save(QWidget* dialog, const QString& path) {
  settle();
  if (!framed(dialog).save(path)) {
    std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("Written: %s\n", qPrintable(path));
  return true;
}

// What a check finds in a book whose mimetype was deflated and whose data
// descriptors were kept: faults a repack mends, so Repair is offered.
std::vector<sFinding> sampleFindings() {
  return {
      {"PKG-007", eSeverity::Error, "mimetype", "mimetype is compressed (method 8); it must be stored."},
      {"PLM-001", eSeverity::Warning, "OEBPS/text/chapter1.xhtml",
       "The entry's sizes and CRC-32 follow its data in a data descriptor, not in its local header."},
      {"PLM-001", eSeverity::Warning, "OEBPS/text/chapter2.xhtml",
       "The entry's sizes and CRC-32 follow its data in a data descriptor, not in its local header."},
  };
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir settingsFolder;  // private (mode 0700), so it serves as the runtime folder too
  qputenv("XDG_CONFIG_HOME", settingsFolder.path().toUtf8());
  qputenv("XDG_RUNTIME_DIR", settingsFolder.path().toUtf8());
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: plimsy-screenshots <folder>\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);

  updateSettings([](cSettings& settings) {
    settings.workOrder.FilesDir = "/home/reader/books/the-lighthouse/";
    settings.workOrder.ZipPath = "/home/reader/books/the-lighthouse.epub";
    settings.workOrder.AnalyzeZipLogPath = "/home/reader/books/analysis.txt";
    settings.sDatetime = "2024-05-01";
  });
  sServices services = desktopServices();
  services.quit = [] {};
  cDlgMain mainDialog(services);
  std::string message;
  if (!mainDialog.create(nullptr, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  if (!save(qtWidget(mainDialog.dialogWindow()), folder + QStringLiteral("/main-dialog.png"))) return 1;

  cDlgOptions options(services);
  if (!options.createModal(mainDialog.dialogWindow(), &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  if (!save(qtWidget(options.dialogWindow()), folder + QStringLiteral("/options-dialog.png"))) return 1;
  options.endDialog(kIdCancel);

  cDlgCheckResult check(checkView(settingsSnapshot().workOrder.ZipPath, sampleFindings(), false));
  if (!check.createModal(mainDialog.dialogWindow(), &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  if (!save(qtWidget(check.dialogWindow()), folder + QStringLiteral("/check-dialog.png"))) return 1;
  return 0;
}
