#include "app/wizard_window.h"

#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/main_window.h"
#include "app/string_table.h"

namespace {

constexpr const char* kNoDisplay = "downloader: cannot open a display (no X11 or Wayland session found); use "
                                   "--silent to download without a window\n";

bool CanConnectUnixSocket(const std::string& aPath, bool aAbstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = aAbstract ? 1 : 0;
    if (aPath.size() + offset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + offset, aPath.data(), aPath.size());
    const int socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socketFd < 0)
        return false;
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + aPath.size());
    const bool connected = connect(socketFd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    ::close(socketFd);
    return connected;
}

// A cheap look for a display before Qt tries, because Qt aborts the process
// when its platform cannot start. Remote X displays are left to Qt.
bool DisplayLooksAvailable()
{
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform && *platform)
        return true;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) {
        std::string path = wayland;
        if (path.front() != '/') {
            const char* runtime = std::getenv("XDG_RUNTIME_DIR");
            path = std::string(runtime ? runtime : "") + "/" + path;
        }
        if (CanConnectUnixSocket(path, false))
            return true;
    }
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    const std::string text = display;
    if (text.front() != ':')
        return true;  // host:number, or a socket path: Qt decides
    const std::string number = text.substr(1, text.find('.') - 1);
    const std::string socketPath = "/tmp/.X11-unix/X" + number;
    return CanConnectUnixSocket(socketPath, true) || CanConnectUnixSocket(socketPath, false);
}

// While the platform starts, Qt's messages are the preamble of a fatal error
// when there is one: hold them back, and turn the fatal error into our one
// line instead of an abort.
void StartupMessageHandler(QtMsgType aType, const QMessageLogContext&, const QString&)
{
    if (aType == QtFatalMsg) {
        std::fputs(kNoDisplay, stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
}

}  // namespace

int RunWizardWindow(int& argc, char** argv, TWorkerEnvironment aEnvironment)
{
    if (!DisplayLooksAvailable()) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    const QtMessageHandler previousHandler = qInstallMessageHandler(StartupMessageHandler);
    QApplication application(argc, argv);
    qInstallMessageHandler(previousHandler);

    QApplication::setApplicationName(QLatin1String(strings::kDownloader));
    QGuiApplication::setDesktopFileName(QStringLiteral("downloader"));
    // Closing the window ends the program, but only once a wait in progress
    // has run to its end; the window decides when.
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<TfrmMain> window;
    try {
        window = std::make_unique<TfrmMain>(std::move(aEnvironment));
        window->Inicializa();
    } catch (const std::exception& error) {
        ShowMessageBox(nullptr, TMessageKind::Error, QLatin1String(strings::kDownloader),
                       QString::fromUtf8(error.what()));
        return 1;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    window->show();
    window->Conectar();
    if (window->QuitRequested()) {
        // Closed while connecting: one more turn, then the end.
        QCoreApplication::processEvents();
        return 0;
    }
    return QApplication::exec();
}
