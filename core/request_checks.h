#pragma once

// The checks that complete a request before a job starts: they insist on the
// paths the job needs, offer to choose a missing output path, refuse an epub
// inside the folder it is made from, resolve where backups go and turn the
// datetime text into a file time. Each speaks to the user in a sentence that
// names the mistake (see core/message.h for the message convention; a false
// result with an empty message means the user declined an offer).

#include <string>

#include "core/settings.h"

namespace plimsy {

// Control ids of the main dialog's two path lines.
inline constexpr int kFilesLineId = 1055;
inline constexpr int kEpubLineId = 1056;

// What the checks need of the user interface: the GUI implements it with a
// message box and its path lines, the command line with its own answers.
class cRequestUi {
 public:
  virtual ~cRequestUi() = default;
  // Asks a yes/no/cancel question (caption "Plimsy", question icon); true
  // only when the user answers Yes.
  virtual bool offer(const std::string& question) = 0;
  // Shows a path the checks chose in the path line with this control id.
  virtual void showChosenPath(int controlId, const std::string& path) = 0;
};

// Zip request on a job copy: sets DoWhat to 1, checks FilesDir, offers
// book<N>.epub beside the files folder when ZipPath is empty, then runs
// checkJobOptions.
bool checkZipRequest(cRequestUi& ui, std::string* message, cSettings& jobCopy);

// Unzip request on a job copy: sets DoWhat to 2, checks ZipPath, offers
// files<N> beside the epub when FilesDir is empty, then runs checkJobOptions.
bool checkUnzipRequest(cRequestUi& ui, std::string* message, cSettings& jobCopy);

// The last step of both: an epub path that names a pipe, socket or device is
// refused; the epub must not lie in the files folder's tree; an unzip's files
// folder must not be a file (checkFilesFolderTarget);
// BackupDir becomes empty (no backups), the epub's folder, or the user's
// folder (made when missing); a datetime text is parsed into tDatetime.
bool checkJobOptions(std::string* message, cSettings& jobCopy);

// BackupDir as checkJobOptions resolves it for ZipPath: empty (no backups),
// the epub's folder, or the user's folder (made when missing).
bool resolveBackupFolderFor(std::string* message, cSettings& jobCopy);

// The job's source must be named and exist with the right kind: FilesDir for
// a zip (DoWhat 1), ZipPath for an unzip (DoWhat 2; a pipe, socket or device
// is refused, naming it). Any other DoWhat passes.
bool checkJobSource(std::string* message, const EpubWorkOrder& order);

// An unzip's files folder that names a file (its path fills the
// placeholder): putting the new folder in its place would delete the file.
inline constexpr const char* kFilesFolderIsFileMessage = "The files folder is a file:\n%s";

// An unzip (DoWhat 2) must not put its folder in the place of a file, a link
// that leads nowhere, a pipe or a device: FilesDir, taken without its trailing
// separators, must be a folder or missing. Checked by checkJobOptions and by
// the unzip job itself, before anything is written. Any other DoWhat passes.
bool checkFilesFolderTarget(std::string* message, const EpubWorkOrder& order);

// A backup folder must not lie inside the files folder (a zip would pack its
// own backups; an unzip would delete them with the old folder). Passes when
// either path is empty; isInDirectoryTree's messages pass through.
bool checkBackupOutsideFiles(std::string* message, const EpubWorkOrder& order);

// Analysis request on the given settings object: sets DoWhat to 3, insists on
// ZipPath, refuses an epub or log that is a pipe, socket or device, and offers analysis.txt in the temporary-files
// folder when no log path is set.
bool checkAnalysisRequest(cRequestUi& ui, std::string* message, cSettings& settings);

// The same on the process-wide settings object (the question is asked without
// holding its lock).
bool checkAnalysisRequest(cRequestUi& ui, std::string* message);

}  // namespace plimsy
