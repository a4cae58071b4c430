#include "app/elided_label.h"

#include <QPainter>
#include <QStyle>

TElidedLabel::TElidedLabel(const QString& aText, QWidget* aParent, Qt::TextElideMode aMode)
    : QLabel(aText, aParent), mMode(aMode)
{
}

void TElidedLabel::SetElideMode(Qt::TextElideMode aMode)
{
    mMode = aMode;
    update();
}

QRect TElidedLabel::TextArea() const
{
    return contentsRect().adjusted(indent() > 0 ? indent() : 0, 0, 0, 0);
}

QString TElidedLabel::ShownText()
{
    const QString shown = fontMetrics().elidedText(text(), mMode, TextArea().width());
    // Only a shortened text gets a tooltip: a whole one would just repeat it.
    const QString tip = shown == text() ? QString() : text();
    if (toolTip() != tip)
        setToolTip(tip);
    return shown;
}

void TElidedLabel::paintEvent(QPaintEvent*)
{
    const QString shown = ShownText();
    QPainter painter(this);
    style()->drawItemText(&painter, TextArea(), static_cast<int>(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
}
