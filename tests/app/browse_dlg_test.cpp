#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>

#include "components/browse_dlg.h"
#include "tests/support/scratch_folder.h"

namespace {

using enum NBrowseOption;

struct FlagCase {
    const char* name;
    SBrowseOptions options;
    std::uint32_t flags;
};

void PrintTo(const FlagCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const FlagCase kFlagCases[] = {
    {"empty", {}, 0},
    {"edit_box_new_style", {boEditBox, boNewDialogStyle}, 0x50},
    {"use_new_ui", {boUseNewUI}, 0x50},
    {"use_new_ui_overlaps_its_parts", {boUseNewUI, boEditBox}, 0x50},
    {"every_option",
     {boBrowseForComputer, boBrowseForPrinter, boBrowseIncludeFiles, boBrowseIncludeURLs, boDontGoBelowDomain,
      boEditBox, boNewDialogStyle, boNoNewFolderButton, boReturnFSAncestors, boReturnOnlyFSDirs, boShareable,
      boStatusText, boUAHint, boUseNewUI, boValidate},
     0xF3FF},
    {"computer_printer_files", {boBrowseForComputer, boBrowseForPrinter, boBrowseIncludeFiles}, 0x7000},
};

class BrowseFlagWord : public ::testing::TestWithParam<FlagCase> {};

TEST_P(BrowseFlagWord, OrsTheFlagOfEachOption)
{
    EXPECT_EQ(BrowseFlags(GetParam().options), GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(Cases, BrowseFlagWord, ::testing::ValuesIn(kFlagCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

class BrowseDialog : public ::testing::Test {
protected:
    ScratchFolder mScratch;
    const QString mRoot = QString::fromStdString(mScratch.Path().string());
    QString Folder(const QString& aName)
    {
        QDir(mRoot).mkpath(aName);
        return QDir::cleanPath(mRoot + "/" + aName);
    }
    TBrowseDlg mDialog;
};

TEST_F(BrowseDialog, ConfirmSetsPathAndFolderAndCancelKeepsThePath)
{
    const QString first = Folder("first");
    const QString second = Folder("second");
    mDialog.SetCaption("Select destination path");
    mDialog.SetInitialDir(Folder("start/deeper"));
    mDialog.SetInitialIDList(second);  // wins over InitialDir
    QString shownDirectory, shownCaption;
    mDialog.SetExecHook([&](QFileDialog& aDialog) {
        shownDirectory = aDialog.directory().absolutePath();
        shownCaption = aDialog.windowTitle();
        aDialog.selectFile(first);
        return true;
    });
    ASSERT_TRUE(mDialog.Execute(nullptr));
    EXPECT_EQ(shownDirectory, second);
    EXPECT_EQ(shownCaption, "Select destination path");
    EXPECT_EQ(mDialog.Path(), first);
    EXPECT_EQ(mDialog.Folder(), "first");

    mDialog.SetExecHook([](QFileDialog&) { return false; });
    EXPECT_FALSE(mDialog.Execute(nullptr));
    EXPECT_EQ(mDialog.Path(), first);
    EXPECT_TRUE(mDialog.Folder().isEmpty());
}

TEST_F(BrowseDialog, StartsInTheNearestExistingFolderOfAMissingInitialDir)
{
    mDialog.SetInitialDir(Folder("here") + "/not/yet");
    QString shownDirectory;
    mDialog.SetExecHook([&](QFileDialog& aDialog) {
        shownDirectory = aDialog.directory().absolutePath();
        return false;
    });
    mDialog.Execute(nullptr);
    EXPECT_EQ(shownDirectory, Folder("here"));
}

TEST_F(BrowseDialog, SelectionVetoDisablesOkUnlessOnlyFileSystemFoldersAreAsked)
{
    for (const bool onlyFsDirs : {false, true}) {
        SCOPED_TRACE(onlyFsDirs ? "boReturnOnlyFSDirs" : "no boReturnOnlyFSDirs");
        mDialog.SetOptions(onlyFsDirs ? SBrowseOptions{boReturnOnlyFSDirs} : SBrowseOptions{});
        QString seen;
        mDialog.OnSelectionChange = [&](TBrowseDlg&, const QString& aSelection, bool& aAllow) {
            seen = aSelection;
            aAllow = false;
        };
        bool okEnabled = true;
        mDialog.SetExecHook([&](QFileDialog& aDialog) {
            aDialog.show();
            emit aDialog.currentChanged(Folder("picked"));
            QPushButton* ok = aDialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
            ok->setEnabled(true);  // what the dialog's own selection update does next
            okEnabled = ok->isEnabled();
            return false;
        });
        mDialog.Execute(nullptr);
        EXPECT_EQ(seen, Folder("picked"));
        EXPECT_EQ(okEnabled, onlyFsDirs);
    }
}

TEST_F(BrowseDialog, StartingFolderGoesThroughTheSelectionVeto)
{
    const QString start = Folder("start");
    mDialog.SetInitialDir(start);
    for (const bool onlyFsDirs : {false, true}) {
        SCOPED_TRACE(onlyFsDirs ? "boReturnOnlyFSDirs" : "no boReturnOnlyFSDirs");
        mDialog.SetOptions(onlyFsDirs ? SBrowseOptions{boReturnOnlyFSDirs} : SBrowseOptions{});
        QStringList seen;
        mDialog.OnSelectionChange = [&](TBrowseDlg&, const QString& aSelection, bool& aAllow) {
            seen << aSelection;
            aAllow = false;
        };
        bool okEnabled = true;
        mDialog.SetExecHook([&](QFileDialog& aDialog) {
            aDialog.show();
            QCoreApplication::processEvents();  // one turn of the modal loop
            okEnabled = aDialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->isEnabled();
            aDialog.hide();
            return false;
        });
        mDialog.Execute(nullptr);
        ASSERT_FALSE(seen.isEmpty());
        EXPECT_EQ(seen.first().toStdString(), start.toStdString());
        EXPECT_EQ(okEnabled, onlyFsDirs);
    }
}

TEST_F(BrowseDialog, InstructionLineKeepsQtsOwnDialogSoItIsShown)
{
    mDialog.SetText("Choose where the files go");
    bool ownDialog = false;
    QString label;
    mDialog.SetExecHook([&](QFileDialog& aDialog) {
        ownDialog = aDialog.testOption(QFileDialog::DontUseNativeDialog);
        label = aDialog.labelText(QFileDialog::LookIn);
        return false;
    });
    mDialog.Execute(nullptr);
    EXPECT_TRUE(ownDialog);
    EXPECT_EQ(label.toStdString(), "Choose where the files go");
}

TEST_F(BrowseDialog, TypedNameThatIsNoFolderStaysOpenOnlyWhenTheHandlerAllows)
{
    mDialog.SetOptions({boValidate});
    mDialog.SetInitialDir(mRoot);
    const auto typeMissingAndAccept = [this](bool& aStillOpen) {
        mDialog.SetExecHook([&aStillOpen](QFileDialog& aDialog) {
            aDialog.show();
            aDialog.selectFile("no-such-folder");
            static_cast<QDialog&>(aDialog).accept();  // as the accept button does
            aStillOpen = aDialog.isVisible();
            aDialog.hide();
            return false;
        });
        mDialog.Execute(nullptr);
    };

    QString typed;
    mDialog.OnValidateFailed = [&](TBrowseDlg&, const QString& aName, bool&) { typed = aName; };
    bool stillOpen = false;
    typeMissingAndAccept(stillOpen);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(typed.toStdString(), "no-such-folder");  // as written, not joined to the current folder

    mDialog.OnValidateFailed = nullptr;
    typeMissingAndAccept(stillOpen);
    EXPECT_FALSE(stillOpen);
}

TEST_F(BrowseDialog, InitEventComesOnceTheDialogRuns)
{
    int inits = 0;
    mDialog.OnInit = [&](TBrowseDlg& aSender) {
        ++inits;
        EXPECT_NE(aSender.Dialog(), nullptr);
    };
    mDialog.SetExecHook([](QFileDialog&) {
        QCoreApplication::processEvents();
        return false;
    });
    mDialog.Execute(nullptr);
    EXPECT_EQ(inits, 1);
    EXPECT_EQ(mDialog.Dialog(), nullptr);
}

}  // namespace
