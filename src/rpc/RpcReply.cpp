#include "RpcReply.h"

#include "Exceptions.h"

using namespace Qt::StringLiterals;

namespace {

QString formOf(const QCborValue &value)
{
    if (value.isByteArray()) {
        return u"um pacote"_s;
    }
    if (value.isInteger() || value.isDouble()) {
        return u"um número"_s;
    }
    if (value.isString()) {
        return u"um texto"_s;
    }
    if (value.isNull() || value.isUndefined()) {
        return u"nenhum valor"_s;
    }
    return u"um valor de outro tipo"_s;
}

// Throws unless the reply succeeded with a value that passes accepts.
template <typename Accepts>
void expect(const RpcReply &reply, Accepts accepts, const QString &expected)
{
    if (!reply.ok) {
        throw EDatabaseError(
            reply.error.isEmpty() ? u"O servidor de aplicação recusou a chamada %1."_s.arg(reply.method) : reply.error);
    }
    if (!accepts(reply.value)) {
        throw EDatabaseError(u"Resposta inesperada do servidor para %1: %2 era esperado, chegou %3."_s.arg(
            reply.method.isEmpty() ? u"a chamada"_s : reply.method, expected, formOf(reply.value)));
    }
}

} // namespace

QByteArray RpcReply::packet() const
{
    expect(
        *this, [](const QCborValue &v) { return v.isByteArray(); }, u"um pacote de dados"_s);
    return value.toByteArray();
}

double RpcReply::number() const
{
    expect(
        *this, [](const QCborValue &v) { return v.isDouble() || v.isInteger(); }, u"um número"_s);
    return value.isInteger() ? double(value.toInteger()) : value.toDouble();
}

QString RpcReply::text() const
{
    expect(
        *this, [](const QCborValue &v) { return v.isString(); }, u"um texto"_s);
    return value.toString();
}

bool RpcReply::isNull() const
{
    return ok && (value.isNull() || value.isUndefined());
}
