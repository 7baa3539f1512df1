// What a run amounts to once the job has run its phases: the next-check time,
// the package run and waited for, or the error report; then the end of the
// job thread's own machinery.
#pragma once

namespace orvex {

class InstallerRun;

void WriteNextUpdateTime(InstallerRun& run);
void CompleteJob(InstallerRun& run);

// The job's last step: clears the status line, completes the job, stops and
// waits for the cancel watcher, and deletes the progress window.
void EndJob(InstallerRun& run);

}  // namespace orvex
