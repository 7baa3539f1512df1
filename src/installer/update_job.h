// The update job: the body of the installer's job thread.
#pragma once

namespace orvex {

class InstallerRun;

// Runs the whole job for the product of the run's rendezvous block; the
// outcome lies in the run, and the job's end completes it.
void RunUpdateJob(InstallerRun& run);

}  // namespace orvex
