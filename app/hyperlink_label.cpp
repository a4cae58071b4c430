#include "app/hyperlink_label.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace {
const QColor kLinkColour(0x00, 0x66, 0xcc);
const QColor kHotLinkColour(0x00, 0x44, 0x99);

// What a screen reader sees: a link named by its text that it can press.
class TAccessibleHyperlink : public QAccessibleWidget {
public:
    explicit TAccessibleHyperlink(THyperlinkLabel* aLabel) : QAccessibleWidget(aLabel, QAccessible::Link) {}

    QString text(QAccessible::Text aKind) const override
    {
        if (aKind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return Label()->text();
        return QAccessibleWidget::text(aKind);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        return state;
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    QStringList keyBindingsForAction(const QString& aName) const override
    {
        if (aName == pressAction())
            return {QStringLiteral("Space"), QStringLiteral("Return")};
        return QAccessibleWidget::keyBindingsForAction(aName);
    }
    void doAction(const QString& aName) override
    {
        if (aName == pressAction() && widget()->isEnabled())
            Label()->Activate();
        else
            QAccessibleWidget::doAction(aName);
    }

private:
    THyperlinkLabel* Label() const { return static_cast<THyperlinkLabel*>(widget()); }
};

QAccessibleInterface* HyperlinkAccessible(const QString& aClassName, QObject* aObject)
{
    if (aClassName != QLatin1String(THyperlinkLabel::staticMetaObject.className()))
        return nullptr;
    auto* label = qobject_cast<THyperlinkLabel*>(aObject);
    return label ? new TAccessibleHyperlink(label) : nullptr;
}

}  // namespace

THyperlinkLabel::THyperlinkLabel(QWidget* aParent) : TElidedLabel(QString(), aParent)
{
    static const bool kFactoryInstalled = [] {
        QAccessible::installFactory(&HyperlinkAccessible);
        return true;
    }();
    (void)kFactoryInstalled;
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

void THyperlinkLabel::Activate()
{
    emit clicked();
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
    // Enter belongs to the focused link, not to the page's default button.
    const int key = aEvent->key();
    const bool plain = (aEvent->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        aEvent->accept();
        Activate();
        return;
    }
    TElidedLabel::keyPressEvent(aEvent);
}

void THyperlinkLabel::enterEvent(QEnterEvent* aEvent)
{
    SetHot(true);
    TElidedLabel::enterEvent(aEvent);
}

void THyperlinkLabel::leaveEvent(QEvent* aEvent)
{
    SetHot(false);
    mPressed = false;
    TElidedLabel::leaveEvent(aEvent);
}

void THyperlinkLabel::paintEvent(QPaintEvent* aEvent)
{
    TElidedLabel::paintEvent(aEvent);
    if (!hasFocus())
        return;
    // Show where the keyboard is, around the text only.
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    const int width =
        qMin(TextArea().left() + fontMetrics().horizontalAdvance(ShownText()) + 2, this->width());
    option.rect = QRect(0, 0, width, height());
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}
