#include "update/Waits.h"

namespace flashwise::update {

std::size_t WaitForFirstHandle(UiWaits& waits, const std::vector<WaitHandle>& handles) {
    for (;;) {
        waits.DispatchQueued();
        const WakeResult woke = waits.WaitForHandlesOrInput(handles, kWaitForever);
        switch (woke.wake) {
        case Wake::Handle:
            return woke.index;
        case Wake::Input:
        case Wake::TimedOut:
            break;
        case Wake::Failed:
            // A wait that cannot be made would spin for ever.
            return handles.size();
        }
    }
}

}  // namespace flashwise::update
