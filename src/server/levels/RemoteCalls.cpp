#include "RemoteCalls.h"

#include <QSqlRecord>

#include <cmath>

#include "Database.h"
#include "Exceptions.h"
#include "Saves.h"

using namespace Qt::StringLiterals;

namespace RemoteCalls {

void expectCount(const QString &method, const QCborArray &args, int count)
{
    if (args.size() != count) {
        throw EDatabaseError(u"%1 espera %2 argumento(s) e recebeu %3."_s.arg(method).arg(count).arg(args.size()));
    }
}

qint64 numberArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QCborValue value = args.at(index);
    double d = 0;
    if (value.isDouble()) {
        d = value.toDouble();
    } else if (value.isInteger()) {
        d = double(value.toInteger());
    } else {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um número."_s.arg(method).arg(index + 1).arg(what));
    }
    if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > double(PacketLimits::maxWholeNumber)) {
        throw EDatabaseError(
            u"%1: o argumento %2 (%3) deve ser um número inteiro."_s.arg(method).arg(index + 1).arg(what));
    }
    return qint64(d);
}

QString textArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QCborValue value = args.at(index);
    if (!value.isString()) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um texto."_s.arg(method).arg(index + 1).arg(what));
    }
    return value.toString();
}

qint64 keyTextArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QString text = textArg(method, args, index, what).trimmed();
    const qsizetype digitsFrom = text.startsWith(u'-') ? 1 : 0;
    bool digits = text.size() > digitsFrom;
    for (qsizetype i = digitsFrom; digits && i < text.size(); ++i) {
        digits = text.at(i) >= u'0' && text.at(i) <= u'9';
    }
    if (!digits) {
        throw EDatabaseError(
            u"%1: o argumento %2 (%3) deve ser um número inteiro escrito em texto; recebido \"%4\"."_s.arg(method)
                .arg(index + 1)
                .arg(what, elidedText(text, 40)));
    }
    // Leading zeros say nothing ("00012" is 12): past them, 2^53 has 16 digits.
    qsizetype significant = digitsFrom;
    while (significant < text.size() - 1 && text.at(significant) == u'0') {
        ++significant;
    }
    const qint64 key = text.size() - significant > 16 ? PacketLimits::maxWholeNumber + 1 : text.toLongLong();
    if (key > PacketLimits::maxWholeNumber || key < -PacketLimits::maxWholeNumber) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) passa de ±%4; recebido \"%5\"."_s.arg(method)
                                 .arg(index + 1)
                                 .arg(what)
                                 .arg(PacketLimits::maxWholeNumber)
                                 .arg(elidedText(text, 40)));
    }
    return key;
}

DeltaReader deltaArg(const QString &method, const QCborArray &args, int index, qsizetype maxBytes, qsizetype maxRows)
{
    const QCborValue value = args.at(index);
    if (!value.isByteArray()) {
        throw EDatabaseError(u"%1: o argumento %2 deve ser um pacote de alterações."_s.arg(method).arg(index + 1));
    }
    const QString smaller = u"; nada foi gravado. Grave as alterações em partes menores."_s;
    QByteArray bytes = value.toByteArray();
    if (bytes.size() > maxBytes) {
        throw EDatabaseError(
            u"%1: o pacote de alterações tem %2 bytes, acima do limite de %3 bytes de uma gravação neste servidor%4"_s
                .arg(method, QString::number(bytes.size()), QString::number(maxBytes), smaller));
    }
    try {
        return DeltaReader(std::move(bytes), maxRows);
    } catch (const EDeltaTooLarge &e) {
        throw EDatabaseError(u"%1: %2%3"_s.arg(method, e.message(), smaller));
    } catch (const EDatabaseError &e) {
        // The decoder's message already says "Pacote de alterações inválido: ...".
        throw EDatabaseError(u"%1: %2"_s.arg(method, e.message()));
    }
}

} // namespace RemoteCalls
