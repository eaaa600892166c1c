#pragma once

// The work order (the parameters of one job) and the settings object (a work
// order plus the user's options), and the one process-wide settings object
// that the user interface and the worker threads share under a lock.

#include <cstdint>
#include <functional>
#include <string>

#include "core/settings_file.h"

namespace plimsy {

// The kinds of job, kept in EpubWorkOrder::DoWhat (a signed 32-bit field).
inline constexpr std::int32_t kDoWhatNothing = 0;   // no job yet
inline constexpr std::int32_t kDoWhatZip = 1;       // pack FilesDir into ZipPath
inline constexpr std::int32_t kDoWhatUnzip = 2;     // unpack ZipPath into FilesDir
inline constexpr std::int32_t kDoWhatAnalysis = 3;  // read ZipPath, write AnalyzeZipLogPath

// The compression level when the options' drop-down has no selection; the
// work-order validation rejects it like any level above 9.
inline constexpr std::uint32_t kNoCompressionLevel = 0xFFFFFFFF;

// The parameters of a job. Field names are also the settings file's element
// names.
struct EpubWorkOrder {
  std::string BackupDir;                // receives backups; empty in a checked job copy: no backups
  std::string ZipPath;                  // the epub: output of a zip, input of an unzip or analysis
  std::string FilesDir;                 // the files folder: input of a zip, output of an unzip
  std::string AnalyzeZipLogPath;        // the analysis log to write
  std::uint64_t tDatetime = 0;          // fixed file time for everything written; 0 = none
  std::uint32_t CompressionLevel = 9;   // deflate level 0..9; 0 stores every entry
  bool RealFileCreationTimes = true;    // without tDatetime: stamp the result with the current time
  bool DeflateCompressedFiles = false;  // deflate images, audio and video too
  std::int32_t DoWhat = kDoWhatNothing;

  bool operator==(const EpubWorkOrder&) const = default;
};

// A work order and the user's options. Copies are deep (value semantics).
class cSettings : public cSettingsXmlBase {
 public:
  EpubWorkOrder workOrder;
  bool SaveBackups = true;
  bool PutBackupsInOriginalLocation = true;  // kept for the options dialog only
  bool UseSpecifiedBackupFolder = false;     // backups go to workOrder.BackupDir
  bool OpenFinishedWork = true;
  bool ShowSuccessMessage = true;
  std::string sDatetime;  // the user's datetime text, parsed into a job copy's tDatetime

  bool operator==(const cSettings&) const = default;

  // The settings file of this process (made once; the folders are made again
  // on every call). Empty when no settings folder can be determined.
  std::string settingsFilePath() const override;
  // "Plimsy".
  std::string applicationName() const override;
  // Appends the 19 lines of the settings file. Always true.
  bool writeXml(std::string& text) const override;
  // Sets every field whose element the text holds. Always true.
  bool readXml(const std::string& text) override;

  // Appends the work order's lines (tDatetime .. AnalyzeZipLogPath).
  void writeXmlWorkOrder(std::string& text) const;
  // Sets every work-order field whose element lies inside `element` (the
  // EpubWorkOrder element's range within `text`).
  void readXmlWorkOrder(std::string_view text, XmlRange element);
};

// ---- The process-wide settings object -----------------------------------------

// A consistent copy of the process-wide settings object, taken under its lock.
cSettings settingsSnapshot();

// Runs `change` on the process-wide settings object under its lock. `change`
// must not call settingsSnapshot, updateSettings, saveSettings or
// loadSettings (the lock is not recursive).
void updateSettings(const std::function<void(cSettings&)>& change);

}  // namespace plimsy
