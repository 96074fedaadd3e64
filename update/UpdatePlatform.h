#pragma once
// Everything the update logic needs from the system, in one place: the pages hand it
// to every operation. The program's instance (update/win/SystemUpdatePlatform.h) lives
// for the whole run; tests assemble one from fakes.

#include "image/WorkFolder.h"
#include "update/DesktopShell.h"
#include "update/LinkFactory.h"
#include "update/LocalFiles.h"
#include "update/NamedEvents.h"
#include "update/PackagePayloads.h"
#include "update/RapiApi.h"
#include "update/RunRecord.h"
#include "update/ServiceManager.h"
#include "update/Threads.h"
#include "update/Ticks.h"
#include "update/UpdateJournal.h"
#include "update/UserMessages.h"
#include "update/WaitWindows.h"
#include "update/Waits.h"

namespace flashwise::update {

struct UpdatePlatform {
    RapiApi& rapi;
    LocalFiles& files;
    PackagePayloads& package;
    ServiceManager& services;
    DesktopShell& shell;
    UserMessages& messages;
    Ticks& ticks;
    LinkFactory& links;
    UiWaits& waits;
    EventApi& events;
    Threads& threads;
    WaitWindows& windows;
    // Where every file the program writes goes.
    WorkFolder folder;
    // What a run changes on the desktop, kept where it outlives the process; none: nothing
    // is kept.
    RunRecordStore* record = nullptr;
    // How far an update that sent the phone to its boot loader got; none: nothing is kept.
    UpdateJournalStore* journal = nullptr;
};

}  // namespace flashwise::update
