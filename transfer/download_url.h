#pragma once
// Copies the resource at a URL into a local file and reports the transfer's
// statuses through one event, whose handler can cancel the transfer. Another
// thread can abort a running transfer through Binding().

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "components/file_digests.h"
#include "platform/file_handles.h"
#include "platform/folder_handle.h"
#include "transfer/url_download_status.h"

// One transfer attempt failed; another attempt may work. The message is
// "Error downloading URL: " followed by the address and, when the target
// could not be opened or written, ": " and why ("No space left on device").
class TransferError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

// The running transfer, as other threads see it. Shared between the action
// and whoever asked for it, so it stays valid after the transfer has ended.
class TBinding {
public:
    // Any thread, any time, also after the transfer has ended (then it does
    // nothing). The transfer ends within a few milliseconds and ExecuteTarget
    // throws TransferError.
    void Abort();
    bool Aborted() const noexcept { return mAborted.load(); }

private:
    friend class TDownLoadURL;
    void Attach(void* aMulti);  // the transfer's curl multi handle
    void Detach();              // before that handle goes away

    std::atomic<bool> mAborted{false};
    std::mutex mMutex;  // keeps mMulti alive while Abort wakes it
    void* mMulti = nullptr;
};

// What a transfer may resume: aHeld bytes already lie at Filename, given by a
// reply that carried aValidator (an ETag, else a Last-Modified date).
struct TResumePoint {
    std::uint64_t held = 0;
    std::string validator;
};

class TDownLoadURL {
public:
    // Runs on the thread that called ExecuteTarget. aCancel is false on
    // entry; true ends the transfer and ExecuteTarget throws TransferError.
    // aStatusText is trimmed: for dsFindingResource the host, dsConnecting
    // the peer address, dsMIMETypeAvailable the content type,
    // dsBeginDownloadData the address being fetched, dsRedirecting the
    // absolute target of a redirect (which is never followed).
    // aProgressMax is 0 when the length is not announced.
    using TDownloadProgressEvent =
        std::function<void(TDownLoadURL& aSender, std::uint64_t aProgress, std::uint64_t aProgressMax,
                           TURLDownloadStatus aStatusCode, const std::string& aStatusText, bool& aCancel)>;

    TDownLoadURL();
    // Closes the connections kept for later transfers.
    ~TDownLoadURL();
    TDownLoadURL(const TDownLoadURL&) = delete;
    TDownLoadURL& operator=(const TDownLoadURL&) = delete;

    // http://, https:// or file:// address; text without "scheme://" is a
    // local path (UTF-8) and is copied like a file:// address.
    const std::string& URL() const { return mURL; }
    void SetURL(std::string aURL) { mURL = std::move(aURL); }
    // Native UTF-8 path of the file to write; truncated once the server has
    // accepted the request, so a failure before the body leaves an older
    // file there untouched.
    const std::string& Filename() const { return mFilename; }
    void SetFilename(std::string aFilename) { mFilename = std::move(aFilename); }
    void SetOnDownloadProgress(TDownloadProgressEvent aHandler) { mOnDownloadProgress = std::move(aHandler); }

    // Opens the target once the server has accepted the request: a descriptor
    // open for writing, at offset 0, not yet truncated (the transfer truncates
    // a regular file after checking that it is not the source itself). Runs
    // on the transfer's thread; a std::exception refuses the target, and its
    // what() becomes the reason of the TransferError. Empty: Filename is
    // opened, without following a link at its last component.
    using TTargetOpener = std::function<UniqueFd()>;
    void SetTargetOpener(TTargetOpener aOpener) { mTargetOpener = std::move(aOpener); }

    // Blocks until the transfer has ended. Throws TransferError on any
    // failure, cancel, abort or redirect; an exception thrown by the handler
    // leaves unchanged once the transfer has been wound up. Deletes nothing:
    // whatever was written at Filename stays.
    void ExecuteTarget();

    // A transfer that receives (nearly) nothing for this long fails; 0 turns
    // the limit off. Longer than the engine's own stall rule, which acts first
    // during file downloads.
    static constexpr std::chrono::seconds kTransferSilenceBackstop{120};
    void SetSilenceLimit(std::chrono::seconds aLimit) { mSilenceLimit = aLimit; }

    // Resume mode, off until set; it stays as set for later transfers. In it
    // a web transfer with held bytes and a validator asks only for the rest (Range, guarded by
    // If-Range). A reply that is the matching rest is appended after the held
    // bytes; a whole reply (200) replaces them; any other reply (416, another
    // start, another validator) fails with RangeRefused() set, leaving the
    // file as it was. Progress figures then count the held bytes as received.
    void SetResume(std::optional<TResumePoint> aResume) { mResume = std::move(aResume); }
    // After a transfer in resume mode: the validator of the reply whose body
    // went to Filename ("" when it had none usable), the bytes that body was
    // appended to, and whether the server refused to give the rest.
    const std::string& ReplyValidator() const { return mReplyValidator; }
    std::uint64_t ResumedAt() const { return mResumedAt; }
    bool RangeRefused() const { return mRangeRefused; }

    // With this on, the file's digests (the SHA-256 too when asked for) are
    // computed while it is written, from the blocks written; after a
    // successful ExecuteTarget TakeWrittenDigest gives those of the file as it
    // then stands at Filename.
    void SetDigestWhileWriting(bool aOn, bool aWithSha256 = false)
    {
        mDigestWhileWriting = aOn;
        mDigestSha256 = aWithSha256;
    }
    // Once per transfer. Empty after a failed, cancelled or aborted transfer
    // (the partial digest is thrown away), with the option off, when the
    // file at Filename is no longer the one written (swapped, cut or grown
    // behind our back), or when others than its owner (us) may write to it:
    // the caller then reads the file itself.
    std::optional<TFileDigestTexts> TakeWrittenDigest()
    {
        return std::exchange(mWrittenDigest, std::nullopt);
    }
    // The file those digests belong to, as it was when they were taken, for
    // a caller that opens it in its own way: the digests hold for a file of
    // this identity and size only. Empty whenever TakeWrittenDigest was.
    struct TWrittenFile {
        TFileIdentity identity;
        std::uint64_t size = 0;
    };
    const std::optional<TWrittenFile>& WrittenFile() const { return mWrittenFile; }

    // A body longer than this many bytes (held bytes of a resumed file
    // included) fails the transfer as soon as it goes over, before the
    // surplus reaches the file, and so does a reply that announces more; the
    // reason says "the server sent more than N bytes for NAME". Empty: no
    // bound. It stays as set for later transfers.
    void SetByteLimit(std::optional<std::uint64_t> aLimit) { mByteLimit = aLimit; }
    const std::optional<std::uint64_t>& ByteLimit() const { return mByteLimit; }
    // The size the file is to have, when the caller knows it. With it, or a
    // reply that announces its length, a transfer whose target's file system
    // has less room than the bytes still to come fails before the body is
    // written ("cannot write NAME: it needs 1.1 GB and the folder has
    // 200.0 MB free"). Stays as set for later transfers.
    void SetExpectedSize(std::optional<std::uint64_t> aSize) { mExpectedSize = aSize; }
    // The room left on the file system of an open file; empty when unknown
    // (then nothing is refused). Tests replace the real one.
    using TFreeSpaceProbe = std::function<std::optional<std::uint64_t>(int aFd)>;
    void SetFreeSpaceProbe(TFreeSpaceProbe aProbe) { mFreeSpaceProbe = std::move(aProbe); }

    // Any thread; null outside a transfer.
    std::shared_ptr<TBinding> Binding() const;
    bool HandlesTarget() const { return true; }

private:
    class Transfer;
    struct Connections;
    void SetBinding(std::shared_ptr<TBinding> aBinding);

    // Every transfer of this action goes through one curl multi handle, whose
    // connection cache lets the next file reuse the last one's connection.
    std::unique_ptr<Connections> mConnections;
    bool mDigestWhileWriting = false;
    bool mDigestSha256 = false;
    std::optional<TFileDigestTexts> mWrittenDigest;
    std::optional<TWrittenFile> mWrittenFile;

    std::string mURL;
    std::string mFilename;
    TDownloadProgressEvent mOnDownloadProgress;
    TTargetOpener mTargetOpener;
    std::chrono::seconds mSilenceLimit = kTransferSilenceBackstop;
    std::optional<std::uint64_t> mByteLimit;
    std::optional<std::uint64_t> mExpectedSize;
    TFreeSpaceProbe mFreeSpaceProbe;
    std::optional<TResumePoint> mResume;
    std::string mReplyValidator;
    std::uint64_t mResumedAt = 0;
    bool mRangeRefused = false;
    mutable std::mutex mBindingMutex;  // Binding() is read from other threads
    std::shared_ptr<TBinding> mBinding;
};
