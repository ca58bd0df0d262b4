// Where a test process may write: one folder per process below $TMPDIR (else /tmp), holding
// the application home the test main installs and every scratch folder tests make. The test
// main creates it before the first test and removes it at exit; the next process removes
// what a crashed one left.
// Thread-safety: processFolder() and processHome() are fixed before the first test runs;
// makeScratchFolder() may be called from any thread.
#pragma once

#include <string>

namespace pindle::testing {

// The folder this process owns ("pindle-test-<pid>-<random>" in the temporary folder).
const std::string& processFolder();
// The application home every test starts and must end with.
const std::string& processHome();
// A new, empty folder below the process folder whose name starts with `prefix`.
std::string makeScratchFolder(const std::string& prefix);

// Called once by the test main. Makes the process folder, removes those of processes that are
// gone, and points the application home at it; see TestMain.cpp.
void setUpProcessFolder();
void removeProcessFolder();

}  // namespace pindle::testing
