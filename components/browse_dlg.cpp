#include "components/browse_dlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// Switches a button off again whenever something else switches it on while
// aVetoed holds.
class TKeepDisabled : public QObject {
public:
    explicit TKeepDisabled(const bool& aVetoed) : mVetoed(aVetoed) {}

protected:
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override
    {
        if (aEvent->type() == QEvent::EnabledChange && mVetoed)
            if (auto* button = qobject_cast<QPushButton*>(aWatched); button && button->isEnabled())
                button->setEnabled(false);
        return false;
    }

private:
    const bool& mVetoed;
};

struct TFlagOfOption {
    NBrowseOption option;
    std::uint32_t flag;
};

constexpr TFlagOfOption kFlags[] = {
    {NBrowseOption::boBrowseForComputer, 0x1000},
    {NBrowseOption::boBrowseForPrinter, 0x2000},
    {NBrowseOption::boBrowseIncludeFiles, 0x4000},
    {NBrowseOption::boBrowseIncludeURLs, 0x80},
    {NBrowseOption::boDontGoBelowDomain, 0x2},
    {NBrowseOption::boEditBox, 0x10},
    {NBrowseOption::boNewDialogStyle, 0x40},
    {NBrowseOption::boNoNewFolderButton, 0x200},
    {NBrowseOption::boReturnFSAncestors, 0x8},
    {NBrowseOption::boReturnOnlyFSDirs, 0x1},
    {NBrowseOption::boShareable, 0x8000},
    {NBrowseOption::boStatusText, 0x4},
    {NBrowseOption::boUAHint, 0x100},
    {NBrowseOption::boUseNewUI, 0x50},
    {NBrowseOption::boValidate, 0x20},
};

// The nearest folder that exists, walking up from aPath; empty when none does.
QString NearestExistingFolder(const QString& aPath)
{
    if (aPath.isEmpty())
        return {};
    QString path = QDir::cleanPath(QDir::fromNativeSeparators(aPath));
    for (int guard = 0; guard < 4096 && !path.isEmpty(); ++guard) {
        if (QFileInfo(path).isDir())
            return path;
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return {};
}

}  // namespace

std::uint32_t BrowseFlags(const SBrowseOptions& aOptions)
{
    std::uint32_t flags = 0;
    for (const auto& [option, flag] : kFlags)
        if (aOptions.count(option) != 0)
            flags |= flag;
    return flags;
}

// Checks a typed name before the dialog closes, as the veto event wants.
class TBrowseDlg::TFolderDialog : public QFileDialog {
public:
    TFolderDialog(TBrowseDlg& aOwner, QWidget* aParent) : QFileDialog(aParent), mOwner(aOwner) {}

    void accept() override
    {
        const QStringList files = selectedFiles();
        const QString chosen = files.isEmpty() ? QString() : files.first();
        const bool validate = mOwner.mOptions.count(NBrowseOption::boValidate) != 0;
        if (!validate || chosen.isEmpty() || QFileInfo(chosen).isDir()) {
            QFileDialog::accept();
            return;
        }
        bool allow = true;
        if (mOwner.OnValidateFailed) {
            mOwner.OnValidateFailed(mOwner, TypedName(chosen), allow);
            if (allow)
                return;  // the handler keeps the dialog open
        }
        reject();
    }

private:
    // The handler judges what the user wrote, not the path the dialog made of
    // it by joining it to the current folder.
    QString TypedName(const QString& aChosen) const
    {
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        return edit ? edit->text() : aChosen;
    }

    TBrowseDlg& mOwner;
};

TBrowseDlg::TBrowseDlg() = default;

bool TBrowseDlg::Execute(QWidget* aOwner)
{
    mFolder.clear();
    TFolderDialog dialog(*this, aOwner);
    dialog.setWindowTitle(mCaption);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QFileDialog::Options options;
    if (mOptions.count(NBrowseOption::boBrowseIncludeFiles) == 0)
        options |= QFileDialog::ShowDirsOnly;
    if (mOptions.count(NBrowseOption::boNoNewFolderButton) != 0)
        options |= QFileDialog::ReadOnly;
    // A veto needs our hands on the dialog's buttons, and the instruction line
    // a label of ours; a desktop's own dialog gives neither.
    if (OnSelectionChange || OnValidateFailed || !mText.isEmpty())
        options |= QFileDialog::DontUseNativeDialog;
    dialog.setOptions(options);
    if (!mText.isEmpty())
        dialog.setLabelText(QFileDialog::LookIn, mText);

    const QString start = NearestExistingFolder(mInitialIDList.isEmpty() ? mInitialDir : mInitialIDList);
    dialog.setDirectory(start.isEmpty() ? QDir::homePath() : start);

    QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog,
                     [this](const QString& aPath) { RaiseSelectionChange(aPath); });
    // Raised from inside the modal loop, once the dialog is up. The dialog
    // announces no change for the folder it opens in, so a veto of that folder
    // would otherwise leave OK on; the handler hears of it before OnInit, which
    // may still set the button its own way.
    QTimer::singleShot(0, &dialog, [this, &dialog] {
        RaiseSelectionChange(QDir::cleanPath(dialog.directory().absolutePath()));
        if (OnInit)
            OnInit(*this);
    });

    // The dialog turns its accept button on again by itself (selection and
    // typing updates); a veto from our events must outlast those.
    mOkVetoed = false;
    QPushButton* accept = nullptr;
    if (auto* box = dialog.findChild<QDialogButtonBox*>())
        accept = box->button(QDialogButtonBox::Open);
    TKeepDisabled keepDisabled(mOkVetoed);
    if (accept)
        accept->installEventFilter(&keepDisabled);

    mDialog = &dialog;
    struct Forget {
        QFileDialog*& dialog;
        ~Forget() { dialog = nullptr; }
    } forget{mDialog};
    const bool confirmed = mExec ? mExec(dialog) : dialog.exec() == QDialog::Accepted;
    if (!confirmed)
        return false;
    const QStringList files = dialog.selectedFiles();
    const QString chosen = files.isEmpty() ? dialog.directory().absolutePath() : files.first();
    mPath = QDir::cleanPath(chosen);
    mFolder = QFileInfo(mPath).fileName();
    if (mFolder.isEmpty())
        mFolder = mPath;  // the root has no name of its own
    return true;
}

void TBrowseDlg::RaiseSelectionChange(const QString& aPath)
{
    if (!OnSelectionChange)
        return;
    bool allow = true;
    OnSelectionChange(*this, aPath, allow);
    // With only file-system folders asked for, the dialog keeps its own say over OK.
    if (mOptions.count(NBrowseOption::boReturnOnlyFSDirs) == 0)
        ButtonEnabled(allow);
}

void TBrowseDlg::ButtonEnabled(bool aValue)
{
    if (!mDialog)
        return;
    mOkVetoed = !aValue;
    if (auto* box = mDialog->findChild<QDialogButtonBox*>())
        if (QPushButton* accept = box->button(QDialogButtonBox::Open))
            accept->setEnabled(aValue);
}
