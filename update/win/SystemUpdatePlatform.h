#pragma once
// The update's view of this machine, one for the whole run. The working folder is taken
// at the first call, before any page can change the current folder.

#include "update/UpdatePlatform.h"

namespace flashwise::update {

UpdatePlatform& SystemUpdatePlatform();

}  // namespace flashwise::update
