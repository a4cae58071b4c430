// The window's side of the progress path: the progress message, the refresh
// timer and the download page's display.

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

#include "app/main_window.h"
#include "app/string_table.h"
#include "app/taskbar_progress.h"
#include "engine/progress_figures.h"

namespace {

void ApplyBar(QProgressBar* aBar, TBarFigures aFigures)
{
    aBar->setRange(0, aFigures.maximum);
    aBar->setValue(aFigures.position);
}

}  // namespace

void TfrmMain::WMDownloadProgress()
{
    UpdateProgress(nullptr);
}

void TfrmMain::mTmrTimer()
{
    UpdateProgress(nullptr);
}

void TfrmMain::UpdateProgress(QObject*)
{
    if (!gDownloadData)
        return;
    const TDownloadData& data = *gDownloadData;
    if (data.Terminado() || data.Cancelado())
        return;
    const std::uint32_t now = mEnvironment.Now();

    // The figures are still shown this once: they tell where it stalled.
    if (mStallWatch.Check(data.ArchProgreso(), now))
        btCancel->click();  // as if the user had pressed Cancel
    if (!data.MostrarProgreso())
        return;

    const QLocale locale;
    const std::uint64_t progress = data.ArchProgreso();
    const std::uint64_t progressMax = data.ArchProgresoMax();
    ApplyBar(pbFile, ScaleForBar(static_cast<double>(progress), static_cast<double>(progressMax)));
    lblFile->setText(QString::fromStdString(data.ArchivoDown()));
    if (progress == 0)
        edNumber->setText(QLatin1String(strings::kNoShareYet));
    else if (progressMax == 0)
        edNumber->clear();  // the length was not announced: no share to show
    else
        edNumber->setText(LocalePercentText(
            static_cast<double>(progress) * 100.0 / static_cast<double>(progressMax), locale));

    const double accumulated = data.Acumulado();
    const double size = data.Size();
    if (data.Number() < 1) {
        edTotal->setText(QLatin1String(strings::kNoShareYet));
        ApplyBar(pbAll, ScaleForBar(data.Number(), data.Total()));
    } else {
        if (size > 0)
            edTotal->setText(LocalePercentText(accumulated * 100.0 / size, locale));
        else
            edTotal->clear();  // the info file gave no total size
        ApplyBar(pbAll, ScaleForBar(accumulated, size));
    }
    if (TaskbarProgress) {
        TaskbarProgress->SetProgressMaxValue(static_cast<std::uint64_t>(std::max(pbAll->maximum(), 0)));
        TaskbarProgress->SetProgressValue(static_cast<std::uint64_t>(std::max(pbAll->value(), 0)));
    }

    QString caption = QLatin1String(strings::kDownloading) + QLatin1String(strings::kDownloadingCaptionEnd);
    if (!edTotal->text().isEmpty())
        caption += u' ' + edTotal->text();
    setWindowTitle(caption);
    repaint();
    QCoreApplication::setApplicationName(QLatin1String(strings::kDownloader));

    const double fileEstimate = FileTimeLeftMs(data, now);
    const double overallEstimate = OverallTimeLeftMs(data, now);
    if (fileEstimate > 0)
        edNumberLeft->setText(QLatin1String(strings::kTimeLeft) + LocaleTimeText(fileEstimate, locale));
    if (overallEstimate > 0)
        edTotalLeft->setText(QLatin1String(strings::kTimeLeft) + LocaleTimeText(overallEstimate, locale));
}
