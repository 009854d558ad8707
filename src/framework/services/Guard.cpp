#include "Guard.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "ModalDialogs.h"

using namespace Qt::StringLiterals;

TModalResult showMessageBox(DialogKind kind, const QString &text, TMsgDlgType type, TMsgDlgButtons buttons,
                            const QString &title, QWidget *parent);

namespace {
ErrorDisplay &display()
{
    static ErrorDisplay d;
    return d;
}
int g_errorCount = 0;

QWidget *widgetOf(QObject *context)
{
    for (QObject *o = context; o; o = o->parent()) {
        if (o->isWidgetType()) {
            return static_cast<QWidget *>(o);
        }
    }
    return nullptr;
}
} // namespace

void showErrorBox(const QString &text, QWidget *parent)
{
    showMessageBox(DialogKind::Error, text, mtError, mbOK, u"Erro"_s, parent);
}

void setErrorDisplay(ErrorDisplay d)
{
    display() = std::move(d);
}

void showError(const QString &text, QWidget *parent)
{
    ++g_errorCount;
    // A busy cursor left by an interrupted call would hide the message's meaning.
    while (QGuiApplication::overrideCursor()) {
        QGuiApplication::restoreOverrideCursor();
    }
    try {
        if (display()) {
            display()(text, parent);
        } else {
            showErrorBox(text, parent);
        }
    } catch (...) {
        // The display itself failed: nothing more can be shown safely.
        qWarning("Error display failed while showing: %s", qUtf8Printable(text));
    }
}

namespace {
int g_guardDepth = 0;

// When the outermost entry point ends with an error, no call is running any
// more: a busy indicator still up was left by a path that skipped its clean-up.
void endFailedEntryPoint()
{
    if (g_guardDepth == 0) {
        while (busyIndicatorDepth() > 0) {
            DeactiveShowAvi();
        }
    }
}
} // namespace

bool guarded(QObject *context, const std::function<void()> &fn)
{
    QString error;
    ++g_guardDepth;
    try {
        fn();
        --g_guardDepth;
        return true;
    } catch (const EAbort &) {
        // The silent stop ends here.
    } catch (...) {
        error = currentExceptionMessage();
    }
    --g_guardDepth;
    endFailedEntryPoint();
    if (!error.isNull()) {
        showError(error, widgetOf(context));
    }
    return false;
}

int guardErrorCount()
{
    return g_errorCount;
}
