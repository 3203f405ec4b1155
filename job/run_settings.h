// From an update job to the worker's inputs for its run.
#pragma once

#include <string>

#include "engine/limits.h"
#include "engine/update_run.h"
#include "job/update_job.h"

namespace quorsel {

// The worker's inputs for a run of this job, reading the container from programPath.
RunSettings RunSettingsFor(const UpdateJob& job, const std::string& programPath, const PeerTimeouts& timeouts);

}  // namespace quorsel
