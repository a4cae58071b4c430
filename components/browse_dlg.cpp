#include "components/browse_dlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
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
    {NBrowseOption::boBrowseForComputer, 0x1000}, {NBrowseOption::boBrowseForPrinter, 0x2000},
    {NBrowseOption::boBrowseIncludeFiles, 0x4000}, {NBrowseOption::boBrowseIncludeURLs, 0x80},
    {NBrowseOption::boDontGoBelowDomain, 0x2},     {NBrowseOption::boEditBox, 0x10},
    {NBrowseOption::boNewDialogStyle, 0x40},       {NBrowseOption::boNoNewFolderButton, 0x200},
    {NBrowseOption::boReturnFSAncestors, 0x8},     {NBrowseOption::boReturnOnlyFSDirs, 0x1},
    {NBrowseOption::boShareable, 0x8000},          {NBrowseOption::boStatusText, 0x4},
    {NBrowseOption::boUAHint, 0x100},              {NBrowseOption::boUseNewUI, 0x50},
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
        const QString typed = files.isEmpty() ? QString() : files.first();
        const bool validate = mOwner.mOptions.count(NBrowseOption::boValidate) != 0;
        if (!validate || typed.isEmpty() || QFileInfo(typed).isDir()) {
            QFileDialog::accept();
            return;
        }
        bool allow = true;
        if (mOwner.OnValidateFailed) {
            mOwner.OnValidateFailed(mOwner, typed, allow);
            if (allow)
                return;  // the handler keeps the dialog open
        }
        reject();
    }

private:
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
    // A veto needs our hands on the dialog's buttons, which a desktop's own
    // dialog does not give.
    if (OnSelectionChange || OnValidateFailed)
        options |= QFileDialog::DontUseNativeDialog;
    dialog.setOptions(options);
    if (!mText.isEmpty())
        dialog.setLabelText(QFileDialog::LookIn, mText);

    const QString start = NearestExistingFolder(mInitialIDList.isEmpty() ? mInitialDir : mInitialIDList);
    dialog.setDirectory(start.isEmpty() ? QDir::homePath() : start);

    QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog, [this](const QString& aPath) {
        if (!OnSelectionChange)
            return;
        bool allow = true;
        OnSelectionChange(*this, aPath, allow);
        if (mOptions.count(NBrowseOption::boReturnOnlyFSDirs) == 0)
            ButtonEnabled(allow);
    });
    // Raised from inside the modal loop, once the dialog is up.
    QTimer::singleShot(0, &dialog, [this] {
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

void TBrowseDlg::ButtonEnabled(bool aValue)
{
    if (!mDialog)
        return;
    mOkVetoed = !aValue;
    if (auto* box = mDialog->findChild<QDialogButtonBox*>())
        if (QPushButton* accept = box->button(QDialogButtonBox::Open))
            accept->setEnabled(aValue);
}
