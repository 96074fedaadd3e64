#include "update/win/SystemUpdatePlatform.h"

#include "update/win/MessageWait.h"
#include "update/win/SystemDesktopShell.h"
#include "update/win/SystemEvents.h"
#include "update/win/SystemLinkFactory.h"
#include "update/win/SystemLocalFiles.h"
#include "update/win/SystemPackagePayloads.h"
#include "update/win/SystemRapi.h"
#include "update/win/SystemRunRecordStore.h"
#include "update/win/SystemServiceManager.h"
#include "update/win/SystemThreads.h"
#include "update/win/SystemTicks.h"
#include "update/win/SystemUpdateJournalStore.h"
#include "update/win/SystemUserMessages.h"
#include "update/win/SystemWaitWindows.h"

namespace flashwise::update {

UpdatePlatform& SystemUpdatePlatform() {
    static SystemRapi rapi;
    static SystemLocalFiles files;
    static SystemPackagePayloads package;
    static SystemServiceManager services;
    static SystemDesktopShell shell;
    static SystemUserMessages messages;
    static SystemTicks ticks;
    static SystemLinkFactory links;
    static MessageWait waits;
    static SystemEvents events;
    static SystemThreads threads;
    static SystemWaitWindows windows;
    static SystemRunRecordStore record;
    static SystemUpdateJournalStore journal;
    static UpdatePlatform platform{rapi,  files,  package, services, shell,   messages,          ticks,
                                   links, waits,  events,  threads,  windows, WorkFolder::Current(), &record,
                                   &journal};
    return platform;
}

}  // namespace flashwise::update
