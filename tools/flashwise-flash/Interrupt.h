#pragma once
// Ctrl-C and termination: the private folders of the release's images go with the
// process instead of staying behind in the temporary folder.

#include <filesystem>

namespace flashwise::flash {

// From main, before anything else: SIGINT, SIGTERM and SIGHUP are taken by a thread of
// their own, which removes the folders still registered and ends the process (status 130).
void CleanUpOnInterrupt();

void RegisterTemporaryFolder(const std::filesystem::path& folder);
void ForgetTemporaryFolder(const std::filesystem::path& folder);

}  // namespace flashwise::flash
