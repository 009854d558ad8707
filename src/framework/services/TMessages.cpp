#include "TMessages.h"

#include <QFile>
#include <QWidget>

#include "Exceptions.h"

using namespace Qt::StringLiterals;

TMessages::TMessages(QObject *parent)
    : QObject(parent)
{ }

void TMessages::setMessages(const QStringList &lines)
{
    m_lines = lines;
}

void TMessages::loadFromText(const QString &text)
{
    QStringList lines;
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
        if (!line.trimmed().isEmpty()) {
            lines.append(line);
        }
    }
    m_lines = lines;
}

void TMessages::loadFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EDatabaseError(u"Não foi possível ler o catálogo de mensagens %1: %2"_s.arg(path, file.errorString()));
    }
    loadFromText(QString::fromUtf8(file.readAll()));
}

bool TMessages::contains(const QString &key) const
{
    for (const QString &line : m_lines) {
        const qsizetype bar = line.indexOf(u'|');
        if (bar >= 0 && QStringView(line).left(bar) == key) {
            return true;
        }
    }
    return false;
}

QString TMessages::Msg(const QString &key) const
{
    for (const QString &line : m_lines) {
        const qsizetype bar = line.indexOf(u'|');
        if (bar >= 0 && QStringView(line).left(bar) == key) {
            return line.mid(bar + 1);
        }
    }
    // A missing key still tells the user (and the developer) something.
    return u"Mensagem não cadastrada: %1"_s.arg(key);
}

TModalResult TMessages::ShowMsg(const QString &key, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) const
{
    Q_UNUSED(helpContext)
    QWidget *parentWidget = nullptr;
    for (QObject *o = parent(); o; o = o->parent()) {
        if (o->isWidgetType()) {
            parentWidget = static_cast<QWidget *>(o);
            break;
        }
    }
    return ModalDialogs::messageBox(Msg(key), type, buttons, {}, parentWidget);
}
