#pragma once
// Progress on the desktop's launcher entry for the program, through the
// com.canonical.Unity.LauncherEntry "Update" signal on the session bus, which
// the common Linux docks and task managers understand. The launcher has no
// tooltip: the tooltip is kept as a property only.
//
// GUI thread only. Create it only when a desktop session bus exists.

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>

enum class TTaskBarProgressState { None, Indeterminate, Normal, Error, Paused };

class TTaskbarProgress : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kAppUri = "application://downloader.desktop";
    static constexpr const char* kInterface = "com.canonical.Unity.LauncherEntry";

    explicit TTaskbarProgress(QObject* aParent = nullptr, QString aAppUri = kAppUri);

    TTaskBarProgressState ProgressState() const { return mState; }
    void SetProgressState(TTaskBarProgressState aState);
    std::uint64_t ProgressMaxValue() const { return mMaxValue; }
    void SetProgressMaxValue(std::uint64_t aValue);
    std::uint64_t ProgressValue() const { return mValue; }
    void SetProgressValue(std::uint64_t aValue);
    QString ToolTip() const { return mToolTip; }
    void SetToolTip(const QString& aText) { mToolTip = aText; }

    // Value over maximum, kept within 0..1; 0 while the maximum is 0.
    double Fraction() const;
    // The properties the launcher is told about in the current state.
    QVariantMap LauncherProperties() const;
    // The signal that announces the current state.
    QDBusMessage UpdateMessage() const;
    QString ObjectPath() const;

private:
    void Publish();

    QString mAppUri;
    TTaskBarProgressState mState = TTaskBarProgressState::None;
    std::uint64_t mMaxValue = 100;
    std::uint64_t mValue = 0;
    QString mToolTip;
    QVariantMap mLastSent;
};
