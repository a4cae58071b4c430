#pragma once
// The worker's hand-over of its running transfer to CancelDownload and the
// stall timer.

#include <mutex>

#include "transfer/download_url.h"

// Publishes the running action to CancelDownload and the stall timer, and
// withdraws it on every way out, before the action itself goes.
class RunningAction {
public:
    RunningAction(std::mutex& aMutex, TDownLoadURL*& aSlot, TDownLoadURL& aAction)
        : mMutex(aMutex), mSlot(aSlot)
    {
        std::lock_guard lock(mMutex);
        mSlot = &aAction;
    }
    ~RunningAction()
    {
        std::lock_guard lock(mMutex);
        mSlot = nullptr;
    }
    RunningAction(const RunningAction&) = delete;
    RunningAction& operator=(const RunningAction&) = delete;

private:
    std::mutex& mMutex;
    TDownLoadURL*& mSlot;
};
