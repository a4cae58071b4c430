#pragma once
// The one record through which the window and the worker talk.
//
// Thread safety: every flag and figure is an atomic, and every text sits
// behind one mutex that is held only to copy the text in or out, so a reader
// never sees a half-written value and the worker is never held up for long.
// Readers get copies. Several fields read one after another are not a
// consistent snapshot; the window recomputes its display on each update.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/folder_handle.h"
#include "platform/verified_file.h"
#include "transfer/url_download_status.h"

enum class TWebOperation : std::uint8_t {
    twoConfiguration = 0,  // find, fetch and read the info file; fetch a newer wizard
    twoDownloader = 1,     // start the newer wizard fetched by the configuration
    twoDownload = 2,       // download, verify and place every listed file
    twoInstall = 3,        // start the product's setup program
};

// The setup program or the newer wizard as it was verified, held open from
// that check until it is started.
struct TVerifiedProgram {
    TVerifiedFile file;
    std::string localName;  // its name inside its folder, "/"-separated
    std::string sha1;       // the digests it matched; "" when none was listed
    std::string sha256;
};

class TDownloadData {
public:
    TDownloadData() = default;
    TDownloadData(const TDownloadData&) = delete;
    TDownloadData& operator=(const TDownloadData&) = delete;

    TWebOperation Operacion() const { return mOperacion.load(); }
    void SetOperacion(TWebOperation aValue) { mOperacion.store(aValue); }
    std::string Mensaje() const { return Get(mMensaje); }
    void SetMensaje(std::string aValue) { Set(mMensaje, std::move(aValue)); }
    bool Result() const { return mResult.load(); }
    void SetResult(bool aValue) { mResult.store(aValue); }
    // Stored last by the worker: once the window reads true, every result is visible.
    bool Terminado() const { return mTerminado.load(); }
    void SetTerminado(bool aValue) { mTerminado.store(aValue); }
    std::int32_t VersionLocal() const { return mVersionLocal.load(); }
    void SetVersionLocal(std::int32_t aValue) { mVersionLocal.store(aValue); }
    std::string CarpetaOrigen() const { return Get(mCarpetaOrigen); }
    void SetCarpetaOrigen(std::string aValue) { Set(mCarpetaOrigen, std::move(aValue)); }
    std::string CarpetaDestino() const { return Get(mCarpetaDestino); }
    void SetCarpetaDestino(std::string aValue) { Set(mCarpetaDestino, std::move(aValue)); }
    std::string ArchSetup() const { return Get(mArchSetup); }
    void SetArchSetup(std::string aValue) { Set(mArchSetup, std::move(aValue)); }
    std::string ArchIniLocal() const { return Get(mArchIniLocal); }
    void SetArchIniLocal(std::string aValue) { Set(mArchIniLocal, std::move(aValue)); }
    std::string ArchIniRemoto() const { return Get(mArchIniRemoto); }
    void SetArchIniRemoto(std::string aValue) { Set(mArchIniRemoto, std::move(aValue)); }
    bool Restart() const { return mRestart.load(); }
    void SetRestart(bool aValue) { mRestart.store(aValue); }
    std::string ArchivoDown() const { return Get(mArchivoDown); }
    void SetArchivoDown(std::string aValue) { Set(mArchivoDown, std::move(aValue)); }
    std::string ArchivoHash() const { return Get(mArchivoHash); }
    void SetArchivoHash(std::string aValue) { Set(mArchivoHash, std::move(aValue)); }
    std::string ArchivoDownloader() const { return Get(mArchivoDownloader); }
    void SetArchivoDownloader(std::string aValue) { Set(mArchivoDownloader, std::move(aValue)); }
    std::string CarpetaDownloader() const { return Get(mCarpetaDownloader); }
    void SetCarpetaDownloader(std::string aValue) { Set(mCarpetaDownloader, std::move(aValue)); }
    std::int32_t Total() const { return mTotal.load(); }
    void SetTotal(std::int32_t aValue) { mTotal.store(aValue); }
    std::int32_t Number() const { return mNumber.load(); }
    void SetNumber(std::int32_t aValue) { mNumber.store(aValue); }
    bool MostrarProgreso() const { return mMostrarProgreso.load(); }
    void SetMostrarProgreso(bool aValue) { mMostrarProgreso.store(aValue); }
    // Byte figures are 64-bit: files of 4 GiB and more are common.
    std::uint64_t ArchProgreso() const { return mArchProgreso.load(); }
    void SetArchProgreso(std::uint64_t aValue) { mArchProgreso.store(aValue); }
    std::uint64_t ArchProgresoMax() const { return mArchProgresoMax.load(); }
    void SetArchProgresoMax(std::uint64_t aValue) { mArchProgresoMax.store(aValue); }
    bool Cancelado() const { return mCancelado.load(); }
    void SetCancelado(bool aValue) { mCancelado.store(aValue); }
    std::string Line1() const { return Get(mLine1); }
    void SetLine1(std::string aValue) { Set(mLine1, std::move(aValue)); }
    std::string Link() const { return Get(mLink); }
    void SetLink(std::string aValue) { Set(mLink, std::move(aValue)); }
    std::string InfoLink() const { return Get(mInfoLink); }
    void SetInfoLink(std::string aValue) { Set(mInfoLink, std::move(aValue)); }
    std::string TotalFiles() const { return Get(mTotalFiles); }
    void SetTotalFiles(std::string aValue) { Set(mTotalFiles, std::move(aValue)); }
    std::string InfoSize() const { return Get(mInfoSize); }
    void SetInfoSize(std::string aValue) { Set(mInfoSize, std::move(aValue)); }
    double Size() const { return mSize.load(); }
    void SetSize(double aValue) { mSize.store(aValue); }
    std::string End1() const { return Get(mEnd1); }
    void SetEnd1(std::string aValue) { Set(mEnd1, std::move(aValue)); }
    std::string End2() const { return Get(mEnd2); }
    void SetEnd2(std::string aValue) { Set(mEnd2, std::move(aValue)); }
    double Acumulado() const { return mAcumulado.load(); }
    void SetAcumulado(double aValue) { mAcumulado.store(aValue); }
    double AcumuladosEnteros() const { return mAcumuladosEnteros.load(); }
    void SetAcumuladosEnteros(double aValue) { mAcumuladosEnteros.store(aValue); }
    std::uintptr_t MainHandle() const { return mMainHandle.load(); }
    void SetMainHandle(std::uintptr_t aValue) { mMainHandle.store(aValue); }
    TURLDownloadStatus StatusCode() const { return mStatusCode.load(); }
    void SetStatusCode(TURLDownloadStatus aValue) { mStatusCode.store(aValue); }
    std::string StatusText() const { return Get(mStatusText); }
    void SetStatusText(std::string aValue) { Set(mStatusText, std::move(aValue)); }
    // Ticks in milliseconds; 0 means "none yet".
    double TAcumStart() const { return mTAcumStart.load(); }
    void SetTAcumStart(double aValue) { mTAcumStart.store(aValue); }
    double TStart() const { return mTStart.load(); }
    void SetTStart(double aValue) { mTStart.store(aValue); }
    bool Redirect() const { return mRedirect.load(); }
    void SetRedirect(bool aValue) { mRedirect.store(aValue); }
    std::string URLRedirected() const { return Get(mURLRedirected); }
    void SetURLRedirected(std::string aValue) { Set(mURLRedirected, std::move(aValue)); }
    std::string DownloadingURL() const { return Get(mDownloadingURL); }
    void SetDownloadingURL(std::string aValue) { Set(mDownloadingURL, std::move(aValue)); }
    std::string LastCacheURL() const { return Get(mLastCacheURL); }
    void SetLastCacheURL(std::string aValue) { Set(mLastCacheURL, std::move(aValue)); }

    // Resume and skip, off unless a release asks for them: the info file's
    // [Downloads] "Resume" is "1".
    bool Resume() const { return mResume.load(); }
    void SetResume(bool aValue) { mResume.store(aValue); }
    // Bytes that count as received without this run having fetched them, for
    // estimates that go by this run's rate: of the current file (held from an
    // earlier attempt or run), and of the files already counted in Acumulado.
    std::uint64_t ArchHeld() const { return mArchHeld.load(); }
    void SetArchHeld(std::uint64_t aValue) { mArchHeld.store(aValue); }
    double AcumHeld() const { return mAcumHeld.load(); }
    void SetAcumHeld(double aValue) { mAcumHeld.store(aValue); }

    // Signed releases only (a vendor key built in), empty otherwise: why a
    // fetched newer wizard is not started; the release goes on.
    std::string UpdateRefused() const { return Get(mUpdateRefused); }
    void SetUpdateRefused(std::string aValue) { Set(mUpdateRefused, std::move(aValue)); }

    // Held by the operation that verified the file, for the one that starts
    // it; null when there is none.
    std::shared_ptr<TVerifiedProgram> VerifiedSetup() const { return GetShared(mVerifiedSetup); }
    void SetVerifiedSetup(std::shared_ptr<TVerifiedProgram> aValue)
    {
        SetShared(mVerifiedSetup, std::move(aValue));
    }
    std::shared_ptr<TVerifiedProgram> VerifiedWizard() const { return GetShared(mVerifiedWizard); }
    void SetVerifiedWizard(std::shared_ptr<TVerifiedProgram> aValue)
    {
        SetShared(mVerifiedWizard, std::move(aValue));
    }
    // The private temporary folder, held open by the configuration for the
    // operations after it; null before.
    std::shared_ptr<const TFolderHandle> PrivateFolder() const { return GetShared(mPrivateFolder); }
    void SetPrivateFolder(std::shared_ptr<const TFolderHandle> aValue)
    {
        SetShared(mPrivateFolder, std::move(aValue));
    }
    // Why the last launch did not start its program; "" when it did or was
    // not asked to.
    std::string LaunchProblem() const { return Get(mLaunchProblem); }
    void SetLaunchProblem(std::string aValue) { Set(mLaunchProblem, std::move(aValue)); }

private:
    template <typename T> std::shared_ptr<T> GetShared(const std::shared_ptr<T>& aField) const
    {
        std::lock_guard lock(mTextMutex);
        return aField;
    }
    template <typename T> void SetShared(std::shared_ptr<T>& aField, std::shared_ptr<T> aValue)
    {
        std::shared_ptr<T> old;  // released outside the lock
        std::lock_guard lock(mTextMutex);
        old.swap(aField);
        aField = std::move(aValue);
    }
    std::string Get(const std::string& aField) const
    {
        std::lock_guard lock(mTextMutex);
        return aField;
    }
    void Set(std::string& aField, std::string aValue)
    {
        std::string old;  // freed outside the lock
        std::lock_guard lock(mTextMutex);
        old.swap(aField);
        aField = std::move(aValue);
    }

    mutable std::mutex mTextMutex;  // guards the text fields; held only to copy

    std::atomic<TWebOperation> mOperacion{TWebOperation::twoConfiguration};
    std::string mMensaje;
    std::atomic<bool> mResult{false};
    std::atomic<bool> mTerminado{false};
    std::atomic<std::int32_t> mVersionLocal{0};
    std::string mCarpetaOrigen;
    std::string mCarpetaDestino;
    std::string mArchSetup;
    std::string mArchIniLocal;
    std::string mArchIniRemoto;
    std::atomic<bool> mRestart{false};
    std::string mArchivoDown;
    std::string mArchivoHash;
    std::string mArchivoDownloader;
    std::string mCarpetaDownloader;
    std::atomic<std::int32_t> mTotal{0};
    std::atomic<std::int32_t> mNumber{0};
    std::atomic<bool> mMostrarProgreso{false};
    std::atomic<std::uint64_t> mArchProgreso{0};
    std::atomic<std::uint64_t> mArchProgresoMax{0};
    std::atomic<bool> mCancelado{false};
    std::string mLine1;
    std::string mLink;
    std::string mInfoLink;
    std::string mTotalFiles;
    std::string mInfoSize;
    std::atomic<double> mSize{0.0};
    std::string mEnd1;
    std::string mEnd2;
    std::atomic<double> mAcumulado{0.0};
    std::atomic<double> mAcumuladosEnteros{0.0};
    std::atomic<std::uintptr_t> mMainHandle{0};
    std::atomic<TURLDownloadStatus> mStatusCode{TURLDownloadStatus::dsFindingResource};
    std::string mStatusText;
    std::atomic<double> mTAcumStart{0.0};
    std::atomic<double> mTStart{0.0};
    std::atomic<bool> mRedirect{false};
    std::string mURLRedirected;
    std::string mDownloadingURL;
    std::string mLastCacheURL;
    std::atomic<bool> mResume{false};
    std::atomic<std::uint64_t> mArchHeld{0};
    std::atomic<double> mAcumHeld{0.0};
    std::string mUpdateRefused;
    std::shared_ptr<TVerifiedProgram> mVerifiedSetup;
    std::shared_ptr<TVerifiedProgram> mVerifiedWizard;
    std::shared_ptr<const TFolderHandle> mPrivateFolder;
    std::string mLaunchProblem;
};
