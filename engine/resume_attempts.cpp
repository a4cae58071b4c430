// The worker's part of resume and skip; the kept files themselves are
// engine/kept_download's.
#include <exception>

#include "engine/kept_download.h"
#include "engine/thread_downloads.h"

bool ThreadDownloads::SkipVerifiedFile(const std::string& aName, const TFolderHandle& aFolder,
                                       const std::string& aLocalName, const TKeptDownload& aKept,
                                       const std::string* aSha256)
{
    const auto size =
        VerifiedFileSize(aFolder, FinalPathOf(aLocalName), mDownloadData.ArchivoHash(), aSha256);
    if (!size)
        return false;
    aKept.Forget();
    // Done without a byte of this run: the overall figure counts it, the
    // estimates do not.
    mDownloadData.SetArchProgreso(*size);
    mDownloadData.SetArchProgresoMax(*size);
    mDownloadData.SetArchHeld(*size);
    mDownloadData.SetAcumulado(mDownloadData.AcumuladosEnteros() + static_cast<double>(*size));
    mDownloadData.SetResult(true);
    mHost.FileVerified(aName);
    mHost.PostProgress();
    return true;
}

void ThreadDownloads::KeptReplyBegins(const TDownLoadURL& aSender) noexcept
{
    try {
        mKept->Remember(aSender.ReplyValidator());
    } catch (const std::exception&) {
        // Without a state the bytes cannot be resumed, but this attempt goes
        // on. Forgetting a validator never throws.
        mKept->Remember("");
    }
    // This run fetched everything above the lowest start of its replies.
    const std::uint64_t held = aSender.ResumedAt();
    if (!mKeptBegun || held < mDownloadData.ArchHeld())
        mDownloadData.SetArchHeld(held);
    mKeptBegun = true;
}
