#pragma once
// Each phone-side helper implements this; HelperEntry.cpp is the process entry for
// the phone's and the simulated build alike. The helpers take no arguments.

namespace flashwise::phone {
int HelperMain();
}
