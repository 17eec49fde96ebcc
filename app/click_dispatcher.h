#pragma once

#include "program_end.h"

#include <QString>
#include <functional>

class QAbstractButton;
class QAction;

namespace lumora {

// The one place where clicks run. Every button, menu item and shortcut of every page runs its
// handler through dispatch(). An error raised inside a handler ends the click at the failing
// step, never crosses the event loop, is shown as "Run-time error 'N':" with its description,
// and after the message is dismissed the program ends.
class ClickDispatcher {
public:
    using Handler = std::function<void()>;
    // Runs before every handler with the name of the control ("Form2.Command3"); may raise to
    // make that click fail. For tests.
    using ClickHook = std::function<void(const QString &control)>;

    // Exit code of a program ended by a run-time error.
    static constexpr int kErrorExitCode = 1;

    explicit ClickDispatcher(EndProgram endProgram);

    void dispatch(const QString &control, const Handler &handler);
    void bind(QAbstractButton *button, const QString &control, Handler handler);
    void bind(QAction *action, const QString &control, Handler handler);

    void setClickHook(ClickHook hook) { m_hook = std::move(hook); }
    // After a run-time error no further click runs.
    bool stopped() const { return m_stopped; }

private:
    void fail(const QString &control, int number, const QString &description);

    EndProgram m_endProgram;
    ClickHook m_hook;
    bool m_stopped = false;
};

// The message of the run-time error report.
QString runtimeErrorText(int number, const QString &description);

} // namespace lumora
