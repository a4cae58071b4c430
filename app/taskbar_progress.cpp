#include "app/taskbar_progress.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <algorithm>

TTaskbarProgress::TTaskbarProgress(QObject* aParent, QString aAppUri)
    : QObject(aParent), mAppUri(std::move(aAppUri))
{
}

void TTaskbarProgress::SetProgressState(TTaskBarProgressState aState)
{
    mState = aState;
    Publish();
}

void TTaskbarProgress::SetProgressMaxValue(std::uint64_t aValue)
{
    mMaxValue = aValue;
    Publish();
}

void TTaskbarProgress::SetProgressValue(std::uint64_t aValue)
{
    mValue = aValue;
    Publish();
}

double TTaskbarProgress::Fraction() const
{
    if (mMaxValue == 0)
        return 0.0;
    // Both figures are 64-bit: the quotient is taken in floating point so that
    // values beyond 4 GiB neither overflow nor truncate.
    return std::clamp(static_cast<double>(mValue) / static_cast<double>(mMaxValue), 0.0, 1.0);
}

QVariantMap TTaskbarProgress::LauncherProperties() const
{
    const bool shown = mState != TTaskBarProgressState::None;
    return {
        {QStringLiteral("progress"), Fraction()},
        {QStringLiteral("progress-visible"), shown},
        {QStringLiteral("urgent"), mState == TTaskBarProgressState::Error},
    };
}

QString TTaskbarProgress::ObjectPath() const
{
    // Any path serves; one per program keeps programs apart on the bus.
    const QByteArray digest = QCryptographicHash::hash(mAppUri.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("/com/canonical/unity/launcherentry/") + QString::fromLatin1(digest.left(16));
}

QDBusMessage TTaskbarProgress::UpdateMessage() const
{
    QDBusMessage message =
        QDBusMessage::createSignal(ObjectPath(), QLatin1String(kInterface), QStringLiteral("Update"));
    message << mAppUri << LauncherProperties();
    return message;
}

void TTaskbarProgress::Publish()
{
    // The window refreshes often; the bus hears only real changes.
    const QVariantMap properties = LauncherProperties();
    if (properties == mLastSent)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    if (bus.send(UpdateMessage()))
        mLastSent = properties;
}
