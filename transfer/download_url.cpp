#include "transfer/download_url.h"
#include "transfer/curl_easy.h"
#include "transfer/local_files.h"
#include "transfer/range_reply.h"
#include "transfer/target_file.h"
#include "transfer/url_text.h"

#include "platform/file_handles.h"
#include "platform/folder_handle.h"
#include "platform/posix_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include <curl/curl.h>

#include "platform/text.h"

namespace {

// Large reads keep a fast line at disk speed: at curl's default 16 KiB the
// per-chunk work dominates on loopback. Writes go out in TBlockWriter's blocks.
constexpr long kReceiveBufferSize = 512 * 1024;
// Only a bound on one wait: Abort wakes the wait at once.
constexpr int kPollTimeoutMs = 5000;
constexpr int kMaxRedirects = 10;  // followed when the handler lets a redirect through

std::string SocketAddressText(const curl_sockaddr& aAddress)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (aAddress.family == AF_INET) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(&aAddress.addr);
        inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    } else if (aAddress.family == AF_INET6) {
        const auto* address = reinterpret_cast<const sockaddr_in6*>(&aAddress.addr);
        inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text);
    }
    return text;
}

std::optional<std::uint64_t> FreeSpaceOf(int aFd)
{
    struct statvfs info {};
    if (::fstatvfs(aFd, &info) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

// "512 bytes", "200.0 MB", "1.1 GB": units of 1024, as the size text of the
// info file counts them.
std::string ByteCountText(std::uint64_t aBytes)
{
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    if (aBytes < 1024)
        return std::to_string(aBytes) + (aBytes == 1 ? " byte" : " bytes");
    double value = static_cast<double>(aBytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

// The last component of an address or path, for messages that name the file
// rather than where it came from.
std::string ShownFileName(const std::string& aAddress)
{
    std::string path = aAddress.substr(0, aAddress.find_first_of("?#"));
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

struct TDownLoadURL::Connections {
    CurlMulti multi{curl_multi_init()};
};

TDownLoadURL::TDownLoadURL() : mConnections(std::make_unique<Connections>()) {}

TDownLoadURL::~TDownLoadURL() = default;

// One transfer: owns the curl handles and the target file, and turns curl's
// callbacks into progress events. Everything here runs on the thread that
// called ExecuteTarget. No exception may leave a curl callback, so the
// callbacks catch, remember and stop; Run rethrows after curl has returned.
class TDownLoadURL::Transfer {
public:
    Transfer(TDownLoadURL& aAction, const TBinding& aBinding, std::string aURL)
        : mAction(aAction),
          mBinding(aBinding),
          mMessageURL(aAction.URL()),
          mURL(std::move(aURL)),
          mFilename(aAction.Filename()),
          mHandler(aAction.mOnDownloadProgress),
          mOpener(aAction.mTargetOpener),
          mResume(aAction.mResume),
          mDigestWanted(aAction.mDigestWhileWriting),
          mDigestSha256(aAction.mDigestSha256),
          mByteLimit(aAction.mByteLimit),
          mExpectedSize(aAction.mExpectedSize),
          mFreeSpaceProbe(aAction.mFreeSpaceProbe ? aAction.mFreeSpaceProbe : FreeSpaceOf),
          mMulti(aAction.mConnections->multi.get()),
          mEasy(curl_easy_init())
    {
    }

    ~Transfer()
    {
        if (mAdded)
            curl_multi_remove_handle(mMulti, mEasy.get());
    }

    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    CURLM* Multi() const { return mMulti; }
    // After Run: the digests of the file as written, when they were wanted
    // and the file is still the one written.
    std::optional<TFileDigestTexts>& WrittenDigest() { return mWrittenDigest; }
    const std::optional<TWrittenFile>& WrittenFile() const { return mWrittenFile; }
    // After Run: the web address that a redirect sent us to and that the
    // handler let us follow; empty when the transfer ended without one.
    const std::string& FollowTarget() const { return mFollowTarget; }

    // Throws TransferError, or what the handler threw. Returns normally with
    // FollowTarget set when a redirect is to be followed.
    void Run()
    {
        if (!mEasy || !mMulti || IsBlank(mURL))
            Fail();
        try {
            const std::string address = NormalizeAddress(mURL);
            mAddress = HasScheme(address) ? address : LocalPathToFileUrl(address);
        } catch (const std::filesystem::filesystem_error&) {
            Fail();  // no current folder to make the path absolute
        }
        mIsWeb = IsWebAddress(mAddress);
        // A local source must be a plain file: a device or a pipe named by a
        // hostile info file would never end or never answer.
        if (!mIsWeb) {
            mSourcePath = LocalPathOf(mAddress);
            if (mSourcePath.empty() || !IsRegularLocalFile(mSourcePath))
                Fail();
        }
        Configure();

        // curl resolves the name first thing; a file has no name to find.
        if (mIsWeb && !Notify(mBase, 0, TURLDownloadStatus::dsFindingResource, HostOf(mAddress)))
            Finish(false);
        if (curl_multi_add_handle(mMulti, mEasy.get()) != CURLM_OK)
            Fail();
        mAdded = true;

        const bool completed = Drive();
        if (!mFollowTarget.empty() && !mCallbackError && !mBinding.Aborted())
            return;
        mFollowTarget.clear();
        // An empty body still makes an empty file.
        const bool begun = completed && (mBegun || BeginData());
        Finish(begun && CheckLength());
    }

private:
    void Configure()
    {
        CURL* easy = mEasy.get();
        curl_easy_setopt(easy, CURLOPT_URL, mAddress.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,file");
        // A local path is the file system's to read: "/x/link/../y" is where
        // the link leads, not "/x/y".
        if (!mIsWeb)
            curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
        SetCommonOptions(easy);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
        // A backstop for transfers that nothing else watches (the info file,
        // a newer wizard): a server that goes silent must not hold the wizard
        // for good.
        if (mAction.mSilenceLimit.count() > 0) {
            curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(mAction.mSilenceLimit.count()));
        }
        // The owner decides about a redirect: it gets the target and the
        // next attempt starts there.
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Transfer::OnOpenSocket);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::OnPrereq);
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        if (mIsWeb && mResume && mResume->held > 0 && IsUsableValidator(mResume->validator)) {
            // Until a reply says otherwise the held bytes count as received.
            mRangeAsked = true;
            mBase = mResume->held;
            mRange = std::to_string(mResume->held) + "-";
            curl_easy_setopt(easy, CURLOPT_RANGE, mRange.c_str());
            mHeaders.reset(curl_slist_append(nullptr, ("If-Range: " + mResume->validator).c_str()));
            if (!mHeaders)
                Fail();
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, mHeaders.get());
        }
    }

    // True when curl finished the transfer without error.
    bool Drive()
    {
        int running = 1;
        while (!Stopped()) {
            if (curl_multi_perform(mMulti, &running) != CURLM_OK)
                return false;
            if (running == 0)
                break;
            if (Stopped())
                return false;
            if (curl_multi_poll(mMulti, nullptr, 0, kPollTimeoutMs, nullptr) != CURLM_OK)
                return false;
        }
        if (running != 0)
            return false;
        int left = 0;
        while (const CURLMsg* message = curl_multi_info_read(mMulti, &left)) {
            if (message->msg == CURLMSG_DONE)
                return message->data.result == CURLE_OK && !Stopped();
        }
        return false;
    }

    bool Stopped() const { return mStopped || mBinding.Aborted(); }

    // Ends the transfer: writes out and closes the file, reports the end and
    // takes the digests, or throws.
    void Finish(bool aSucceeded)
    {
        bool flushed = !mTarget || mTarget->Flush();
        if (!flushed)
            NoteWriteFailure(errno);
        if (mCallbackError) {
            CloseFile();
            std::rethrow_exception(mCallbackError);
        }
        if (!aSucceeded || !flushed || Stopped())
            Fail();
        if (!Notify(mBase + mReceived, ProgressMax(), TURLDownloadStatus::dsEndDownloadData, mURL)) {
            if (mCallbackError) {
                CloseFile();
                std::rethrow_exception(mCallbackError);
            }
            Fail();
        }
        // The transfer is complete: from here on a cancel waits for the
        // digest's last blocks, so that the file still ends verified.
        if (const auto digested = mTarget ? mTarget->TakeDigests(mFilename, mReceived) : std::nullopt) {
            mWrittenDigest = digested->digests;
            mWrittenFile = TWrittenFile{digested->identity, mReceived};
        }
        if (!CloseFile()) {
            mWrittenDigest.reset();
            Fail();
        }
    }

    bool CloseFile()
    {
        if (!mTarget)
            return true;
        const bool closed = mTarget->Close();
        mTarget.reset();
        return closed;
    }

    [[noreturn]] void Fail()
    {
        mWrittenDigest.reset();
        CloseFile();
        throw TransferError("Error downloading URL: " + mMessageURL
                            + (mFailReason.empty() ? "" : ": " + mFailReason));
    }

    // The first reason is the one that explains the end.
    void NoteFailure(std::string aReason)
    {
        if (mFailReason.empty())
            mFailReason = std::move(aReason);
        mStopped = true;
    }
    void NoteWriteFailure(int aError) { NoteFailure("cannot write " + mFilename + ": " + ErrnoText(aError)); }
    void NoteOverLimit()
    {
        NoteFailure("the server sent more than " + std::to_string(*mByteLimit) + " bytes for "
                    + ShownFileName(mMessageURL));
    }

    // Whether the target's file system has room for the bytes still to come,
    // when their number is known; the target aFd holds aInfo.st_size bytes
    // now, of which mBase stay.
    bool RoomFor(int aFd, const struct stat& aInfo)
    {
        const std::uint64_t size = std::max(ProgressMax(), mExpectedSize.value_or(0));
        if (size <= mBase)
            return true;
        const std::optional<std::uint64_t> free = mFreeSpaceProbe(aFd);
        // Blocks past the kept bytes are given back by the truncation.
        const std::uint64_t held = static_cast<std::uint64_t>(std::max<off_t>(aInfo.st_size, 0));
        const std::uint64_t freed = held > mBase ? held - mBase : 0;
        const std::uint64_t needed = size - mBase;
        if (!free || *free + freed >= needed)
            return true;
        NoteFailure("cannot write " + ShownFileName(mMessageURL) + ": it needs " + ByteCountText(needed)
                    + " and the folder has " + ByteCountText(*free) + " free");
        return false;
    }

    // curl stops reading at Content-Length, so surplus bytes never reach the
    // file; a body that ended short is a failure here. The checksum is the
    // judge of the kept file either way.
    bool CheckLength()
    {
        curl_off_t length = -1;
        curl_easy_getinfo(mEasy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        return length < 0 || static_cast<std::uint64_t>(length) == mReceived;
    }

    // Of the whole file: a resumed body adds to the bytes held before it.
    std::uint64_t ProgressMax() const
    {
        curl_off_t length = -1;
        curl_easy_getinfo(mEasy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        return length > 0 ? mBase + static_cast<std::uint64_t>(length) : 0;
    }

    // Calls the handler; false when the transfer must end (cancel, or the
    // handler threw). Never throws; aText is trimmed here.
    bool Notify(std::uint64_t aProgress, std::uint64_t aProgressMax, TURLDownloadStatus aStatus,
                std::string_view aText) noexcept
    {
        if (!mHandler)
            return true;
        return Guarded(false, [&] {
            bool cancel = false;
            mHandler(mAction, aProgress, aProgressMax, aStatus, TrimControl(aText), cancel);
            if (cancel)
                mStopped = true;
            return !mStopped;
        });
    }

    // The server accepted the request (or the file is there): report it and
    // only now replace whatever lies at Filename.
    bool BeginData()
    {
        mBegun = true;
        // A reply that announces more than may come is refused before its
        // first byte; one that does not is cut where it goes over.
        if (mByteLimit && ProgressMax() > *mByteLimit) {
            NoteOverLimit();
            return false;
        }
        if (mResume) {
            mAction.mReplyValidator = mValidator;
            mAction.mResumedAt = mBase;
        }
        if (!Notify(mBase, ProgressMax(), TURLDownloadStatus::dsBeginDownloadData, mURL))
            return false;
        UniqueFd target;
        try {
            target = mOpener ? mOpener() : OpenFilename(mFilename);
        } catch (const std::exception& error) {
            NoteFailure(error.what());
            return false;
        }
        // Copying a file onto itself (same path, a link to it) would truncate
        // the source curl is still reading and leave one block of it.
        if (!mIsWeb && IsSameFile(mSourcePath, target.Get())) {
            NoteFailure("cannot write " + mFilename + ": it is the file being copied");
            return false;
        }
        // Only now is an older file at the name given up, all of it or, for
        // a matching rest, what lies past the held bytes. A device (a test's
        // /dev/full) cannot be truncated and needs not be. Nor does a file
        // with nothing past them: ext4 takes any truncation to zero for a
        // file being replaced and writes the whole of it out when it is
        // closed, which held a new 2 GiB file's close for most of a second.
        struct stat info {};
        const auto keep = static_cast<off_t>(mBase);
        if (::fstat(target.Get(), &info) != 0) {
            NoteWriteFailure(errno);
            return false;
        }
        if (S_ISREG(info.st_mode) && !RoomFor(target.Get(), info))
            return false;
        if (S_ISREG(info.st_mode) && info.st_size > keep && ::ftruncate(target.Get(), keep) != 0) {
            NoteWriteFailure(errno);
            return false;
        }
        if (keep > 0
            && (!S_ISREG(info.st_mode) || info.st_size < keep
                || ::lseek(target.Get(), keep, SEEK_SET) != keep)) {
            NoteFailure("cannot resume " + mFilename + ": the bytes held are gone");
            return false;
        }
        // A rest appended to held bytes is left to the caller's own read of
        // the whole file.
        using TDigest = TTargetFile::TDigest;
        TDigest digest = TDigest::None;
        if (mDigestWanted && keep == 0 && S_ISREG(info.st_mode))
            digest = mDigestSha256 ? TDigest::Sha1AndSha256 : TDigest::Sha1;
        mTarget.emplace(std::move(target), digest);
        return true;
    }

    // Sets mBase and mValidator for a 2xx reply; false when it is not the
    // answer asked for and the transfer must end.
    bool TakeResumeAnswer(long aStatus)
    {
        mValidator = RangeValidator(mEtag, mLastModified);
        if (!mRangeAsked || aStatus != 206) {
            mBase = 0;  // the whole file, from its first byte
            return true;
        }
        const bool sameVersion = mValidator.empty() || mValidator == mResume->validator;
        curl_off_t length = -1;
        curl_easy_getinfo(mEasy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        const auto bodyLength = length < 0 ? std::nullopt : std::optional(static_cast<std::uint64_t>(length));
        if (!IsPartialReplyFrom(mContentRange, mResume->held, bodyLength) || !sameVersion) {
            mAction.mRangeRefused = true;
            mStopped = true;
            return false;
        }
        return true;
    }

    // End of one header block. Interim (1xx) replies are skipped; a redirect
    // is announced and ends the transfer; an error status ends it quietly.
    bool EndOfHeaders()
    {
        long status = 0;
        curl_easy_getinfo(mEasy.get(), CURLINFO_RESPONSE_CODE, &status);
        if (status < 200)
            return true;
        if (status >= 300 && status < 400) {
            const std::string target =
                mLocation.empty() ? std::string() : ResolveReference(mAddress, mLocation);
            // A web server may send us to another web address, never to a
            // local file, nor from https to plain http. The handler decides
            // whether this transfer follows.
            if (IsWebAddress(target) && LosesTls(mAddress, target)) {
                NoteFailure(RefusedRedirectText(target));
                return false;
            }
            if (IsWebAddress(target) && Notify(0, 0, TURLDownloadStatus::dsRedirecting, target))
                mFollowTarget = target;
            mStopped = true;
            return false;
        }
        if (status >= 400) {
            if (status == 416 && mRangeAsked)
                mAction.mRangeRefused = true;
            mBase = 0;
            mStopped = true;
            return false;
        }
        if (mResume && !TakeResumeAnswer(status))
            return false;
        char* type = nullptr;
        curl_easy_getinfo(mEasy.get(), CURLINFO_CONTENT_TYPE, &type);
        if (type && *type && !Notify(mBase, ProgressMax(), TURLDownloadStatus::dsMIMETypeAvailable, type))
            return false;
        return BeginData();
    }

    // Runs a callback's body; an exception is kept for Run and the transfer
    // ends with aFailure, so nothing is thrown through curl.
    template <typename Result, typename Body> Result Guarded(Result aFailure, Body aBody) noexcept
    {
        try {
            return aBody();
        } catch (...) {
            mCallbackError = std::current_exception();
            mStopped = true;
            return aFailure;
        }
    }

    static curl_socket_t OnOpenSocket(void* aClient, curlsocktype aPurpose, curl_sockaddr* aAddress)
    {
        auto& self = *static_cast<Transfer*>(aClient);
        return self.Guarded<curl_socket_t>(CURL_SOCKET_BAD, [&]() -> curl_socket_t {
            if (aPurpose == CURLSOCKTYPE_IPCXN
                && !self.Notify(self.mBase, 0, TURLDownloadStatus::dsConnecting,
                                SocketAddressText(*aAddress)))
                return CURL_SOCKET_BAD;
            if (self.Stopped())
                return CURL_SOCKET_BAD;
            // Close-on-exec: the program later starts other programs.
            return socket(aAddress->family, aAddress->socktype | SOCK_CLOEXEC, aAddress->protocol);
        });
    }

    static int OnPrereq(void* aClient, char* aPrimaryIp, char*, int, int)
    {
        auto& self = *static_cast<Transfer*>(aClient);
        if (self.mIsWeb
            && !self.Notify(self.mBase, 0, TURLDownloadStatus::dsSendingRequest,
                            aPrimaryIp ? aPrimaryIp : ""))
            return CURL_PREREQFUNC_ABORT;
        return self.Stopped() ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
    }

    static std::size_t OnHeader(char* aBuffer, std::size_t aSize, std::size_t aCount, void* aClient)
    {
        auto& self = *static_cast<Transfer*>(aClient);
        const std::size_t size = aSize * aCount;
        if (self.Stopped())
            return 0;
        if (self.mBegun)
            return size;  // trailers after a chunked body
        return self.Guarded<std::size_t>(0, [&]() -> std::size_t {
            const std::string_view line(aBuffer, size);
            if (line == "\r\n" || line == "\n")
                return self.EndOfHeaders() ? size : 0;
            if (StartsWithNoCase(line, "http/")) {
                // A new reply (after an interim one).
                self.mLocation.clear();
                self.mEtag.clear();
                self.mLastModified.clear();
                self.mContentRange.clear();
            } else if (StartsWithNoCase(line, "location:")) {
                self.mLocation = TrimControl(line.substr(9));
            } else if (self.mResume) {
                if (StartsWithNoCase(line, "etag:"))
                    self.mEtag = TrimControl(line.substr(5));
                else if (StartsWithNoCase(line, "last-modified:"))
                    self.mLastModified = TrimControl(line.substr(14));
                else if (StartsWithNoCase(line, "content-range:"))
                    self.mContentRange = TrimControl(line.substr(14));
            }
            return size;
        });
    }

    static std::size_t OnWrite(char* aData, std::size_t aSize, std::size_t aCount, void* aClient)
    {
        auto& self = *static_cast<Transfer*>(aClient);
        const std::size_t size = aSize * aCount;
        if (self.Stopped())
            return 0;
        // The digest's thread or a block may fail to be made: that ends the
        // transfer with its reason instead of unwinding through curl.
        return self.Guarded<std::size_t>(0, [&]() -> std::size_t {
            // A file:// transfer has no headers: its first data is its begin.
            if (!self.mBegun && !self.BeginData())
                return 0;
            if (!self.mTarget) {
                self.mStopped = true;
                return 0;
            }
            if (self.mByteLimit && self.mBase + self.mReceived + size > *self.mByteLimit) {
                self.NoteOverLimit();
                return 0;
            }
            if (!self.mTarget->Append(aData, size)) {
                self.NoteWriteFailure(errno);
                return 0;
            }
            self.mReceived += size;
            if (!self.Notify(self.mBase + self.mReceived, self.ProgressMax(),
                             TURLDownloadStatus::dsDownloadingData, self.mURL))
                return 0;
            return size;
        });
    }

    TDownLoadURL& mAction;
    const TBinding& mBinding;
    // Copies: the handler may change the action's settings while it runs.
    const std::string mMessageURL;  // the address the owner asked for
    const std::string mURL;         // the address of this hop
    const std::string mFilename;
    const TDownloadProgressEvent mHandler;
    const TTargetOpener mOpener;
    const std::optional<TResumePoint> mResume;
    // If-Range; before the easy handle, which uses it to the end.
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> mHeaders{nullptr, &curl_slist_free_all};
    const bool mDigestWanted;
    const bool mDigestSha256;
    const std::optional<std::uint64_t> mByteLimit;
    const std::optional<std::uint64_t> mExpectedSize;
    const TFreeSpaceProbe mFreeSpaceProbe;
    CURLM* const mMulti;  // the action's, kept from one transfer to the next
    CurlEasy mEasy;
    bool mAdded = false;
    std::string mAddress;  // what curl fetches: URL, or a local path as file://
    bool mIsWeb = false;
    std::string mSourcePath;  // a local source's path; empty for web addresses
    std::optional<TTargetFile> mTarget;
    std::optional<TFileDigestTexts> mWrittenDigest;
    std::optional<TWrittenFile> mWrittenFile;
    std::uint64_t mReceived = 0;
    bool mBegun = false;
    bool mStopped = false;    // we ended the transfer: cancel, refusal or failure
    std::string mFailReason;  // why the target could not be opened or written
    std::string mLocation;    // of the reply whose headers are arriving
    std::string mFollowTarget;
    std::exception_ptr mCallbackError;
    // Resume mode only.
    bool mRangeAsked = false;
    std::string mRange;                               // curl keeps the pointer
    std::string mEtag, mLastModified, mContentRange;  // of the reply whose headers are arriving
    std::string mValidator;                           // of the reply that gives the body
    std::uint64_t mBase = 0;  // bytes held before the body: the body's offset in the file
};

void TDownLoadURL::ExecuteTarget()
{
    // One binding for every hop, so that an abort between two hops counts.
    auto binding = std::make_shared<TBinding>();
    SetBinding(binding);
    struct Forget {
        TDownLoadURL& mAction;
        ~Forget() { mAction.SetBinding(nullptr); }
    } forget{*this};

    mReplyValidator.clear();
    mResumedAt = 0;
    mRangeRefused = false;
    mWrittenDigest.reset();
    mWrittenFile.reset();
    if (!mConnections->multi)
        throw TransferError("Error downloading URL: " + mURL);
    std::string address = mURL;
    for (int hop = 0;; ++hop) {
        Transfer transfer(*this, *binding, address);
        binding->Attach(transfer.Multi());
        // Runs before the transfer's handles go, so Abort never wakes a freed handle.
        struct Detach {
            TBinding& mBinding;
            ~Detach() { mBinding.Detach(); }
        } detach{*binding};
        transfer.Run();
        if (transfer.FollowTarget().empty()) {
            mWrittenDigest = std::move(transfer.WrittenDigest());
            mWrittenFile = mWrittenDigest ? transfer.WrittenFile() : std::nullopt;
            return;
        }
        if (hop == kMaxRedirects || binding->Aborted())
            throw TransferError("Error downloading URL: " + mURL);
        address = transfer.FollowTarget();
    }
}

std::shared_ptr<TBinding> TDownLoadURL::Binding() const
{
    std::lock_guard lock(mBindingMutex);
    return mBinding;
}

void TDownLoadURL::SetBinding(std::shared_ptr<TBinding> aBinding)
{
    std::lock_guard lock(mBindingMutex);
    mBinding = std::move(aBinding);
}
