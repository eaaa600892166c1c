#include "core/settings.h"

#include <mutex>

#include "core/text.h"
#include "version.h"

namespace plimsy {
namespace {

// ---- Writing -------------------------------------------------------------------

void writeNumber32(std::string& text, const char* name, std::uint32_t value) {
  text += formatText("<%s>%u</%s>\n", name, value, name);
}

void writeNumber64(std::string& text, const char* name, std::uint64_t value) {
  text += formatText("<%s>%llu</%s>\n", name, value, name);
}

void writeString(std::string& text, const char* name, const std::string& value) {
  text += formatText("<%s>%s</%s>\n", name, value, name);
}

void writeBool(std::string& text, const char* name, bool value) { writeString(text, name, value ? "true" : "false"); }

// The file keeps only zip (1) and "anything else" (2).
std::uint32_t storedDoWhat(std::int32_t doWhat) { return doWhat == kDoWhatZip ? 1u : 2u; }

// ---- Reading -------------------------------------------------------------------

// Each reader finds the element `name` in `range` and, when found, sets the
// field from its content; a missing element leaves the field alone.
struct ElementReader {
  std::string_view text;
  XmlRange range;

  bool find(const char* name, std::string_view& content) const {
    XmlElement element;
    if (!findElement(text, range, name, element)) return false;
    content = element.content(text);
    return true;
  }
  void readBool(const char* name, bool& field) const {
    std::string_view content;
    if (find(name, content)) field = content == "true";
  }
  void readString(const char* name, std::string& field) const {
    std::string_view content;
    if (find(name, content)) field.assign(content);
  }
  void readNumber32(const char* name, std::uint32_t& field) const {
    std::string_view content;
    if (find(name, content)) field = parseUnsigned32(content);
  }
  void readNumber64(const char* name, std::uint64_t& field) const {
    std::string_view content;
    if (find(name, content)) field = parseUnsigned64(content);
  }
  void readDoWhat(const char* name, std::int32_t& field) const {
    std::string_view content;
    if (find(name, content)) field = parseUnsigned32(content) == 1 ? kDoWhatZip : kDoWhatUnzip;
  }
};

// ---- The process-wide object ---------------------------------------------------------

// Function-local statics: the object exists with its defaults before any code
// that uses it runs, whatever the order of static initialisation.
std::mutex& processSettingsMutex() {
  static std::mutex mutex;
  return mutex;
}

cSettings& processSettings() {
  static cSettings settings;
  return settings;
}

}  // namespace

std::string cSettings::settingsFilePath() const { return plimsy::settingsFilePath(); }

std::string cSettings::applicationName() const { return kApplicationName; }

bool cSettings::writeXml(std::string& text) const {
  text += "<Settings>\n";
  writeBool(text, "OpenFinishedWork", OpenFinishedWork);
  writeBool(text, "ShowSuccessMessage", ShowSuccessMessage);
  writeString(text, "sDatetime", sDatetime);
  writeBool(text, "PutBackupsInOriginalLocation", PutBackupsInOriginalLocation);
  writeBool(text, "UseSpecifiedBackupFolder", UseSpecifiedBackupFolder);
  writeBool(text, "SaveBackups", SaveBackups);
  text += "<EpubWorkOrder>\n";
  writeXmlWorkOrder(text);
  text += "</EpubWorkOrder>\n";
  text += "</Settings>\n";
  return true;
}

void cSettings::writeXmlWorkOrder(std::string& text) const {
  writeNumber64(text, "tDatetime", workOrder.tDatetime);
  writeNumber32(text, "CompressionLevel", workOrder.CompressionLevel);
  writeString(text, "FilesDir", workOrder.FilesDir);
  writeString(text, "ZipPath", workOrder.ZipPath);
  writeNumber32(text, "DoWhat", storedDoWhat(workOrder.DoWhat));
  writeBool(text, "RealFileCreationTimes", workOrder.RealFileCreationTimes);
  writeBool(text, "DeflateCompressedFiles", workOrder.DeflateCompressedFiles);
  writeString(text, "BackupDir", workOrder.BackupDir);
  writeString(text, "AnalyzeZipLogPath", workOrder.AnalyzeZipLogPath);
}

bool cSettings::readXml(const std::string& text) {
  XmlElement root;
  if (!rootElement(text, root)) return true;
  const ElementReader reader{text, root.range()};
  reader.readBool("OpenFinishedWork", OpenFinishedWork);
  reader.readBool("ShowSuccessMessage", ShowSuccessMessage);
  reader.readString("sDatetime", sDatetime);
  reader.readBool("PutBackupsInOriginalLocation", PutBackupsInOriginalLocation);
  reader.readBool("UseSpecifiedBackupFolder", UseSpecifiedBackupFolder);
  reader.readBool("SaveBackups", SaveBackups);
  XmlElement workOrderElement;
  if (findElement(text, root.range(), "EpubWorkOrder", workOrderElement))
    readXmlWorkOrder(text, workOrderElement.range());
  return true;
}

void cSettings::readXmlWorkOrder(std::string_view text, XmlRange element) {
  const ElementReader reader{text, element};
  reader.readNumber64("tDatetime", workOrder.tDatetime);
  reader.readNumber32("CompressionLevel", workOrder.CompressionLevel);
  reader.readString("FilesDir", workOrder.FilesDir);
  reader.readString("ZipPath", workOrder.ZipPath);
  reader.readDoWhat("DoWhat", workOrder.DoWhat);
  reader.readBool("RealFileCreationTimes", workOrder.RealFileCreationTimes);
  reader.readBool("DeflateCompressedFiles", workOrder.DeflateCompressedFiles);
  reader.readString("BackupDir", workOrder.BackupDir);
  reader.readString("AnalyzeZipLogPath", workOrder.AnalyzeZipLogPath);
}

cSettings settingsSnapshot() {
  std::lock_guard lock(processSettingsMutex());
  return processSettings();
}

void updateSettings(const std::function<void(cSettings&)>& change) {
  std::lock_guard lock(processSettingsMutex());
  change(processSettings());
}

}  // namespace plimsy
