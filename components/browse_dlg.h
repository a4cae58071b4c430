#pragma once
// TBrowseDlg: asks the user for a folder through Qt's folder dialog (the
// desktop's own dialog where the platform offers one), with a caption, an
// instruction line, a starting folder and events that may veto a selection or
// a typed name. GUI thread only; Execute is modal.

#include <QString>
#include <cstdint>
#include <functional>
#include <set>

class QFileDialog;
class QWidget;

enum class NBrowseOption {
    boBrowseForComputer,
    boBrowseForPrinter,
    boBrowseIncludeFiles,
    boBrowseIncludeURLs,
    boDontGoBelowDomain,
    boEditBox,
    boNewDialogStyle,
    boNoNewFolderButton,
    boReturnFSAncestors,
    boReturnOnlyFSDirs,
    boShareable,
    boStatusText,
    boUAHint,
    boUseNewUI,
    boValidate,
};
using SBrowseOptions = std::set<NBrowseOption>;

// The classic folder-picker flag word of a set of options.
std::uint32_t BrowseFlags(const SBrowseOptions& aOptions);

class TBrowseDlg;
using TNotifyEvent = std::function<void(TBrowseDlg& aSender)>;
// aAllow is true on entry; a handler sets it to false to veto.
using FBrowseEvent = std::function<void(TBrowseDlg& aSender, const QString& aSelection, bool& aAllow)>;
// Runs the prepared dialog modally and answers whether the user confirmed.
// Tests replace it so that nothing blocks.
using TBrowseExec = std::function<bool(QFileDialog& aDialog)>;

class TBrowseDlg {
public:
    TBrowseDlg();

    QString Text() const { return mText; }
    void SetText(const QString& aValue) { mText = aValue; }
    QString Caption() const { return mCaption; }
    void SetCaption(const QString& aValue) { mCaption = aValue; }
    QString InitialDir() const { return mInitialDir; }
    void SetInitialDir(const QString& aValue) { mInitialDir = aValue; }
    SBrowseOptions Options() const { return mOptions; }
    void SetOptions(const SBrowseOptions& aValue) { mOptions = aValue; }
    // A folder to select at the start; when set it wins over InitialDir.
    QString InitialIDList() const { return mInitialIDList; }
    void SetInitialIDList(const QString& aValue) { mInitialIDList = aValue; }

    TNotifyEvent OnInit;
    FBrowseEvent OnSelectionChange;
    FBrowseEvent OnValidateFailed;

    // The display name of the folder chosen in the last Execute; emptied at its start.
    QString Folder() const { return mFolder; }
    // The path chosen in the last confirmed Execute; a cancel leaves it alone.
    QString Path() const { return mPath; }

    bool Execute(QWidget* aOwner);
    // Enables or disables the dialog's accept button; only while a dialog is open.
    void ButtonEnabled(bool aValue);

    void SetExecHook(TBrowseExec aExec) { mExec = std::move(aExec); }
    // The open dialog, or none; for event handlers and tests.
    QFileDialog* Dialog() const { return mDialog; }

private:
    class TFolderDialog;
    friend class TFolderDialog;

    // Hands a new selection to OnSelectionChange and applies its answer to OK.
    void RaiseSelectionChange(const QString& aPath);

    QString mText, mCaption, mInitialDir, mInitialIDList;
    SBrowseOptions mOptions;
    QString mFolder, mPath;
    TBrowseExec mExec;
    QFileDialog* mDialog = nullptr;
    bool mOkVetoed = false;  // the accept button stays off, whatever the dialog's own updates say
};
