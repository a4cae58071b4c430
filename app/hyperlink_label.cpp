#include "app/hyperlink_label.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace {
const QColor kLinkColour(0x00, 0x66, 0xcc);
const QColor kHotLinkColour(0x00, 0x44, 0x99);
}  // namespace

THyperlinkLabel::THyperlinkLabel(QWidget* aParent) : QLabel(aParent)
{
    // Plain text: the address comes from a server and must never be read as markup.
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAutoFillBackground(false);
    QFont linkFont = font();
    linkFont.setUnderline(true);
    setFont(linkFont);
    SetHot(false);
}

void THyperlinkLabel::SetHot(bool aHot)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, aHot ? kHotLinkColour : kLinkColour);
    setPalette(palette);
}

void THyperlinkLabel::mousePressEvent(QMouseEvent* aEvent)
{
    mPressed = aEvent->button() == Qt::LeftButton;
    aEvent->accept();
}

void THyperlinkLabel::mouseReleaseEvent(QMouseEvent* aEvent)
{
    const bool click =
        mPressed && aEvent->button() == Qt::LeftButton && rect().contains(aEvent->position().toPoint());
    mPressed = false;
    aEvent->accept();
    if (click)
        emit clicked();
}

void THyperlinkLabel::keyPressEvent(QKeyEvent* aEvent)
{
    if (aEvent->key() == Qt::Key_Space && aEvent->modifiers() == Qt::NoModifier) {
        aEvent->accept();
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(aEvent);
}

void THyperlinkLabel::enterEvent(QEnterEvent* aEvent)
{
    SetHot(true);
    QLabel::enterEvent(aEvent);
}

void THyperlinkLabel::leaveEvent(QEvent* aEvent)
{
    SetHot(false);
    mPressed = false;
    QLabel::leaveEvent(aEvent);
}

void THyperlinkLabel::paintEvent(QPaintEvent* aEvent)
{
    QLabel::paintEvent(aEvent);
    if (!hasFocus())
        return;
    // Show where the keyboard is, around the text only.
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    const int width = qMin(fontMetrics().horizontalAdvance(text()) + 4, this->width());
    option.rect = QRect(0, 0, width, height());
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}
