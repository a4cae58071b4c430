#pragma once
// A label that looks and acts like a web link: link colour, underlined, hand
// cursor, activated by one click (or Space when it has the keyboard focus).

#include <QLabel>

class THyperlinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit THyperlinkLabel(QWidget* aParent = nullptr);

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
