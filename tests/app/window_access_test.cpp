// What a screen reader, the keyboard, long texts and the desktop's theme get
// of the window.

#include "tests/app/wizard_flow_fixture.h"

#include <QAccessible>
#include <QProgressBar>
#include <set>

#include "app/elided_label.h"
#include "app/hyperlink_label.h"

namespace {

constexpr const char* kLink = "https://example.org/suite";

struct ControlCase {
    const char* object;
    QAccessible::Role role;
    const char* name;
};

void PrintTo(const ControlCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.object;
}

const ControlCase kControlCases[] = {
    {"btCancelExit3", QAccessible::PushButton, "Cancel"},
    {"btRetry", QAccessible::PushButton, "Retry"},
    {"btCancelExit2", QAccessible::PushButton, "Cancel"},
    {"lblInfoLink", QAccessible::Link, "Version Information"},
    {"txtFolder", QAccessible::EditableText, "Destination:"},
    {"btBrowse", QAccessible::PushButton, "Browse for folder"},
    {"btDownload", QAccessible::PushButton, "Start"},
    {"btExit", QAccessible::PushButton, "Cancel"},
    {"pbFile", QAccessible::ProgressBar, "Current file"},
    {"pbAll", QAccessible::ProgressBar, "Total download"},
    {"btCancel", QAccessible::PushButton, "Cancel"},
    {"btRetryDown", QAccessible::PushButton, "Retry"},
    {"btCancelExit", QAccessible::PushButton, "Cancel"},
    {"btInstall", QAccessible::PushButton, "Install"},
    {"btExit2", QAccessible::PushButton, "Close"},
};

class WindowAccess : public WizardFlow {
protected:
    void Make()
    {
        mWindow = std::make_unique<TfrmMain>(mEnvironment);
        ASSERT_TRUE(mWindow->Inicializa());
    }
    QAccessibleInterface* Access(const char* aName) const
    {
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(Find(aName));
        EXPECT_NE(access, nullptr) << aName;
        return access;
    }
    // Opens the destination page of a release whose product link is kLink.
    void OpenDestination()
    {
        Serve(Info({{"a.bin", {.body = "abc"}}}));
        Open();
        ASSERT_EQ(Page(), TfrmMain::tbDestino);
        mWindow->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(mWindow.get()));
    }
};

class WindowControlAccess : public WindowAccess, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(WindowControlAccess, HasItsRoleAndName)
{
    Make();
    QAccessibleInterface* access = Access(GetParam().object);
    ASSERT_NE(access, nullptr);
    EXPECT_EQ(access->role(), GetParam().role);
    EXPECT_EQ(access->text(QAccessible::Name).toStdString(), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Controls, WindowControlAccess, ::testing::ValuesIn(kControlCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.object); });

// Every control a user can work on, on every page, found by walking the tree
// as a screen reader does: none is nameless, and the table above knows it.
TEST_F(WindowAccess, EveryInteractiveControlOfEveryPageIsNamed)
{
    Make();
    const std::set<QAccessible::Role> interactive = {
        QAccessible::PushButton, QAccessible::EditableText, QAccessible::ProgressBar, QAccessible::Link,
        QAccessible::CheckBox,   QAccessible::RadioButton,  QAccessible::ComboBox,    QAccessible::SpinBox};
    std::set<std::string> known;
    for (const ControlCase& control : kControlCases)
        known.insert(control.object);
    auto* pages = Find<QStackedWidget>("PC");
    std::set<std::string> seen;
    for (int page = 0; page < pages->count(); ++page) {
        std::vector<QAccessibleInterface*> pending = {
            QAccessible::queryAccessibleInterface(pages->widget(page))};
        for (std::size_t visited = 0; !pending.empty() && visited < 1000; ++visited) {
            QAccessibleInterface* access = pending.back();
            pending.pop_back();
            ASSERT_NE(access, nullptr) << "page " << page;
            for (int child = 0; child < access->childCount(); ++child)
                pending.push_back(access->child(child));
            const std::string object = access->object()->objectName().toStdString();
            auto* widget = qobject_cast<QWidget*>(access->object());
            const bool focusable = widget && widget->focusPolicy() != Qt::NoFocus;
            if (!interactive.count(access->role()) && !focusable)
                continue;
            seen.insert(object);
            EXPECT_FALSE(access->text(QAccessible::Name).trimmed().isEmpty())
                << "page " << page << " " << object;
            EXPECT_TRUE(known.count(object))
                << "page " << page << " " << object << " role " << access->role();
        }
    }
    EXPECT_EQ(seen, known);
}

TEST_F(WindowAccess, StartIsMarkedAsThePageDefault)
{
    Make();
    EXPECT_TRUE(Access("btDownload")->state().defaultButton);
    EXPECT_FALSE(Access("btExit")->state().defaultButton);
    EXPECT_FALSE(Access("btBrowse")->state().defaultButton);
}

TEST_F(WindowAccess, TheLinksPressActionOpensTheProductPage)
{
    OpenDestination();
    QAccessibleActionInterface* actions = Access("lblInfoLink")->actionInterface();
    ASSERT_NE(actions, nullptr);
    EXPECT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    EXPECT_TRUE(Access("lblInfoLink")->state().focusable);
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(Opened(), std::vector<std::string>{kLink});
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
}

TEST_F(WindowAccess, EnterOnTheFocusedLinkOpensItInsteadOfStarting)
{
    OpenDestination();
    ASSERT_TRUE(Find("btDownload")->isEnabled());
    Find("lblInfoLink")->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(Find("lblInfoLink")->hasFocus());
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
        Key(key);
    EXPECT_EQ(Opened(), (std::vector<std::string>{kLink, kLink}));
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
    EXPECT_FALSE(mWindow->WorkerRunning());
    // Elsewhere Enter still presses Start.
    Find("txtFolder")->setFocus(Qt::TabFocusReason);
    Key(Qt::Key_Return);
    EXPECT_EQ(Page(), TfrmMain::tbDownload);
}

// The default frame must not pass for the focus: the focused Start looks
// unlike the unfocused one, and so does a focused Cancel beside it.
TEST_F(WindowAccess, TheFocusedButtonLooksFocused)
{
    OpenDestination();
    auto* start = Find<QPushButton>("btDownload");
    auto* cancel = Find<QPushButton>("btExit");
    start->setFocus();  // as the page does when it opens: not by a key
    ASSERT_TRUE(start->hasFocus());
    const QImage startFocused = start->grab().toImage();
    const QImage cancelPlain = cancel->grab().toImage();
    cancel->setFocus();
    ASSERT_TRUE(cancel->hasFocus());
    EXPECT_NE(start->grab().toImage(), startFocused);
    EXPECT_NE(cancel->grab().toImage(), cancelPlain);
}

struct ElisionCase {
    const char* name;
    const char* object;
    std::string text;
    bool elided;
};

void PrintTo(const ElisionCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const std::string kLongLink =
    "Release notes, known issues and the full list of changes " + std::string(60, 'x') + " and the end";
const std::string kLongFile = "product-suite-" + std::string(80, 'q') + "-disk-07.cab";

class WindowElision : public WindowAccess, public ::testing::WithParamInterface<ElisionCase> {};

TEST_P(WindowElision, ShortensWithAnEllipsisAndTellsTheWholeText)
{
    const ElisionCase& elision = GetParam();
    Make();
    mWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(mWindow.get()));
    Find<QStackedWidget>("PC")->setCurrentWidget(Find(elision.object)->parentWidget());
    auto* label = Find<TElidedLabel>(elision.object);
    label->setToolTip(QStringLiteral("left from an earlier text"));
    label->setText(QString::fromStdString(elision.text));
    label->grab();  // paints it
    const QString shown = label->ShownText();
    const QString whole = QString::fromStdString(elision.text);
    if (!elision.elided) {
        EXPECT_EQ(shown, whole);
        EXPECT_TRUE(label->toolTip().isEmpty());
        return;
    }
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->width());
    EXPECT_EQ(label->toolTip(), whole);
    EXPECT_EQ(label->text(), whole);  // and the screen reader's name
    if (std::string(elision.object) == "lblFile") {
        // Both ends stay: they tell the files apart.
        EXPECT_TRUE(shown.startsWith(QStringLiteral("product-suite-"))) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(QStringLiteral("-disk-07.cab"))) << shown.toStdString();
    } else {
        EXPECT_TRUE(shown.startsWith(QStringLiteral("Release notes"))) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowElision,
                         ::testing::Values(ElisionCase{"long_link", "lblInfoLink", kLongLink, true},
                                           ElisionCase{"short_link", "lblInfoLink", "Version information",
                                                       false},
                                           ElisionCase{"long_file_name", "lblFile", kLongFile, true},
                                           ElisionCase{"short_file_name", "lblFile", "data1.cab", false},
                                           ElisionCase{"long_product_line", "lblLineInfo1", kLongLink, true}),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(WindowAccess, OffersNoMaximiseForItsFixedSize)
{
    Make();
    mWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(mWindow.get()));
    const Qt::WindowFlags flags = mWindow->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);  // exactly these, no style's own choice
    const QSize size(TfrmMain::kClientWidth, TfrmMain::kClientHeight);
    EXPECT_EQ(mWindow->size(), size);
    QWindow* handle = mWindow->windowHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->minimumSize(), size);
    EXPECT_EQ(handle->maximumSize(), size);
    EXPECT_EQ(mWindow->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(mWindow->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
}

// Restores the application's palette when the test ends.
class AppPaletteGuard {
public:
    explicit AppPaletteGuard(const QPalette& aPalette) : mSaved(QApplication::palette())
    {
        QApplication::setPalette(aPalette);
    }
    ~AppPaletteGuard() { QApplication::setPalette(mSaved); }

private:
    QPalette mSaved;
};

TEST_F(WindowAccess, ADarkThemeLeavesThePageAndItsControlsLight)
{
    QPalette dark(QColor(0x35, 0x35, 0x35));
    for (auto [role, colour] : {std::pair{QPalette::Window, QColor(0x20, 0x20, 0x20)},
                                {QPalette::WindowText, QColor(0xee, 0xee, 0xee)},
                                {QPalette::Base, QColor(0x2a, 0x2a, 0x2a)},
                                {QPalette::Text, QColor(0xee, 0xee, 0xee)},
                                {QPalette::Button, QColor(0x35, 0x35, 0x35)},
                                {QPalette::ButtonText, QColor(0xee, 0xee, 0xee)}})
        dark.setColor(role, colour);
    const AppPaletteGuard guard(dark);
    Make();
    EXPECT_EQ(mWindow->palette().color(QPalette::Window), QColor(Qt::white));
    const auto light = [](const QColor& aColour) { return aColour.lightness() >= 200; };
    const auto inky = [](const QColor& aColour) { return aColour.lightness() <= 60; };
    for (const char* object : {"txtFolder", "btDownload", "btBrowse", "pbFile", "Label1", "lblInfoSize"}) {
        const QPalette palette = Find(object)->palette();
        SCOPED_TRACE(object);
        EXPECT_TRUE(light(palette.color(QPalette::Window)))
            << palette.color(QPalette::Window).name().toStdString();
        EXPECT_TRUE(light(palette.color(QPalette::Base)))
            << palette.color(QPalette::Base).name().toStdString();
        EXPECT_TRUE(light(palette.color(QPalette::Button)))
            << palette.color(QPalette::Button).name().toStdString();
        EXPECT_TRUE(inky(palette.color(QPalette::WindowText)));
        EXPECT_TRUE(inky(palette.color(QPalette::Text)));
        EXPECT_TRUE(inky(palette.color(QPalette::ButtonText)));
    }
}

}  // namespace
