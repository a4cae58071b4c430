// The download page's figures for files larger than 32 bits can count.

#include "tests/app/wizard_flow_fixture.h"

#include <QProgressBar>

namespace {

TEST_F(WizardFlow, ShowsFiveGibibyteFiguresAsTheirShare)
{
    Open();  // not connected: no worker, the record is ours to fill
    TDownloadData& data = *mWindow->DownloadData();
    data.SetTerminado(false);  // an operation under way
    const std::uint64_t fiveGiB = std::uint64_t{5} << 30;
    data.SetMostrarProgreso(true);
    data.SetArchivoDown("huge.iso");
    data.SetArchProgresoMax(fiveGiB);
    data.SetArchProgreso(fiveGiB / 2);
    data.SetNumber(1);
    data.SetTotal(1);
    data.SetSize(static_cast<double>(fiveGiB) * 2);
    data.SetAcumulado(static_cast<double>(fiveGiB / 2));
    data.SetTStart(1000);
    data.SetTAcumStart(1000);
    mClock = 1000 + 60000;  // half the file in a minute
    mWindow->UpdateProgress();

    auto* file = Find<QProgressBar>("pbFile");
    auto* all = Find<QProgressBar>("pbAll");
    EXPECT_NEAR(double(file->value()) / file->maximum(), 0.5, 1e-4);
    EXPECT_NEAR(double(all->value()) / all->maximum(), 0.25, 1e-4);
    EXPECT_EQ(Text("lblFile"), "huge.iso");
    EXPECT_EQ(Text("edNumber"), "50.00 %");
    EXPECT_EQ(Text("edTotal"), "25.00 %");
    EXPECT_EQ(mWindow->windowTitle(), "Downloading... 25.00 %");
    EXPECT_EQ(Text("edNumberLeft"), "Estimated time left: 00:01:00");
    EXPECT_EQ(Text("edTotalLeft"), "Estimated time left: 00:03:00");

    // More than announced: the shares pass 100 and the estimates stay as they were.
    data.SetArchProgreso(fiveGiB + 1);
    data.SetAcumulado(static_cast<double>(fiveGiB) * 3);
    mClock += 1000;
    mWindow->UpdateProgress();
    EXPECT_EQ(Text("edNumber"), "100.00 %");
    EXPECT_EQ(Text("edTotal"), "150.00 %");
    EXPECT_EQ(file->value(), file->maximum());
    EXPECT_EQ(Text("edNumberLeft"), "Estimated time left: 00:01:00");
    EXPECT_EQ(Text("edTotalLeft"), "Estimated time left: 00:03:00");

    // Before the first file: "0 %", and the overall bar counts files.
    data.SetArchProgreso(0);
    data.SetNumber(0);
    data.SetTotal(4);
    mWindow->UpdateProgress();
    EXPECT_EQ(Text("edNumber"), "0 %");
    EXPECT_EQ(Text("edTotal"), "0 %");
    EXPECT_EQ(all->maximum(), 4);

    // Finished: nothing changes any more.
    data.SetTerminado(true);
    data.SetArchivoDown("other.iso");
    mWindow->UpdateProgress();
    EXPECT_EQ(Text("lblFile"), "huge.iso");
}

}  // namespace
