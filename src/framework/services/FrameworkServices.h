#pragma once

#include <QIcon>
#include <QObject>
#include <QStyle>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

#include "RpcClient.h"
#include "RpcReply.h"
#include "framework_export.h"

class QMainWindow;
class QWidget;
class TClientDataSet;
class TDataSource;

// ---- stopping an operation -------------------------------------------------

// Shows text in a modal error box, then throws EAbort: nothing after it runs.
// showBox false skips the box (the stop alone).
[[noreturn]] FRAMEWORK_EXPORT void MensErro(const QString &text, bool showBox = true);

// The usable value of a server reply: a packet as QByteArray, a number as
// double, a text as QString, null as an invalid QVariant.
// A failure reply ends the operation: raise true throws EDatabaseError with
// the server's message (the guard shows it); raise false shows it at once
// and throws EAbort. helpContext is kept for the callers' sake and unused.
FRAMEWORK_EXPORT QVariant CheckResultServ(const RpcReply &reply, bool raise = true, int helpContext = 0);

// ---- texts -----------------------------------------------------------------

// Input mask for dates dd/mm/yyyy; untyped positions read back as blanks.
FRAMEWORK_EXPORT QString DateMask();
// True for a text of blanks only (empty included).
FRAMEWORK_EXPORT bool EmptyString(const QString &text);
// Typed code to field width: blanks trimmed at both ends, cut to width; case
// kept (codes match exactly). Never pads.
FRAMEWORK_EXPORT QString Ajusta(const QString &text, int width);

// ---- widgets ---------------------------------------------------------------

// The style's standard icon, read once per style: the style reads its icon
// files (several sizes of each) every time it is asked, which was a good
// part of building a screen's toolbar.
FRAMEWORK_EXPORT QIcon standardIcon(const QWidget *widget, QStyle::StandardPixmap which);
// Makes the application's style keep the standard icons it made, for every
// widget that asks (Qt's own child-window frames and menu bars ask at each
// construction). Drawing stays the style's own. Once per application; the
// host's main window does it.
FRAMEWORK_EXPORT void installStandardIconCache();
// The style that draws for style: the base of that cache, else style itself.
FRAMEWORK_EXPORT const QStyle *drawingStyle(const QStyle *style);

// Repaints every grid inside screen.
FRAMEWORK_EXPORT void RefreshGrid(QWidget *screen);
// Enables or disables every widget inside container (not the container itself).
FRAMEWORK_EXPORT void SetChildEnabled(QWidget *container, bool enabled);

// Modal search list over the data source's rows: a filter box, Enter or
// double click chooses, Esc closes without a choice. True when a row was
// chosen; the data set then stands on it.
// multiSelect must be false (one row is chosen); showFilter shows the filter box.
FRAMEWORK_EXPORT bool Pesquisar(TDataSource *dataSource, const QString &title, bool multiSelect = false,
                                bool showFilter = true);
// Find dialog: choose a field, type a value, go to the first row whose text
// starts with it (case-insensitive). True when a row was found.
FRAMEWORK_EXPORT bool Procura(TClientDataSet *dataSet);

// Busy indicator over mainWindow (null = the host's main window) for the
// blocking server call that follows: it appears, painted at once with the
// wait cursor, when the call's answer is still out after 200 ms, so that a
// quick call shows nothing. Calls nest: it hides when every Active has its
// Deactive.
FRAMEWORK_EXPORT void ActiveShowAvi(QWidget *mainWindow = nullptr, int kind = 1);
FRAMEWORK_EXPORT void DeactiveShowAvi();
FRAMEWORK_EXPORT bool busyIndicatorVisible();
FRAMEWORK_EXPORT int busyIndicatorDepth();
// Times the indicator has been put up, shown or not (nested calls count once).
FRAMEWORK_EXPORT int busyIndicatorShowCount();
// Times the indicator has been painted (tests check it was painted during a slow call).
FRAMEWORK_EXPORT int busyIndicatorPaintCount();
// Shows the indicator for its lifetime.
class FRAMEWORK_EXPORT BusyIndicatorScope
{
public:
    explicit BusyIndicatorScope(QWidget *mainWindow = nullptr, int kind = 1) { ActiveShowAvi(mainWindow, kind); }
    ~BusyIndicatorScope() { DeactiveShowAvi(); }
    BusyIndicatorScope(const BusyIndicatorScope &) = delete;
    BusyIndicatorScope &operator=(const BusyIndicatorScope &) = delete;
};

// ---- session (set by the host at login) ------------------------------------

struct SessionInfo
{
    QString operatorCode;
    QString password;
    QString host; // application server
    int port = 0;
    RpcSecurity security; // how the server is trusted (TLS); plain TCP when empty
    QString deviceToken; // presented at each login of the session's connections
};
FRAMEWORK_EXPORT void setSession(const SessionInfo &session);
FRAMEWORK_EXPORT SessionInfo session();

FRAMEWORK_EXPORT QString Operador(); // code of the logged-in operator
FRAMEWORK_EXPORT QString WebURL(); // host of the application server
FRAMEWORK_EXPORT int WebPort(); // port of the application server

// The host's main window and how a screen is shown in it (as an MDI child).
FRAMEWORK_EXPORT void setMainWindow(QMainWindow *window);
FRAMEWORK_EXPORT QMainWindow *MainWindow();
using ChildWindowPresenter = std::function<void(QWidget *child)>;
FRAMEWORK_EXPORT void setChildWindowPresenter(ChildWindowPresenter presenter);
// Shows a screen as a child window of the host (default: a top-level show()).
FRAMEWORK_EXPORT void ShowChildWindow(QWidget *child);

// Connection options of the lookup database, as the host was given them
// (e.g. "QSQLITE:/path/file.db"); read by the lookup connection.
FRAMEWORK_EXPORT void setLookupDatabaseOptions(const QString &options);
FRAMEWORK_EXPORT QString LookupDatabaseOptions();
// Where a person sets those options (the host's settings files), added to
// the message a lookup gives when none were set.
FRAMEWORK_EXPORT void setLookupDatabaseHint(const QString &hint);
FRAMEWORK_EXPORT QString LookupDatabaseHint();

// ---- local cache -----------------------------------------------------------

// Told after a save which server tables changed; every open screen learns it
// (TfrmPadraoGrid::LocalCacheChanged).
FRAMEWORK_EXPORT void AtualizaLocalCache(const QStringList &tables);

class FRAMEWORK_EXPORT LocalCache : public QObject
{
    Q_OBJECT
public:
    static LocalCache *instance();
    // Tables named since start, newest last.
    QStringList changedTables() const { return m_changed; }
    void notify(const QStringList &tables);

signals:
    void tablesChanged(const QStringList &tables);

private:
    using QObject::QObject;
    QStringList m_changed;
};
