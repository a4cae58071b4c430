#pragma once
// A label that looks and acts like a web link: link colour, underlined, hand
// cursor, activated by one click, or Space or Enter when it has the keyboard
// focus. Assistive technology sees a link with a press action.

#include "app/elided_label.h"

class THyperlinkLabel : public TElidedLabel {
    Q_OBJECT
public:
    explicit THyperlinkLabel(QWidget* aParent = nullptr);

    // As a click: for the keys and for assistive technology.
    void Activate();

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* aEvent) override;
    void mouseReleaseEvent(QMouseEvent* aEvent) override;
    void keyPressEvent(QKeyEvent* aEvent) override;
    void enterEvent(QEnterEvent* aEvent) override;
    void leaveEvent(QEvent* aEvent) override;
    void paintEvent(QPaintEvent* aEvent) override;

private:
    void SetHot(bool aHot);
    bool mPressed = false;
};
