// The pages and their controls, placed as at 96 dpi; Qt scales them on
// high-density screens.

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>

#include "app/artwork.h"
#include "app/elided_label.h"
#include "app/hyperlink_label.h"
#include "app/main_window.h"
#include "app/string_table.h"

namespace {

constexpr int kPageWidth = 450;
constexpr int kPageHeight = 160;
constexpr int kBarHeight = 38;
constexpr int kGroupLeft = kPageWidth - 223;  // the button group sits at the bar's right end
constexpr int kTextWidth = kPageWidth - 80 - 6;
constexpr int kLineHeight = 15;

QFont WindowFont()
{
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        return QFont(QStringLiteral("Tahoma"), 8);
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

TElidedLabel* AddLabel(QWidget* aParent, const char* aName, const QString& aText, QRect aGeometry,
                       bool aBold = false)
{
    auto* label = new TElidedLabel(aText, aParent);
    label->setObjectName(QLatin1String(aName));
    // Texts come from the info file: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(aGeometry);
    if (aBold) {
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
    }
    return label;
}

QLabel* AddLine(QWidget* aParent, const char* aName, const QString& aText, int aY, bool aBold = false)
{
    return AddLabel(aParent, aName, aText, QRect(80, aY, kTextWidth, kLineHeight), aBold);
}

TArtwork* AddPicture(QWidget* aParent, const char* aName, TArtKind aKind)
{
    auto* picture = new TArtwork(aKind, aParent);
    picture->setObjectName(QLatin1String(aName));
    picture->move(29, 16);
    return picture;
}

// The strip along the bottom of a page that holds its buttons.
class TButtonBar : public QWidget {
public:
    explicit TButtonBar(QWidget* aPage) : QWidget(aPage)
    {
        setGeometry(0, kPageHeight - kBarHeight, kPageWidth, kBarHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(QColor(0xdf, 0xdf, 0xdf));
        painter.drawLine(6, 0, width() - 7, 0);
    }
};

// Most styles draw the default button's frame like a focus frame and show the
// focus only once a key has moved it, so that two buttons look focused or
// none. The focused button gets a dotted frame inside that nothing else has.
class TVisibleFocusStyle : public QProxyStyle {
public:
    void drawControl(ControlElement aElement, const QStyleOption* aOption, QPainter* aPainter,
                     const QWidget* aWidget) const override
    {
        QProxyStyle::drawControl(aElement, aOption, aPainter, aWidget);
        if (aElement != CE_PushButton || !(aOption->state & State_HasFocus))
            return;
        aPainter->save();
        QPen pen(aOption->palette.color(QPalette::ButtonText), 1, Qt::DotLine);
        aPainter->setPen(pen);
        aPainter->setBrush(Qt::NoBrush);
        aPainter->drawRect(aOption->rect.adjusted(3, 3, -4, -4));
        aPainter->restore();
    }
};

QPushButton* AddButton(QWidget* aBar, const char* aName, const QString& aText, int aX, int aY,
                       int aWidth = 75)
{
    auto* button = new QPushButton(aText, aBar);
    button->setObjectName(QLatin1String(aName));
    button->setGeometry(kGroupLeft + aX, aY, aWidth, 25);
    button->setAutoDefault(false);
    return button;
}

QPushButton* AddLeftButton(QWidget* aBar, const char* aName, const QString& aText)
{
    return AddButton(aBar, aName, aText, 63, 6);
}

QPushButton* AddRightButton(QWidget* aBar, const char* aName, const QString& aText)
{
    return AddButton(aBar, aName, aText, 142, 6);
}

QWidget* AddPage(QStackedWidget* aControl, const char* aName)
{
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(aName));
    page->setFixedSize(kPageWidth, kPageHeight);
    aControl->addWidget(page);
    return page;
}

QLabel* AddPercentLabel(QWidget* aPage, const char* aName, int aY)
{
    auto* label =
        AddLabel(aPage, aName, QLatin1String(strings::kSharePlaceholder), QRect(89, aY, 48, kLineHeight));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLabel* AddTimeLeftLabel(QWidget* aPage, const char* aName, int aY)
{
    // Right edge as laid out (315 + 122); wider to the left for long separators and fonts.
    auto* label =
        AddLabel(aPage, aName, QLatin1String(strings::kTimeLeftPlaceholder), QRect(437 - 220, aY, 220, 13));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont small = label->font();
    small.setPointSizeF(7.0);
    label->setFont(small);
    return label;
}

QProgressBar* AddProgressBar(QWidget* aPage, const char* aName, int aY)
{
    auto* bar = new QProgressBar(aPage);
    bar->setObjectName(QLatin1String(aName));
    bar->setGeometry(140, aY, 297, 15);
    bar->setTextVisible(false);
    bar->setRange(0, 13);
    bar->setValue(0);
    return bar;
}

}  // namespace

void TfrmMain::BuildLayout()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QLatin1String(strings::kDownloader));
    // CustomizeWindowHint: exactly these buttons, so that no window manager
    // adds a maximise button, which could do nothing for a fixed size.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFont(WindowFont());
    // The page is white whatever the desktop's theme; its controls get the
    // light palette that goes with it, every role set so that none of a dark
    // theme's colours shows through.
    QPalette palette(QColor(0xf0, 0xf0, 0xf0));
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0x00, 0x78, 0xd7));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xdc));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::PlaceholderText, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    setPalette(palette);
    setAutoFillBackground(true);

    PC = new QStackedWidget(this);
    PC->setObjectName(QStringLiteral("PC"));
    PC->setGeometry((kClientWidth - kPageWidth) / 2, (kClientHeight - kPageHeight) / 2, kPageWidth,
                    kPageHeight);

    // Page 0: connecting.
    QWidget* page = AddPage(PC, "tbConectando");
    AniConectando = AddPicture(page, "AniConectando", TArtKind::Connecting);
    AddLine(page, "Label8", QLatin1String(strings::kConnectingHeading), 16, true);
    AddLine(page, "Label9", QLatin1String(strings::kConnectingWait), 34);
    lblAutoUpdate = AddLine(page, "lblAutoUpdate", QString(), 50);
    QWidget* bar = new TButtonBar(page);
    btCancelExit3 = AddRightButton(bar, "btCancelExit3", QLatin1String(strings::kCancelButton));
    mCancelButtons[tbConectando] = btCancelExit3;

    // Page 1: not connected.
    page = AddPage(PC, "tbNoConectado");
    AddPicture(page, "Image3", TArtKind::NotConnected);
    AddLine(page, "Label10", QLatin1String(strings::kNotConnectedHeading), 16, true);
    AddLine(page, "Label11", QLatin1String(strings::kNotConnectedCauses), 34);
    AddLine(page, "Label12", QLatin1String(strings::kCauseNoInternet), 50);
    AddLine(page, "Label13", QLatin1String(strings::kCauseServerProblems), 66);
    AddLine(page, "Label14", QLatin1String(strings::kCauseTransitory), 82);
    bar = new TButtonBar(page);
    btRetry = AddLeftButton(bar, "btRetry", QLatin1String(strings::kRetryButton));
    btCancelExit2 = AddRightButton(bar, "btCancelExit2", QLatin1String(strings::kCancelButton));
    mDefaultButtons[tbNoConectado] = btRetry;
    mCancelButtons[tbNoConectado] = btCancelExit2;

    // Page 2: destination.
    page = AddPage(PC, "tbDestino");
    AddPicture(page, "Image4", TArtKind::Connected);
    AddLine(page, "Label7", QLatin1String(strings::kReadyHeading), 16, true);
    lblLineInfo1 = AddLine(page, "lblLineInfo1", QLatin1String(strings::kLineInfoPlaceholder), 34);
    lblInfoLink = new THyperlinkLabel(page);
    lblInfoLink->setObjectName(QStringLiteral("lblInfoLink"));
    lblInfoLink->setText(QLatin1String(strings::kInfoLinkPlaceholder));
    lblInfoLink->setGeometry(78, 47, 347, kLineHeight);
    lblInfoLink->setIndent(2);
    lblLink = AddLabel(page, "lblLink", QString(), QRect(75, 50, 10, kLineHeight));
    lblLink->hide();
    lblInfoSize = AddLine(page, "lblInfoSize", QLatin1String(strings::kInfoSizePlaceholder), 66);
    QLabel* destination =
        AddLabel(page, "Label1", QLatin1String(strings::kDestinationLabel), QRect(13, 97, 64, kLineHeight));
    // Laid out for a narrow font; a wider desktop font moves the edit, never the label's text.
    const int editLeft =
        std::max(78, 13 + destination->fontMetrics().horizontalAdvance(destination->text()) + 4);
    destination->setFixedWidth(editLeft - 13);
    txtFolder = new QLineEdit(page);
    txtFolder->setObjectName(QStringLiteral("txtFolder"));
    txtFolder->setGeometry(editLeft, 94, 401 - editLeft, 21);
    destination->setBuddy(txtFolder);  // names the field for screen readers
    btBrowse = new QPushButton(QLatin1String(strings::kBrowseButton), page);
    btBrowse->setObjectName(QStringLiteral("btBrowse"));
    btBrowse->setAccessibleName(QLatin1String(strings::kBrowseForFolderName));
    btBrowse->setGeometry(402, 93, 23, 23);
    btBrowse->setAutoDefault(false);
    bar = new TButtonBar(page);
    btDownload = AddLeftButton(bar, "btDownload", QLatin1String(strings::kStartButton));
    btDownload->setEnabled(false);
    btExit = AddRightButton(bar, "btExit", QLatin1String(strings::kCancelButton));
    mDefaultButtons[tbDestino] = btDownload;
    mCancelButtons[tbDestino] = btExit;
    setTabOrder(lblInfoLink, txtFolder);
    setTabOrder(txtFolder, btBrowse);
    setTabOrder(btBrowse, btDownload);
    setTabOrder(btDownload, btExit);

    // Page 3: download.
    page = AddPage(PC, "tbDownload");
    AniDownloading = AddPicture(page, "AniDownloading", TArtKind::Downloading);
    AddLine(page, "Label2", QLatin1String(strings::kDownloadingHeading), 16, true);
    TElidedLabel* fileName =
        AddLabel(page, "lblFile", QLatin1String(strings::kFilePlaceholder), QRect(80, 34, 357, kLineHeight));
    fileName->SetElideMode(Qt::ElideMiddle);  // file names differ at their ends
    lblFile = fileName;
    QLabel* currentFile =
        AddLabel(page, "Label15", QLatin1String(strings::kCurrentFileLabel), QRect(5, 60, 84, kLineHeight));
    edNumber = AddPercentLabel(page, "edNumber", 60);
    pbFile = AddProgressBar(page, "pbFile", 59);
    pbFile->setAccessibleName(QLatin1String(strings::kCurrentFileName));
    edNumberLeft = AddTimeLeftLabel(page, "edNumberLeft", 78);
    QLabel* totalDownload =
        AddLabel(page, "Label16", QLatin1String(strings::kTotalDownloadLabel), QRect(5, 93, 84, kLineHeight));
    edTotal = AddPercentLabel(page, "edTotal", 93);
    pbAll = AddProgressBar(page, "pbAll", 92);
    pbAll->setAccessibleName(QLatin1String(strings::kTotalDownloadName));
    edTotalLeft = AddTimeLeftLabel(page, "edTotalLeft", 110);
    {
        // Laid out for a narrow font: with a wider one the captions and
        // percentages keep their room and the bars give way.
        const QFontMetrics metrics = currentFile->fontMetrics();
        const int captionWidth = std::max(metrics.horizontalAdvance(currentFile->text()),
                                          metrics.horizontalAdvance(totalDownload->text()))
                                 + 4;
        const int percentWidth =
            std::max(48, metrics.horizontalAdvance(QLatin1String(strings::kWidestShare)) + 2);
        const int percentLeft = std::max(89, 5 + captionWidth);
        const int barLeft = std::max(140, percentLeft + percentWidth + 3);
        for (QLabel* caption : {currentFile, totalDownload})
            caption->setFixedWidth(percentLeft - 5);
        for (QLabel* percent : {edNumber, edTotal})
            percent->setGeometry(percentLeft, percent->y(), percentWidth, percent->height());
        for (QProgressBar* bar : {pbFile, pbAll})
            bar->setGeometry(barLeft, bar->y(), 437 - barLeft, bar->height());
    }
    bar = new TButtonBar(page);
    btCancel = AddButton(bar, "btCancel", QLatin1String(strings::kCancelButton), 136, 5);
    mCancelButtons[tbDownload] = btCancel;

    // Page 4: interrupted.
    page = AddPage(PC, "tbInterrupted");
    AddPicture(page, "Image2", TArtKind::NotConnected);
    AddLine(page, "Label4", QLatin1String(strings::kInterruptedHeading), 16, true);
    lblConnectionProblem =
        AddLine(page, "lblConnectionProblem", QLatin1String(strings::kConnectionProblem), 34);
    AddLine(page, "Label6", QLatin1String(strings::kPressRetry), 50);
    AddLine(page, "Label17", QLatin1String(strings::kFilesPreserved), 66);
    bar = new TButtonBar(page);
    btRetryDown = AddLeftButton(bar, "btRetryDown", QLatin1String(strings::kRetryButton));
    btCancelExit = AddRightButton(bar, "btCancelExit", QLatin1String(strings::kCancelButton));
    mDefaultButtons[tbInterrupted] = btRetryDown;
    mCancelButtons[tbInterrupted] = btCancelExit;

    // Page 5: install.
    page = AddPage(PC, "tbInstalar");
    AddPicture(page, "Image1", TArtKind::Completed);
    AddLine(page, "Label3", QLatin1String(strings::kCompletedHeading), 16, true);
    lblEnd1 = AddLine(page, "lblEnd1", QLatin1String(strings::kEnd1Placeholder), 34);
    lblEnd2 = AddLine(page, "lblEnd2", QLatin1String(strings::kEnd2Placeholder), 50);
    bar = new TButtonBar(page);
    btInstall = AddButton(bar, "btInstall", QLatin1String(strings::kInstallButton), 57, 6, 80);
    btExit2 = AddRightButton(bar, "btExit2", QLatin1String(strings::kCloseButton));
    mDefaultButtons[tbInstalar] = btInstall;
    mCancelButtons[tbInstalar] = btExit2;

    for (QPushButton* button : mDefaultButtons)
        if (button)
            button->setDefault(true);  // drawn as the page's default button

    PC->setCurrentIndex(tbDestino);

    // Made after the pages, so that it outlives their buttons.
    auto* focusStyle = new TVisibleFocusStyle;
    focusStyle->setParent(this);
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setStyle(focusStyle);

    // The same picture as the destination page serves as the window's icon.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.scale(size / 32.0, size / 32.0);
        PaintArt(painter, TArtKind::Connected, 0);
        painter.end();
        icon.addPixmap(pixmap);
    }
    setWindowIcon(icon);
}
