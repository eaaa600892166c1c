#pragma once

// The ids of the dialogs' controls, as the templates in resources/dialogs
// name them. The code refers to controls only through these names; the
// template tests check that each one stands in its template with the right
// class.

namespace plimsy::ui {

// Ids every dialog shares (the classic OK and Cancel command ids).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// ---- Main dialog, template 101 ------------------------------------------------
inline constexpr int kMainTemplateId = 101;
namespace main_ids {
inline constexpr int kFilesLine = 1055;
inline constexpr int kEpubLine = 1056;
inline constexpr int kBrowseFiles = 1057;
inline constexpr int kBrowseEpub = 1058;
inline constexpr int kHelp = 1062;
inline constexpr int kReportBug = 1063;
inline constexpr int kNotice = 1074;
inline constexpr int kExploreFiles = 1075;
inline constexpr int kOpenEpub = 1076;
inline constexpr int kExploreEpub = 1077;  // hidden; reachable only by its command
inline constexpr int kOptions = 1087;
inline constexpr int kProgress = 1089;
inline constexpr int kSeparator = 1073;
inline constexpr int kZip = 2000;
inline constexpr int kUnzip = 2001;
inline constexpr int kAnalyze = 2003;
inline constexpr int kCheck = 2004;
inline constexpr int kClose = kIdCancel;
}  // namespace main_ids

// ---- Options dialog, template 114 ---------------------------------------------
inline constexpr int kOptionsTemplateId = 114;
namespace options_ids {
inline constexpr int kHeading = 1085;
inline constexpr int kSaveBackups = 1079;
inline constexpr int kBackupsBesideOriginals = 1081;
inline constexpr int kBackupsInFolder = 1082;
inline constexpr int kBackupFolder = 1083;
inline constexpr int kBrowseBackupFolder = 1084;
inline constexpr int kShowSuccessMessage = 1065;
inline constexpr int kOpenFinishedWork = 1059;
inline constexpr int kRealFileCreationTimes = 1077;
inline constexpr int kDeflateCompressedFiles = 2000;
inline constexpr int kCompressionLevel = 1068;
inline constexpr int kDatetime = 1060;
inline constexpr int kAnalysisLog = 1091;
inline constexpr int kBrowseAnalysisLog = 1092;
inline constexpr int kHelp = 1062;
inline constexpr int kRestoreDefaults = 3;
inline constexpr int kSave = kIdOk;
inline constexpr int kCancel = kIdCancel;
}  // namespace options_ids

// ---- Check result dialog, template 116 ----------------------------------------
inline constexpr int kCheckTemplateId = 116;
namespace check_ids {
inline constexpr int kSummary = 1201;
inline constexpr int kFindings = 1202;
inline constexpr int kCopy = 1203;
inline constexpr int kRepair = 1204;
inline constexpr int kClose = kIdCancel;
}  // namespace check_ids

// The custom button of the two task dialogs (analysis summary, bug report).
inline constexpr int kTaskButtonId = 102;

}  // namespace plimsy::ui
