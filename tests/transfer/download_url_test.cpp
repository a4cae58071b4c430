#include "tests/transfer/transfer_fixture.h"

namespace {

// ---------------------------------------------------------------------------
// Every scenario a transfer must survive, one line each.

enum class Source { Route, FileUrl, LocalPath, ClosedPort };
enum class Handler { CancelOnRedirect, None, NeverCancel };

struct DownloadCase {
    const char* name;
    Source source;
    Reply reply;  // the route's reply; for local sources, body is the file
    Handler handler;
    bool succeeds;
    std::optional<std::string> fileAfter;  // the target afterwards; it held "old" before
    const char* redirect = nullptr;        // expected dsRedirecting text; "/..." is on the test server
    std::size_t minDataEvents = 0;
    bool lengthKnown = true;
    const char* path = nullptr;  // the request's target on the test server; null: kPath
};

void PrintTo(const DownloadCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const std::string kDropBody(10000, 'd');

const DownloadCase kDownloadCases[] = {
    {"good_file",
     Source::Route,
     {.body = "hello world"},
     Handler::CancelOnRedirect,
     true,
     "hello world",
     nullptr,
     1},
    {"empty_body", Source::Route, {.body = ""}, Handler::CancelOnRedirect, true, ""},
    {"not_found_404",
     Source::Route,
     {.status = 404, .body = "<html>gone</html>", .contentType = "text/html"},
     Handler::CancelOnRedirect,
     false,
     "old"},
    {"server_error_500",
     Source::Route,
     {.status = 500, .body = "oops"},
     Handler::CancelOnRedirect,
     false,
     "old"},
    {"redirect_absolute",
     Source::Route,
     {.status = 302, .location = "http://mirror.example/files/new.bin"},
     Handler::CancelOnRedirect,
     false,
     "old",
     "http://mirror.example/files/new.bin"},
    {"redirect_relative",
     Source::Route,
     {.status = 301, .location = "../new.bin"},
     Handler::CancelOnRedirect,
     false,
     "old",
     "/dir/new.bin"},
    // RFC 3986 section 5.4.1: a fragment alone keeps the whole base.
    {"redirect_fragment_only",
     Source::Route,
     {.status = 302, .location = "#s"},
     Handler::CancelOnRedirect,
     false,
     "old",
     "/b/c/d;p?q#s",
     0,
     true,
     "/b/c/d;p?q"},
    // '+' in a query is a plus sign to many servers, never a space.
    {"redirect_raw_spaces",
     Source::Route,
     {.status = 302, .location = "../new file.bin?x y"},
     Handler::CancelOnRedirect,
     false,
     "old",
     "/dir/new%20file.bin?x%20y"},
    // A web server must not make us read local files.
    {"redirect_to_local_file_refused",
     Source::Route,
     {.status = 302, .location = "file:///etc/passwd"},
     Handler::CancelOnRedirect,
     false,
     "old"},
    {"drop_mid_body",
     Source::Route,
     {.body = kDropBody, .dropAfter = 4000},
     Handler::CancelOnRedirect,
     false,
     kDropBody.substr(0, 4000)},
    // curl reads no further than announced; the checksum judges the rest.
    {"longer_than_content_length",
     Source::Route,
     {.body = "0123456789ABCDEF", .claimedLength = 8},
     Handler::CancelOnRedirect,
     true,
     "01234567"},
    {"no_content_length",
     Source::Route,
     {.body = "streamed until close", .sendLength = false},
     Handler::CancelOnRedirect,
     true,
     "streamed until close",
     nullptr,
     1,
     false},
    {"drip_slowly",
     Source::Route,
     {.body = "abcdefghijklmnopqrstuvwxyz", .dripDelay = 20ms, .dripChunk = 5},
     Handler::CancelOnRedirect,
     true,
     "abcdefghijklmnopqrstuvwxyz",
     nullptr,
     3},
    {"file_url",
     Source::FileUrl,
     {.body = std::string("local\0bytes\r\n", 13)},
     Handler::CancelOnRedirect,
     true,
     std::string("local\0bytes\r\n", 13),
     nullptr,
     1},
    {"local_path",
     Source::LocalPath,
     {.body = "plain path"},
     Handler::CancelOnRedirect,
     true,
     "plain path",
     nullptr,
     1},
    {"unreachable_port", Source::ClosedPort, {}, Handler::CancelOnRedirect, false, "old"},
};

class DownloadScenario : public TransferTest, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(DownloadScenario, EndsAsExpected)
{
    const DownloadCase& test = GetParam();
    const std::string path = test.path ? test.path : kPath;
    WriteFileBytes(mTarget, "old");

    std::string url;
    switch (test.source) {
    case Source::Route:
        mServer.SetRoute(path, test.reply);
        url = mServer.Url(path);
        break;
    case Source::FileUrl:
        WriteFileBytes(mScratch.Path() / "source.bin", test.reply.body);
        url = "file://" + (mScratch.Path() / "source.bin").string();
        break;
    case Source::LocalPath: {
        // Spaces, '#', '%' and non-ASCII must reach the file system unchanged.
        const auto source = mScratch.Path() / "so urce #1 %41 \xC3\xB1.bin";
        WriteFileBytes(source, test.reply.body);
        url = source.string();
        break;
    }
    case Source::ClosedPort: url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + kPath; break;
    }

    TDownLoadURL action;
    Recorder recorder;
    if (test.handler == Handler::NeverCancel)
        recorder.cancelWhen = nullptr;
    const std::string error = Run(action, url, test.handler == Handler::None ? nullptr : &recorder);

    if (test.succeeds) {
        EXPECT_EQ(error, "");
        ASSERT_FALSE(recorder.events.empty());
        EXPECT_EQ(recorder.events.back().status, S::dsEndDownloadData);
        EXPECT_EQ(recorder.events.back().progress, test.fileAfter->size());
    } else {
        EXPECT_EQ(error, "Error downloading URL: " + url);
        EXPECT_TRUE(recorder.Of(S::dsEndDownloadData).empty());
    }
    if (test.fileAfter) {
        EXPECT_EQ(ReadFileBytes(mTarget), *test.fileAfter);
    }

    std::vector<std::string> redirects;
    for (const Event* event : recorder.Of(S::dsRedirecting))
        redirects.push_back(event->text);
    if (test.redirect) {
        EXPECT_THAT(redirects, ::testing::ElementsAre(test.redirect[0] == '/' ? mServer.Url(test.redirect)
                                                                              : std::string(test.redirect)));
    } else {
        EXPECT_THAT(redirects, ::testing::IsEmpty());
    }

    const auto data = recorder.Of(S::dsDownloadingData);
    EXPECT_GE(data.size(), test.minDataEvents);
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(data[i]->progress, data[i - 1]->progress);
        }
        if (!test.lengthKnown) {
            EXPECT_EQ(data[i]->progressMax, 0u);
        } else if (test.succeeds) {
            EXPECT_EQ(data[i]->progressMax, test.fileAfter->size());
        }
    }
    // Redirects the handler cancels are not followed: the server saw the one
    // request only.
    if (test.source == Source::Route) {
        EXPECT_THAT(mServer.RequestedPaths(), ::testing::ElementsAre(path));
    }
    EXPECT_EQ(action.Binding(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadScenario, ::testing::ValuesIn(kDownloadCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// Without a handler, or when the handler lets it through, a redirect is
// followed to its target (the info file may have moved, say to https).
TEST_F(TransferTest, RedirectIsFollowedWhenNotCancelled)
{
    for (const bool withHandler : {false, true}) {
        LoopbackServer server{{{kPath, {.status = 302, .location = "/moved.bin"}},
                               {"/moved.bin", {.status = 307, .location = "/final.bin"}},
                               {"/final.bin", {.body = "arrived"}}}};
        TDownLoadURL action;
        Recorder recorder;
        recorder.cancelWhen = nullptr;
        EXPECT_EQ(Run(action, server.Url(kPath), withHandler ? &recorder : nullptr), "");
        EXPECT_EQ(ReadFileBytes(mTarget), "arrived");
        EXPECT_THAT(server.RequestedPaths(), ::testing::ElementsAre(kPath, "/moved.bin", "/final.bin"));
        if (withHandler) {
            EXPECT_EQ(recorder.Of(S::dsRedirecting).size(), 2u);
        }
    }
}

TEST_F(TransferTest, RedirectLoopEndsInAnError)
{
    mServer.SetRoute("/a", {.status = 302, .location = "/b"});
    mServer.SetRoute("/b", {.status = 302, .location = "/a"});
    TDownLoadURL action;
    EXPECT_EQ(Run(action, mServer.Url("/a"), nullptr), "Error downloading URL: " + mServer.Url("/a"));
    EXPECT_LE(mServer.RequestedPaths().size(), 12u);
}

TEST_F(TransferTest, LocalSourceMustBeAPlainFile)
{
    TDownLoadURL action;
    for (const char* source : {"/dev/zero", "file:///dev/zero", "/proc/self"})
        EXPECT_EQ(Run(action, source, nullptr), std::string("Error downloading URL: ") + source);
}

// ---------------------------------------------------------------------------
// A local source that is the target itself must survive: writing would
// truncate the file curl is still reading.

enum class Alias { SamePath, SymlinkTarget, HardLinkTarget };

struct SameFileCase {
    const char* name;
    Alias alias;
    bool asFileUrl;  // the source as file://, else as a plain path
};

void PrintTo(const SameFileCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const SameFileCase kSameFileCases[] = {
    {"same_path", Alias::SamePath, false},
    {"same_path_file_url", Alias::SamePath, true},
    {"symlink_to_source", Alias::SymlinkTarget, false},
    {"hard_link_to_source", Alias::HardLinkTarget, true},
};

class SourceIsTarget : public TransferTest, public ::testing::WithParamInterface<SameFileCase> {};

TEST_P(SourceIsTarget, FailsAndLeavesTheFileIntact)
{
    // Larger than one receive block, so a truncated copy cannot look whole.
    std::string body(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 random(7);
    std::generate(body.begin(), body.end(), [&] { return static_cast<char>(random()); });
    const auto source = mScratch.Path() / "source.bin";
    WriteFileBytes(source, body);
    switch (GetParam().alias) {
    case Alias::SamePath: mTarget = source.string(); break;
    case Alias::SymlinkTarget: std::filesystem::create_symlink(source, mTarget); break;
    case Alias::HardLinkTarget: std::filesystem::create_hard_link(source, mTarget); break;
    }
    const std::string url = (GetParam().asFileUrl ? "file://" : "") + source.string();

    TDownLoadURL action;
    // A link is refused as a link, the others as the source itself.
    EXPECT_THAT(Run(action, url, nullptr),
                ::testing::StartsWith("Error downloading URL: " + url + ": cannot write "));
    EXPECT_TRUE(ReadFileBytes(source) == body);  // not EXPECT_EQ: no 3 MB dump on failure
}

INSTANTIATE_TEST_SUITE_P(Cases, SourceIsTarget, ::testing::ValuesIn(kSameFileCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// ---------------------------------------------------------------------------

TEST_F(TransferTest, GoodTransferReportsEachPhaseInOrder)
{
    mServer.SetRoute(kPath, {.body = std::string(3000, 'g'), .contentType = "text/plain"});
    TDownLoadURL action;
    Recorder recorder;
    ASSERT_EQ(Run(action, mServer.Url(kPath), &recorder), "");

    EXPECT_THAT(recorder.Sequence(),
                ::testing::ElementsAre(S::dsFindingResource, S::dsConnecting, S::dsSendingRequest,
                                       S::dsMIMETypeAvailable, S::dsBeginDownloadData, S::dsDownloadingData,
                                       S::dsEndDownloadData));
    EXPECT_EQ(recorder.Of(S::dsFindingResource).at(0)->text, "127.0.0.1");
    EXPECT_EQ(recorder.Of(S::dsConnecting).at(0)->text, "127.0.0.1");
    EXPECT_EQ(recorder.Of(S::dsMIMETypeAvailable).at(0)->text, "text/plain");
    EXPECT_EQ(recorder.Of(S::dsBeginDownloadData).at(0)->text, mServer.Url(kPath));
    const Event& end = recorder.events.back();
    EXPECT_EQ(end.progress, 3000u);
    EXPECT_EQ(end.progressMax, 3000u);
}

TEST_F(TransferTest, LocalPathWithDotDotFollowsTheLinkFirst)
{
    // x/link/../y is real/y to the kernel, x/y to a lexical reading.
    const auto root = mScratch.Path();
    std::filesystem::create_directories(root / "real" / "sub");
    std::filesystem::create_directories(root / "x");
    std::filesystem::create_directory_symlink(root / "real" / "sub", root / "x" / "link");
    WriteFileBytes(root / "real" / "y", "through the link");
    WriteFileBytes(root / "x" / "y", "lexical");
    const std::string path = (root / "x" / "link").string() + "/../y";
    EXPECT_EQ(LocalPathOf(LocalPathToFileUrl(path)), path);
    for (const std::string& source : {path, LocalPathToFileUrl(path)}) {
        TDownLoadURL action;
        ASSERT_EQ(Run(action, source, nullptr), "") << source;
        EXPECT_EQ(ReadFileBytes(mTarget), "through the link") << source;
    }
}

TEST_F(TransferTest, LocalFileReportsOnlyDataEvents)
{
    const auto source = mScratch.Path() / "source.bin";
    WriteFileBytes(source, "abc");
    TDownLoadURL action;
    Recorder recorder;
    ASSERT_EQ(Run(action, source.string(), &recorder), "");
    EXPECT_THAT(recorder.Sequence(),
                ::testing::ElementsAre(S::dsBeginDownloadData, S::dsDownloadingData, S::dsEndDownloadData));
    EXPECT_EQ(recorder.Of(S::dsBeginDownloadData).at(0)->text, source.string());
    EXPECT_EQ(recorder.events.back().progressMax, 3u);
}

TEST_F(TransferTest, CancelOnFirstCallEndsBeforeAnyRequest)
{
    mServer.SetRoute(kPath, {.body = "never fetched"});
    WriteFileBytes(mTarget, "old");
    TDownLoadURL action;
    Recorder recorder;
    recorder.cancelWhen = [](const Event&) { return true; };
    EXPECT_EQ(Run(action, mServer.Url(kPath), &recorder), "Error downloading URL: " + mServer.Url(kPath));
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].status, S::dsFindingResource);
    EXPECT_EQ(mServer.RequestCount(kPath), 0u);
    EXPECT_EQ(ReadFileBytes(mTarget), "old");
}

TEST_F(TransferTest, CancelWhileDataArrivesFailsAndKeepsThePartialFile)
{
    mServer.SetRoute(kPath, {.body = std::string(100000, 'c'), .dripDelay = 5ms, .dripChunk = 1000});
    TDownLoadURL action;
    Recorder recorder;
    recorder.cancelWhen = [](const Event& aEvent) { return aEvent.status == S::dsDownloadingData; };
    EXPECT_EQ(Run(action, mServer.Url(kPath), &recorder), "Error downloading URL: " + mServer.Url(kPath));
    EXPECT_EQ(recorder.Of(S::dsDownloadingData).size(), 1u);
    EXPECT_EQ(ReadFileBytes(mTarget).size(), recorder.Of(S::dsDownloadingData).at(0)->progress);
}

// The handler's own exception comes out of ExecuteTarget unchanged, after
// curl has been wound up, never through curl's C frames.
TEST_F(TransferTest, HandlerExceptionLeavesExecuteTargetUnchanged)
{
    mServer.SetRoute(kPath, {.body = "data"});
    TDownLoadURL action;
    action.SetURL(mServer.Url(kPath));
    action.SetFilename(mTarget);
    action.SetOnDownloadProgress(
        [](TDownLoadURL&, std::uint64_t, std::uint64_t, S aStatus, const std::string&, bool&) {
            if (aStatus == S::dsDownloadingData)
                throw std::logic_error("handler failed");
        });
    try {
        action.ExecuteTarget();
        ADD_FAILURE() << "no exception";
    } catch (const std::logic_error& aError) {
        EXPECT_STREQ(aError.what(), "handler failed");
    }
    EXPECT_EQ(action.Binding(), nullptr);
}

TEST_F(TransferTest, SilentServerFailsAfterTheSilenceLimit)
{
    mServer.SetRoute(kPath, {.body = std::string(4096, 's'), .stallAfter = 0});
    TDownLoadURL action;
    action.SetSilenceLimit(std::chrono::seconds(1));  // the real limit: 120 s
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(action, mServer.Url(kPath), nullptr), "Error downloading URL: " + mServer.Url(kPath));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(TransferTest, FiveMegabytesArriveIntact)
{
    std::string body(5 * 1024 * 1024, '\0');
    std::mt19937 random(20240611);
    std::generate(body.begin(), body.end(), [&] { return static_cast<char>(random()); });
    mServer.SetRoute(kPath, {.body = body});
    TDownLoadURL action;
    Recorder recorder;
    ASSERT_EQ(Run(action, mServer.Url(kPath), &recorder), "");
    EXPECT_TRUE(ReadFileBytes(mTarget) == body);  // not EXPECT_EQ: no 5 MB dump on failure
    const auto data = recorder.Of(S::dsDownloadingData);
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data.back()->progress, body.size());
    EXPECT_EQ(data.back()->progressMax, body.size());
}

TEST_F(TransferTest, OneActionRunsTransfersInARow)
{
    mServer.SetRoute("/first.bin", {.body = "first"});
    mServer.SetRoute("/second.bin", {.body = "second"});
    TDownLoadURL action;
    EXPECT_EQ(action.Binding(), nullptr);

    std::shared_ptr<TBinding> seen;
    bool boundThroughout = true;
    action.SetOnDownloadProgress(
        [&](TDownLoadURL& aSender, std::uint64_t, std::uint64_t, S, const std::string&, bool&) {
            auto binding = aSender.Binding();
            boundThroughout = boundThroughout && binding;
            if (!seen)
                seen = binding;
        });
    action.SetURL(mServer.Url("/first.bin"));
    action.SetFilename(mTarget);
    ASSERT_NO_THROW(action.ExecuteTarget());
    EXPECT_EQ(action.Binding(), nullptr);
    ASSERT_TRUE(seen);
    seen->Abort();  // after its transfer: does nothing, and must not touch the next one

    const auto second = (mScratch.Path() / "second.bin").string();
    action.SetURL(mServer.Url("/second.bin"));
    action.SetFilename(second);
    ASSERT_NO_THROW(action.ExecuteTarget());
    EXPECT_TRUE(boundThroughout);
    EXPECT_EQ(action.Binding(), nullptr);
    EXPECT_EQ(ReadFileBytes(mTarget), "first");
    EXPECT_EQ(ReadFileBytes(second), "second");
}

// A measurement, not a check: run with --gtest_also_run_disabled_tests.
// Compares the transferring thread's CPU time with the wall time of a 1 GiB
// loopback transfer written to /dev/null.
TEST_F(TransferTest, DISABLED_OneGibibyteThroughput)
{
    constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;
    mServer.SetRoute(kPath, {.body = std::string(1024 * 1024, 'g'), .repeat = kGiB / (1024 * 1024)});
    TDownLoadURL action;
    action.SetURL(mServer.Url(kPath));
    action.SetFilename("/dev/null");
    std::uint64_t events = 0;
    std::uint64_t received = 0;
    action.SetOnDownloadProgress(
        [&](TDownLoadURL&, std::uint64_t aProgress, std::uint64_t, S, const std::string&, bool&) {
            ++events;
            received = aProgress;
        });
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_THREAD, &before);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_NO_THROW(action.ExecuteTarget());
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    getrusage(RUSAGE_THREAD, &after);
    const auto seconds = [](const timeval& aTime) { return aTime.tv_sec + aTime.tv_usec / 1e6; };
    const double user = seconds(after.ru_utime) - seconds(before.ru_utime);
    const double system = seconds(after.ru_stime) - seconds(before.ru_stime);
    EXPECT_EQ(received, kGiB);
    std::cout << "[ measured ] 1 GiB: wall " << wall.count() << " s, " << kGiB / wall.count() / 1e6
              << " MB/s; our thread: user " << user << " s, system " << system << " s; " << events
              << " events\n";
}

}  // namespace
