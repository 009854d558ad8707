#include "FrameworkServices.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCborValue>
#include <QGuiApplication>
#include <QHash>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>

#include "Exceptions.h"
#include "Guard.h"
#include "ModalDialogs.h"
#include "RpcClient.h"

using namespace Qt::StringLiterals;

TModalResult showMessageBox(DialogKind kind, const QString &text, TMsgDlgType type, TMsgDlgButtons buttons,
                            const QString &title, QWidget *parent);

// ---- stopping an operation -------------------------------------------------

void MensErro(const QString &text, bool showBox)
{
    if (showBox) {
        showMessageBox(DialogKind::Error, text, mtError, mbOK, u"Erro"_s, nullptr);
    }
    Abort();
}

QVariant CheckResultServ(const RpcReply &reply, bool raise, int helpContext)
{
    Q_UNUSED(helpContext)
    if (!reply.ok) {
        const QString message = reply.error.isEmpty() ? u"O servidor de aplicação recusou a chamada."_s : reply.error;
        if (raise) {
            throw EDatabaseError(message);
        }
        MensErro(message, true);
    }
    const QCborValue &v = reply.value;
    if (v.isByteArray()) {
        return v.toByteArray();
    }
    if (v.isInteger()) {
        return double(v.toInteger());
    }
    if (v.isDouble()) {
        return v.toDouble();
    }
    if (v.isString()) {
        return v.toString();
    }
    if (v.isBool()) {
        return v.toBool();
    }
    if (v.isNull() || v.isUndefined()) {
        return {};
    }
    return v.toVariant();
}

// ---- texts -----------------------------------------------------------------

QString DateMask()
{
    // Qt input mask: digits optional ("0"), so a partly typed date still
    // reaches the field; the text read back has blanks where nothing was typed.
    return u"00/00/0000;_"_s;
}

bool EmptyString(const QString &text)
{
    for (const QChar c : text) {
        if (!c.isSpace()) {
            return false;
        }
    }
    return true;
}

QString Ajusta(const QString &text, int width)
{
    // Codes are stored without surrounding blanks and compared exactly:
    // trim, keep the case, cut to the field's width, never pad.
    QString code = text.trimmed();
    if (width >= 0 && code.size() > width) {
        code.truncate(width);
    }
    return code;
}

// ---- widgets ---------------------------------------------------------------

QIcon standardIcon(const QWidget *widget, QStyle::StandardPixmap which)
{
    QStyle *style = widget ? widget->style() : QApplication::style();
    // By style: a style that goes away takes its icons along.
    static QHash<const QStyle *, QHash<int, QIcon>> icons;
    auto styleIcons = icons.find(style);
    if (styleIcons == icons.end()) {
        styleIcons = icons.insert(style, {});
        QObject::connect(style, &QObject::destroyed, qApp, [style] { icons.remove(style); });
    }
    auto icon = styleIcons->constFind(int(which));
    if (icon == styleIcons->constEnd()) {
        icon = styleIcons->insert(int(which), style->standardIcon(which));
    }
    return *icon;
}

namespace {
// The application's style with its standard icons kept. An icon asked for
// without a style option depends only on the layout direction and the icon
// theme, which are part of the key.
class StandardIconCache : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    QIcon standardIcon(StandardPixmap which, const QStyleOption *option, const QWidget *widget) const override
    {
        if (option) {
            return QProxyStyle::standardIcon(which, option, widget);
        }
        const Qt::LayoutDirection direction = widget ? widget->layoutDirection() : QGuiApplication::layoutDirection();
        if (const QString theme = QIcon::themeName(); theme != m_theme) {
            m_icons.clear(); // another theme draws other icons
            m_theme = theme;
        }
        const std::pair<int, int> key{int(which), int(direction)};
        auto icon = m_icons.constFind(key);
        if (icon == m_icons.constEnd()) {
            icon = m_icons.insert(key, QProxyStyle::standardIcon(which, option, widget));
        }
        return *icon;
    }

private:
    mutable QHash<std::pair<int, int>, QIcon> m_icons; // by icon and layout direction
    mutable QString m_theme;
};
} // namespace

void installStandardIconCache()
{
    if (!dynamic_cast<StandardIconCache *>(QApplication::style())) {
        // The proxy takes the style over; the application takes the proxy.
        QApplication::setStyle(new StandardIconCache(QApplication::style()->name()));
    }
}

const QStyle *drawingStyle(const QStyle *style)
{
    const auto *cache = dynamic_cast<const StandardIconCache *>(style);
    return cache && cache->baseStyle() ? cache->baseStyle() : style;
}

void RefreshGrid(QWidget *screen)
{
    if (!screen) {
        return;
    }
    const auto views = screen->findChildren<QAbstractItemView *>();
    for (QAbstractItemView *view : views) {
        view->viewport()->update();
    }
}

void SetChildEnabled(QWidget *container, bool enabled)
{
    if (!container) {
        return;
    }
    const auto children = container->findChildren<QWidget *>();
    for (QWidget *w : children) {
        w->setEnabled(enabled);
    }
}

// ---- busy indicator --------------------------------------------------------

namespace {
class BusyIndicator : public QLabel
{
public:
    explicit BusyIndicator(QWidget *parent)
        : QLabel(parent)
    {
        setObjectName(u"BusyIndicator"_s);
        setText(u"Aguarde, processando..."_s);
        setAlignment(Qt::AlignCenter);
        setFrameShape(QFrame::Box);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(255, 255, 225));
        p.setColor(QPalette::WindowText, Qt::black);
        setPalette(p);
        setMargin(12);
        if (!parent) {
            setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
        }
    }
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QLabel::paintEvent(event);
        ++paints;
    }
};

QPointer<BusyIndicator> g_busy;
int g_busyDepth = 0;
int g_busyShown = 0;
bool g_busyCursor = false;

// A call answered within this time shows nothing: the indicator would only
// flash (and cost a paint of the window) on every move between rows.
constexpr int busyIndicatorDelayMs = 200;

// Shows the indicator of the calls now running, painted at once: the call
// that is waiting blocks the event loop.
void showBusyIndicatorNow()
{
    if (g_busyDepth == 0 || !g_busy || g_busy->isVisible()) {
        return;
    }
    if (QWidget *host = g_busy->parentWidget()) {
        g_busy->move((host->width() - g_busy->width()) / 2, (host->height() - g_busy->height()) / 2);
    }
    g_busy->show();
    g_busy->raise();
    if (!g_busyCursor) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        g_busyCursor = true;
    }
    g_busy->repaint();
}
} // namespace

void ActiveShowAvi(QWidget *mainWindow, int kind)
{
    Q_UNUSED(kind)
    ++g_busyDepth;
    if (g_busyDepth > 1) {
        return;
    }
    ++g_busyShown;
    QWidget *host = mainWindow ? mainWindow->window() : static_cast<QWidget *>(MainWindow());
    if (!g_busy || g_busy->parentWidget() != host) {
        delete g_busy;
        g_busy = new BusyIndicator(host);
        g_busy->adjustSize();
    }
    // Shown by the wait for a server's answer, once it has lasted the delay.
    static const bool hooked = (RpcClient::setSlowWaitHook(busyIndicatorDelayMs, &showBusyIndicatorNow), true);
    Q_UNUSED(hooked)
}

void DeactiveShowAvi()
{
    if (g_busyDepth == 0) {
        return;
    }
    --g_busyDepth;
    if (g_busyDepth > 0) {
        return;
    }
    if (g_busy) {
        g_busy->hide();
    }
    if (g_busyCursor) {
        QGuiApplication::restoreOverrideCursor();
        g_busyCursor = false;
    }
}

bool busyIndicatorVisible()
{
    return g_busy && g_busy->isVisible();
}

int busyIndicatorDepth()
{
    return g_busyDepth;
}

int busyIndicatorShowCount()
{
    return g_busyShown;
}

int busyIndicatorPaintCount()
{
    return g_busy ? g_busy->paints : 0;
}

// ---- session ---------------------------------------------------------------

namespace {
SessionInfo g_session;
QPointer<QMainWindow> g_mainWindow;
ChildWindowPresenter g_presenter;
QString g_lookupOptions;
QString g_lookupHint;
} // namespace

void setSession(const SessionInfo &s)
{
    g_session = s;
}

SessionInfo session()
{
    return g_session;
}

QString Operador()
{
    return g_session.operatorCode;
}

QString WebURL()
{
    return g_session.host;
}

int WebPort()
{
    return g_session.port;
}

void setMainWindow(QMainWindow *window)
{
    g_mainWindow = window;
}

QMainWindow *MainWindow()
{
    return g_mainWindow;
}

void setChildWindowPresenter(ChildWindowPresenter presenter)
{
    g_presenter = std::move(presenter);
}

void ShowChildWindow(QWidget *child)
{
    if (!child) {
        return;
    }
    if (g_presenter) {
        g_presenter(child);
    } else {
        child->show();
        child->raise();
        child->activateWindow();
    }
}

void setLookupDatabaseOptions(const QString &options)
{
    g_lookupOptions = options;
}

QString LookupDatabaseOptions()
{
    return g_lookupOptions;
}

void setLookupDatabaseHint(const QString &hint)
{
    g_lookupHint = hint;
}

QString LookupDatabaseHint()
{
    return g_lookupHint.isEmpty() ? u"Informe a conexão nas opções do programa (--lookup-db)."_s : g_lookupHint;
}

// ---- local cache -----------------------------------------------------------

void AtualizaLocalCache(const QStringList &tables)
{
    LocalCache::instance()->notify(tables);
}

LocalCache *LocalCache::instance()
{
    static LocalCache cache;
    return &cache;
}

void LocalCache::notify(const QStringList &tables)
{
    m_changed.append(tables);
    emit tablesChanged(tables);
}
