#pragma once
// The window's pictures and animation clips, drawn by our own painting code.
// Vector drawing keeps them crisp at any device pixel ratio.

#include <QTimer>
#include <QWidget>

enum class TArtKind {
    Connected,     // computer and globe joined by a cable
    NotConnected,  // computer and a grey globe with a red cross
    Completed,     // computer and globe with a green check mark
    Connecting,    // clip: a globe with radio waves pulsing outward
    Downloading,   // clip: a packet travels along the cable from the globe to the computer
};

// Number of frames of a kind: 1 for a picture, 3 or 6 for a clip.
int ArtFrameCount(TArtKind aKind);

// Draws frame aFrame of aKind into the 32 x 32 logical square at the painter's origin.
class QPainter;
void PaintArt(QPainter& aPainter, TArtKind aKind, int aFrame);

// A 32 x 32 picture or looping clip; clips advance every kClipFrameMs while running.
class TArtwork : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClipFrameMs = 200;

    explicit TArtwork(TArtKind aKind, QWidget* aParent = nullptr);
    TArtKind Kind() const { return mKind; }
    int Frame() const { return mFrame; }
    bool Active() const { return mTimer.isActive(); }
    // Loops from the first to the last frame until the widget goes.
    void Play();
    void Stop();

protected:
    void paintEvent(QPaintEvent* aEvent) override;

private:
    TArtKind mKind;
    int mFrame = 0;
    QTimer mTimer;
};
