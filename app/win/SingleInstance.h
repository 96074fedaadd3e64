#pragma once
// One copy of the wizard at a time, for the whole desktop session: copies would share
// the named events, the working folder and the device-center services.

namespace flashwise::app {

// True for the copy that runs first; it stays the one until its process ends.
bool ClaimSingleInstance();

// Brings the running copy's window in front (a message box it shows, else its page).
void BringRunningCopyForward();

}  // namespace flashwise::app
