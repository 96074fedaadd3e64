#pragma once
// The record a page hands to its worker threads (the version fetch, the download and the
// progress threads). Started through StartWorker (update/Threads.h) it is shared with
// the thread, so it stays valid until the thread has ended even when the page stops
// waiting first.

#include "update/Waits.h"

namespace flashwise::update {

class CDownloadAgent;

struct WorkerParameterBlock {
    WindowRef firstLabel = nullptr;
    WindowRef secondLabel = nullptr;
    WindowRef progress = nullptr;
    WaitHandle doneEvent = nullptr;
    WaitHandle failureEvent = nullptr;
    WaitHandle thirdEvent = nullptr;
    CDownloadAgent* agent = nullptr;
};

}  // namespace flashwise::update
