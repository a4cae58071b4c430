#include "app/artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

const QPointF kGlobeCentre{24.0, 9.0};
constexpr double kGlobeRadius = 6.5;

void PaintComputer(QPainter& aPainter)
{
    aPainter.setPen(QPen(QColor(0x4a, 0x4a, 0x4a), 1.0));
    aPainter.setBrush(QColor(0xd6, 0xd6, 0xd6));
    aPainter.drawRoundedRect(QRectF(1.5, 11.5, 18.0, 13.0), 1.5, 1.5);
    QLinearGradient screen(QPointF(3.5, 13.5), QPointF(17.5, 22.5));
    screen.setColorAt(0.0, QColor(0x7f, 0xb6, 0xf2));
    screen.setColorAt(1.0, QColor(0x24, 0x5f, 0xc0));
    aPainter.setPen(QPen(QColor(0x33, 0x33, 0x33), 0.8));
    aPainter.setBrush(screen);
    aPainter.drawRect(QRectF(3.5, 13.5, 14.0, 9.0));
    aPainter.setPen(Qt::NoPen);
    aPainter.setBrush(QColor(0x80, 0x80, 0x80));
    aPainter.drawRect(QRectF(8.5, 24.5, 4.0, 2.5));
    aPainter.setPen(QPen(QColor(0x4a, 0x4a, 0x4a), 1.0));
    aPainter.setBrush(QColor(0xb4, 0xb4, 0xb4));
    aPainter.drawRoundedRect(QRectF(4.5, 27.0, 12.0, 2.5), 1.0, 1.0);
}

void PaintGlobe(QPainter& aPainter, QPointF aCentre, double aRadius, bool aGrey)
{
    QRadialGradient sea(aCentre - QPointF(aRadius / 3, aRadius / 3), aRadius * 1.4);
    sea.setColorAt(0.0, aGrey ? QColor(0xdc, 0xdc, 0xdc) : QColor(0x8c, 0xc8, 0xff));
    sea.setColorAt(1.0, aGrey ? QColor(0x8e, 0x8e, 0x8e) : QColor(0x1b, 0x5c, 0xb4));
    const QRectF disc(aCentre.x() - aRadius, aCentre.y() - aRadius, 2 * aRadius, 2 * aRadius);
    QPainterPath globe;
    globe.addEllipse(disc);
    aPainter.setPen(Qt::NoPen);
    aPainter.setBrush(sea);
    aPainter.drawPath(globe);

    // Two land masses, clipped to the disc so that they follow its edge.
    aPainter.save();
    aPainter.setClipPath(globe);
    aPainter.setBrush(aGrey ? QColor(0x76, 0x76, 0x76) : QColor(0x3c, 0xa0, 0x48));
    const double unit = aRadius / 6.5;
    QPainterPath land;
    land.moveTo(aCentre + QPointF(-5.5, -3.5) * unit);
    land.cubicTo(aCentre + QPointF(-2.0, -6.5) * unit, aCentre + QPointF(0.5, -3.0) * unit,
                 aCentre + QPointF(-1.5, -0.5) * unit);
    land.cubicTo(aCentre + QPointF(-2.5, 1.5) * unit, aCentre + QPointF(-1.0, 4.5) * unit,
                 aCentre + QPointF(-3.0, 6.0) * unit);
    land.cubicTo(aCentre + QPointF(-6.0, 4.0) * unit, aCentre + QPointF(-7.0, -1.0) * unit,
                 aCentre + QPointF(-5.5, -3.5) * unit);
    land.moveTo(aCentre + QPointF(1.5, -5.5) * unit);
    land.cubicTo(aCentre + QPointF(5.0, -5.0) * unit, aCentre + QPointF(7.0, 0.0) * unit,
                 aCentre + QPointF(4.5, 2.5) * unit);
    land.cubicTo(aCentre + QPointF(3.0, 4.0) * unit, aCentre + QPointF(1.5, 1.0) * unit,
                 aCentre + QPointF(2.5, -1.0) * unit);
    land.cubicTo(aCentre + QPointF(3.0, -3.0) * unit, aCentre + QPointF(0.5, -3.5) * unit,
                 aCentre + QPointF(1.5, -5.5) * unit);
    aPainter.drawPath(land);
    aPainter.setBrush(Qt::NoBrush);
    aPainter.setPen(QPen(QColor(255, 255, 255, 110), 0.7));
    aPainter.drawEllipse(QRectF(aCentre.x() - aRadius / 2.2, disc.top(), aRadius / 1.1, 2 * aRadius));
    aPainter.drawLine(QPointF(disc.left(), aCentre.y()), QPointF(disc.right(), aCentre.y()));
    aPainter.restore();

    aPainter.setBrush(Qt::NoBrush);
    aPainter.setPen(QPen(aGrey ? QColor(0x5c, 0x5c, 0x5c) : QColor(0x15, 0x45, 0x8c), 1.0));
    aPainter.drawEllipse(disc);
}

QPainterPath CablePath()
{
    // From the globe's foot down to the computer's right side.
    QPainterPath cable;
    cable.moveTo(kGlobeCentre + QPointF(0.0, kGlobeRadius));
    cable.cubicTo(QPointF(24.0, 21.0), QPointF(22.0, 18.5), QPointF(19.5, 18.5));
    return cable;
}

void PaintCable(QPainter& aPainter)
{
    aPainter.setBrush(Qt::NoBrush);
    aPainter.setPen(QPen(QColor(0x30, 0x30, 0x30), 1.3, Qt::SolidLine, Qt::RoundCap));
    aPainter.drawPath(CablePath());
}

// The computer linked to the world: the ground of three of the pictures.
void PaintConnection(QPainter& aPainter)
{
    PaintCable(aPainter);
    PaintComputer(aPainter);
    PaintGlobe(aPainter, kGlobeCentre, kGlobeRadius, false);
}

void PaintRedCross(QPainter& aPainter, QPointF aCentre)
{
    const double arm = 3.6;
    for (const auto& [width, colour] :
         {std::pair{4.6, QColor(Qt::white)}, std::pair{2.6, QColor(0xd0, 0x1c, 0x1c)}}) {
        aPainter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
        aPainter.drawLine(aCentre + QPointF(-arm, -arm), aCentre + QPointF(arm, arm));
        aPainter.drawLine(aCentre + QPointF(-arm, arm), aCentre + QPointF(arm, -arm));
    }
}

void PaintCheckMark(QPainter& aPainter)
{
    QPainterPath check;
    check.moveTo(21.0, 23.5);
    check.lineTo(24.5, 27.5);
    check.lineTo(30.5, 19.0);
    aPainter.setBrush(Qt::NoBrush);
    aPainter.setPen(QPen(Qt::white, 5.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    aPainter.drawPath(check);
    aPainter.setPen(QPen(QColor(0x22, 0x9a, 0x32), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    aPainter.drawPath(check);
}

void PaintRadioWaves(QPainter& aPainter, int aFrame)
{
    // Each frame adds one ring of waves; the newest is the strongest.
    const QPointF centre{16.0, 16.0};
    for (int ring = 0; ring <= aFrame; ++ring) {
        const double radius = 10.0 + 2.6 * ring;
        const int alpha = ring == aFrame ? 255 : 150;
        aPainter.setPen(QPen(QColor(0x1f, 0x78, 0xd8, alpha), 1.5, Qt::SolidLine, Qt::RoundCap));
        const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        aPainter.drawArc(box, -40 * 16, 80 * 16);  // right side
        aPainter.drawArc(box, 140 * 16, 80 * 16);  // left side
    }
}

}  // namespace

int ArtFrameCount(TArtKind aKind)
{
    switch (aKind) {
    case TArtKind::Connecting: return 3;
    case TArtKind::Downloading: return 6;
    default: return 1;
    }
}

void PaintArt(QPainter& aPainter, TArtKind aKind, int aFrame)
{
    aPainter.save();
    aPainter.setRenderHint(QPainter::Antialiasing);
    switch (aKind) {
    case TArtKind::Connected: PaintConnection(aPainter); break;
    case TArtKind::NotConnected:
        PaintComputer(aPainter);
        PaintGlobe(aPainter, kGlobeCentre, kGlobeRadius, true);
        PaintRedCross(aPainter, kGlobeCentre + QPointF(0.0, 1.0));
        break;
    case TArtKind::Completed:
        PaintConnection(aPainter);
        PaintCheckMark(aPainter);
        break;
    case TArtKind::Connecting:
        PaintGlobe(aPainter, QPointF(16.0, 16.0), 8.0, false);
        PaintRadioWaves(aPainter, aFrame % 3);
        break;
    case TArtKind::Downloading: {
        PaintConnection(aPainter);
        const QPointF packet = CablePath().pointAtPercent((aFrame % 6) / 5.0);
        aPainter.setPen(QPen(QColor(0x7a, 0x3d, 0x00), 0.8));
        aPainter.setBrush(QColor(0xff, 0xa5, 0x1e));
        aPainter.drawRect(QRectF(packet.x() - 2.0, packet.y() - 2.0, 4.0, 4.0));
        break;
    }
    }
    aPainter.restore();
}

TArtwork::TArtwork(TArtKind aKind, QWidget* aParent) : QWidget(aParent), mKind(aKind)
{
    setFixedSize(32, 32);
    setAttribute(Qt::WA_TranslucentBackground);
    mTimer.setInterval(kClipFrameMs);
    connect(&mTimer, &QTimer::timeout, this, [this] {
        mFrame = (mFrame + 1) % ArtFrameCount(mKind);
        update();
    });
}

void TArtwork::Play()
{
    if (ArtFrameCount(mKind) > 1) {
        mFrame = 0;
        mTimer.start();
    }
}

void TArtwork::Stop()
{
    mTimer.stop();
}

void TArtwork::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintArt(painter, mKind, mFrame);
}
