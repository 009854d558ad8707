#pragma once

#include <QHash>
#include <QLoggingCategory>

// The server's own lines: one per start, stop and failure. Shown by default;
// "pru.server.info=false" keeps only the failures.
Q_DECLARE_LOGGING_CATEGORY(lcServer)

namespace ServerLog {
// For the program: every message, of any category, goes to standard error as
// one line "pru_server: <message>" (other categories name themselves after
// the prefix), written at once, whatever standard error is connected to.
void installProgramHandler();
} // namespace ServerLog

// Lines a client can cause (refused logins and connections, evictions) come
// as fast as the network sends them. Past a burst per category the rest of a
// window is counted instead of written, so a flood can neither fill the
// journal nor stall the server on a slow standard error; the count is written
// with the category's next line. The server's own category is never held back.
class LogThrottle
{
public:
    static constexpr int linesPerWindow = 100;
    static constexpr qint64 windowMs = 10'000;

    // Whether the line is written; *omitted is set to the lines left out of the
    // category's window that just ended (0 when none), to be written before it.
    bool admit(const QString &category, qint64 nowMs, qint64 *omitted);

private:
    struct Window
    {
        qint64 startMs = 0;
        int written = 0;
        qint64 omitted = 0;
    };
    QHash<QString, Window> m_windows;
};
