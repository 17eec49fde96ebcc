#include "click_dispatcher.h"

#include "player/common/player_failure.h"
#include "ui/picture_failure.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <exception>
#include <new>

Q_LOGGING_CATEGORY(lcClick, "lumora.click", QtInfoMsg)

namespace lumora {

namespace {

// The numbers the run-time error report gives failures. Each layer raises failures of its
// own, without numbers; they are numbered here, the one place that reports them.
constexpr int kOutOfMemory = 7;
constexpr int kInternalError = 51;
constexpr int kInvalidPicture = 481;
constexpr int kCannotCreateObject = 429;  // the player cannot be made
constexpr int kInvalidProperty = 380;     // the player's stored settings are damaged

int numberOf(PlayerFailure::Kind kind)
{
    switch (kind) {
    case PlayerFailure::Kind::CannotCreate: return kCannotCreateObject;
    case PlayerFailure::Kind::InvalidSettings: return kInvalidProperty;
    }
    return kInternalError;
}

} // namespace

EndProgram quitEventLoop()
{
    return [](int exitCode) { QCoreApplication::exit(exitCode); };
}

QString runtimeErrorText(int number, const QString &description)
{
    return QStringLiteral("Run-time error '%1':\n\n%2").arg(number).arg(description);
}

ClickDispatcher::ClickDispatcher(EndProgram endProgram) : m_endProgram(std::move(endProgram)) {}

void ClickDispatcher::dispatch(const QString &control, const Handler &handler)
{
    if (m_stopped)
        return;
    qCDebug(lcClick) << control;
    try {
        if (m_hook)
            m_hook(control);
        handler();
    } catch (const PlayerFailure &e) {
        fail(control, numberOf(e.kind()), e.description());
    } catch (const PictureFailure &e) {
        fail(control, kInvalidPicture, QStringLiteral("Invalid picture: %1").arg(e.path()));
    } catch (const std::bad_alloc &) {
        fail(control, kOutOfMemory, QStringLiteral("Out of memory"));
    } catch (const std::exception &e) {
        fail(control, kInternalError,
             QStringLiteral("Internal error: %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        fail(control, kInternalError, QStringLiteral("Internal error"));
    }
}

void ClickDispatcher::fail(const QString &control, int number, const QString &description)
{
    m_stopped = true;
    qCWarning(lcClick) << control << "failed:" << number << description;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumora"),
                    runtimeErrorText(number, description), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("runtimeError"));
    box.exec();
    m_endProgram(kErrorExitCode);
}

void ClickDispatcher::bind(QAbstractButton *button, const QString &control, Handler handler)
{
    QObject::connect(button, &QAbstractButton::clicked, button,
                     [this, control, handler = std::move(handler)] { dispatch(control, handler); });
}

void ClickDispatcher::bind(QAction *action, const QString &control, Handler handler)
{
    QObject::connect(action, &QAction::triggered, action,
                     [this, control, handler = std::move(handler)] { dispatch(control, handler); });
}

} // namespace lumora
