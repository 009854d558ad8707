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

bool guarded(QObject *context, const std::function<void()> &fn)
{
    try {
        fn();
        return true;
    } catch (const EAbort &) {
        // The silent stop ends here.
    } catch (const EDatabaseError &e) {
        showError(e.message(), widgetOf(context));
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()), widgetOf(context));
    } catch (...) {
        showError(u"Erro inesperado."_s, widgetOf(context));
    }
    return false;
}

int guardErrorCount()
{
    return g_errorCount;
}
