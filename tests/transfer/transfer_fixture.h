#pragma once
// The transfer tests' fixture: a loopback server, a scratch folder and a
// recorder of the progress events an action reports.

#include "transfer/download_url.h"
#include "transfer/url_text.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <iostream>
#include <optional>
#include <random>
#include <thread>

#include <sys/resource.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/eventually.h"
#include "tests/support/file_bytes.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scratch_folder.h"
#include "tests/transfer/test_helpers.h"

namespace {

using namespace std::chrono_literals;
using S = TURLDownloadStatus;

struct Event {
    S status;
    std::uint64_t progress;
    std::uint64_t progressMax;
    std::string text;
};

// Records every event; answers Cancel on a redirect as the engine does,
// unless told otherwise.
struct Recorder {
    std::vector<Event> events;
    std::function<bool(const Event&)> cancelWhen = [](const Event& aEvent) {
        return aEvent.status == S::dsRedirecting;
    };

    TDownLoadURL::TDownloadProgressEvent Handler()
    {
        return [this](TDownLoadURL&, std::uint64_t aProgress, std::uint64_t aProgressMax, S aStatus,
                      const std::string& aText, bool& aCancel) {
            EXPECT_FALSE(aCancel);
            events.push_back({aStatus, aProgress, aProgressMax, aText});
            if (cancelWhen)
                aCancel = cancelWhen(events.back());
        };
    }

    std::vector<const Event*> Of(S aStatus) const
    {
        std::vector<const Event*> found;
        for (const Event& event : events)
            if (event.status == aStatus)
                found.push_back(&event);
        return found;
    }

    // The statuses in order, each run of data events as one.
    std::vector<S> Sequence() const
    {
        std::vector<S> sequence;
        for (const Event& event : events)
            if (sequence.empty() || sequence.back() != event.status || event.status != S::dsDownloadingData)
                sequence.push_back(event.status);
        return sequence;
    }
};

class TransferTest : public ::testing::Test {
protected:
    static constexpr const char* kPath = "/dir/sub/case.bin";

    LoopbackServer mServer;
    ScratchFolder mScratch;
    std::string mTarget = (mScratch.Path() / "target.bin").string();

    std::string Run(TDownLoadURL& aAction, const std::string& aUrl, Recorder* aRecorder)
    {
        aAction.SetURL(aUrl);
        aAction.SetFilename(mTarget);
        if (aRecorder)
            aAction.SetOnDownloadProgress(aRecorder->Handler());
        try {
            aAction.ExecuteTarget();
            return "";
        } catch (const TransferError& aError) {
            return aError.what();
        }
    }
};

}  // namespace
