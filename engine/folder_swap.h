#pragma once

// The unzip job's files folder: the work folder it unpacks into (claimed so
// that no other job uses it), and the swap that puts the work folder in the
// place of the old files folder once every entry is out (after the optional
// backup), or takes the work away again after a failure.

#include <string>

#include "engine/job_control.h"
#include "engine/unzip_job.h"

namespace plimsy {

// The work folder, made by this job alone: the files folder itself when it
// does not exist, else the first tempN beside it that no other job has made.
bool claimWorkFolder(sUnzipContext& context, std::string* message);

// Replaces the old files folder (after the backup) with the work folder; the
// claim on the work folder ends once it is in place.
bool putInPlace(sUnzipContext& context, std::string* message, cWorkClaim& claim);

// After a failure: the work folder goes when the job was told to stop or
// when it holds no file (nothing of value: the archive could not be read, or
// was refused before anything was written), and so do the folders the job
// made above it, when empty. One with files read out of a damaged book stays.
void removeFailedWork(const sUnzipContext& context);

}  // namespace plimsy
