#pragma once
// A one-line label that shortens a text too long for it with "…" and offers
// the whole text as its tooltip: texts from the server vary in length. File
// names are shortened in the middle, since their ends tell them apart.

#include <QLabel>

class TElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit TElidedLabel(const QString& aText = QString(), QWidget* aParent = nullptr,
                          Qt::TextElideMode aMode = Qt::ElideRight);

    void SetElideMode(Qt::TextElideMode aMode);
    // The text as it fits the label now; the tooltip follows it.
    QString ShownText();

protected:
    void paintEvent(QPaintEvent* aEvent) override;
    // Where the text is drawn inside the label.
    QRect TextArea() const;

private:
    Qt::TextElideMode mMode;
};
