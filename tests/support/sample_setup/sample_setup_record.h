// How tests see and steer a run of the sample setup package.
#pragma once

namespace orvex::test {

// Each run records itself under HKCU\<kSampleSetupRecordKey><product>:
//   Runs        DWORD, counts the runs (written last, so its change means the
//               rest of the record is in place)
//   CommandLine the command line it was given
//   Path        its own full path
//   Pid         DWORD, its process id
//   ParentPid   DWORD, the id of the process that started it
// and reads HoldMs (DWORD, default 0): how long to wait before it ends. With
// ReplaceSelf (DWORD, not 0) it first renames its own file to "<file>.old",
// writes "replaced" in its place and records SelfReplaced (DWORD): 1 when it
// could, 0 when it could not within 10 s.
constexpr char kSampleSetupRecordKey[] = "Software\\OrvexTests\\SampleSetup\\";

// When the event kSampleSetupGoEventPrefix + product exists, the run waits for
// it (at most kSampleSetupGoWaitMs) before it ends. HoldMs is capped the same.
constexpr char kSampleSetupGoEventPrefix[] = "orvextest_setup_go_";
constexpr unsigned long kSampleSetupGoWaitMs = 120000;

// Exit codes: installed, a step failed, the file name is not a package name.
constexpr unsigned long kSampleSetupInstalled = 0;
constexpr unsigned long kSampleSetupFailed = 1;
constexpr unsigned long kSampleSetupBadName = 2;

}  // namespace orvex::test
