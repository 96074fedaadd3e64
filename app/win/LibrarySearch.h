#pragma once
// The process's library search, narrowed to the system folder before anything else loads.

namespace flashwise::app {

// From now on no library is found beside the program or in the current folder, neither
// when the program loads one nor when a system library loads one of its own: the
// program runs elevated, usually from a download folder anyone's programs can write.
void RestrictLibrarySearch();

}  // namespace flashwise::app
