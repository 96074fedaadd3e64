#pragma once
// The simulated boot loader's device interface in the prefix's device registry: the
// keys of its interface, its presence (the `Linked` value that discovery with
// DIGCF_PRESENT looks at) and what discovery finds.

#include <string>
#include <vector>

namespace flashwise::bridge::routes {

// The interface keys of the boot-loader class that belong to the simulated device.
std::vector<std::wstring> OurInterfaceKeys();

// Marks every interface of the simulated device present (linked) or absent; false when
// there is none or a key cannot be written.
bool SetInterfacePresent(bool present);

// How many present interfaces of the boot-loader class discovery finds (printing their
// paths unless `quiet`); -1 when discovery itself fails.
int CountPresentInterfaces(bool quiet);

}  // namespace flashwise::bridge::routes
