// Renders every page of the wizard window, with sample texts and a download
// under way, to PNG files: app_screenshots --screenshots DIR
// Runs headless; the settings and folders it touches live in a scratch HOME.

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/artwork.h"
#include "app/main_window.h"

namespace {

void SetText(TfrmMain& aWindow, const char* aName, const QString& aText)
{
    if (auto* label = aWindow.findChild<QLabel*>(QLatin1String(aName)))
        label->setText(aText);
    else if (auto* edit = aWindow.findChild<QLineEdit*>(QLatin1String(aName)))
        edit->setText(aText);
}

bool Save(QWidget& aWidget, const QString& aPath)
{
    const bool saved = aWidget.grab().save(aPath);
    std::printf("%s %s\n", saved ? "wrote" : "cannot write", qPrintable(aPath));
    return saved;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || std::strcmp(argv[1], "--screenshots") != 0) {
        std::fprintf(stderr, "usage: app_screenshots --screenshots DIR\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir home;
    setenv("HOME", qPrintable(home.path()), 1);
    setenv("XDG_CONFIG_HOME", qPrintable(home.path() + "/.config"), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(folder);

    TfrmMain window;
    window.Inicializa();
    window.show();
    QApplication::processEvents();
    auto* pages = window.findChild<QStackedWidget*>(QStringLiteral("PC"));

    SetText(window, "lblLineInfo1", QStringLiteral("Sample Suite 5.2"));
    SetText(window, "lblInfoLink", QStringLiteral("Version information"));
    SetText(window, "lblInfoSize",
            QStringLiteral("3 files - 120 MB total size - Estimated 10 min (ADSL - Cable)"));
    SetText(window, "txtFolder", QStringLiteral("/home/ana/Downloads/Sample Suite"));
    SetText(window, "lblEnd1", QStringLiteral("Please, click Install to start installation now."));
    SetText(window, "lblEnd2",
            QStringLiteral("You can run the installation later running setup.sh in destination folder."));

    const char* names[] = {"0-connecting", "1-not-connected", "2-destination",
                           "3-download",   "4-interrupted",   "5-install"};
    bool ok = true;
    for (int page = 0; page < 6; ++page) {
        pages->setCurrentIndex(page);
        if (page == TfrmMain::tbDownload) {
            TDownloadData& data = *window.DownloadData();
            data.SetMostrarProgreso(true);
            data.SetArchivoDown("data2.cab");
            data.SetArchProgresoMax(48'000'000);
            data.SetArchProgreso(31'200'000);
            data.SetNumber(2);
            data.SetTotal(3);
            data.SetSize(120'000'000);
            data.SetAcumulado(71'200'000);
            data.SetTStart(1);
            data.SetTAcumStart(1);
            window.UpdateProgress();
        }
        QApplication::processEvents();
        ok = Save(window, folder + "/" + names[page] + ".png") && ok;
    }

    // The pictures and every clip frame, large, to judge the drawing.
    const TArtKind kinds[] = {TArtKind::Connected, TArtKind::NotConnected, TArtKind::Completed,
                              TArtKind::Connecting, TArtKind::Downloading};
    constexpr int kScale = 4;
    QImage sheet(6 * 32 * kScale, 5 * 32 * kScale, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (int row = 0; row < 5; ++row)
        for (int frame = 0; frame < ArtFrameCount(kinds[row]); ++frame) {
            painter.save();
            painter.translate(frame * 32 * kScale, row * 32 * kScale);
            painter.scale(kScale, kScale);
            PaintArt(painter, kinds[row], frame);
            painter.restore();
        }
    painter.end();
    const QString artPath = folder + "/pictures.png";
    ok = sheet.save(artPath) && ok;
    std::printf("wrote %s\n", qPrintable(artPath));
    return ok ? 0 : 1;
}
