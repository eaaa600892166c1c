#pragma once

// Which findings a repack mends (repack_job.h): the faults of the container's
// own making that the job writes anew - the mimetype entry (missing, not
// first, compressed, with an extra field, holding something else), data
// descriptors, and bytes before the first local header. What lies in the
// book's files (names, container.xml, the package, the content documents)
// and what the job refuses (damaged or encrypted data, two names for one
// entry, overlapping entries, duplicate names) is never mended.

#include <vector>

#include "engine/container_check.h"

namespace plimsy {

// Whether the epub repacked no longer has this finding.
bool repackMends(const sFinding& finding);

// Whether a repack is worth offering: there is at least one error, and
// repack mends every error (warnings do not count either way).
bool repairOffered(const std::vector<sFinding>& findings);

}  // namespace plimsy
