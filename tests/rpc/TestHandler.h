#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <new>
#include <stdexcept>

#include "Exceptions.h"
#include "RpcServer.h"

using namespace Qt::StringLiterals;

// What the handlers of one server saw, shared with the test.
struct HandlerStats
{
    std::atomic<int> created = 0;
    std::atomic<int> destroyed = 0;
    std::atomic<int> wrongThread = 0; // used or destroyed outside the thread that created it
    std::atomic<int> passwordChecks = 0;
};

inline const QString testModule = u"PRU87000.rdmProcessoUnidade"_s;

// A session handler with a few methods that exercise the wire: echoes,
// failures of every kind, slowness. It checks that it is only ever used in
// the thread that created it, as a database connection would require.
class TestHandler : public SessionHandler
{
public:
    explicit TestHandler(HandlerStats *stats)
        : m_stats(stats)
        , m_thread(QThread::currentThread())
    {
        ++m_stats->created;
    }
    ~TestHandler() override
    {
        checkThread();
        ++m_stats->destroyed;
    }

    LoginResult login(const LoginRequest &request) override
    {
        const QString &serverName = request.server;
        const QString &operatorCode = request.operatorCode;
        const QString &password = request.password;
        checkThread();
        ++m_stats->passwordChecks;
        if (password == u"lenta") {
            QThread::msleep(300); // a check that takes a while, as a real hash does
        }
        if (operatorCode == u"boom") {
            throw EDatabaseError(u"Banco de dados fora do ar."_s);
        }
        if (serverName != testModule) {
            return {false, u"Módulo remoto desconhecido: %1"_s.arg(serverName), {}, {}};
        }
        if (operatorCode == u"op" && password == u"secret") {
            return {true, {}, u"Unidade Centro"_s, u"Operador de Teste"_s};
        }
        return {false, {}, {}, {}}; // the wire layer supplies the text
    }

    QCborValue call(const QString &method, const QCborArray &args) override
    {
        checkThread();
        ++m_calls;
        if (method == u"echo") {
            return args.isEmpty() ? QCborValue(nullptr) : args.at(0);
        }
        if (method == u"types") {
            QStringList names;
            for (const QCborValue &arg : args) {
                names << typeName(arg);
            }
            return names.join(u',');
        }
        if (method == u"sum") {
            double total = 0;
            for (const QCborValue &arg : args) {
                if (!arg.isDouble()) {
                    throw EDatabaseError(u"sum: argumento não numérico."_s);
                }
                total += arg.toDouble();
            }
            return total;
        }
        if (method == u"calls") {
            return double(m_calls);
        }
        if (method == u"thread") {
            return QString::number(quintptr(QThread::currentThreadId()));
        }
        if (method == u"slow") {
            QThread::msleep(static_cast<unsigned long>(args.at(0).toDouble()));
            return u"done"_s;
        }
        if (method == u"nothing") {
            return {}; // undefined: travels as null
        }
        if (method == u"throwDatabase") {
            throw EDatabaseError(u"Registro alterado por outro usuário."_s);
        }
        if (method == u"throwStd") {
            throw std::runtime_error("falha padrão");
        }
        if (method == u"abort") {
            throw EAbort();
        }
        if (method == u"throwInt") {
            throw 42;
        }
        if (method == u"outOfMemory") {
            throw std::bad_alloc();
        }
        if (method == u"badValue") {
            return QCborArray{1, 2};
        }
        if (method == u"huge") {
            return QByteArray(65 * 1024 * 1024, 'x');
        }
        throw EDatabaseError(u"Método desconhecido: %1"_s.arg(method));
    }

    static QString typeName(const QCborValue &value)
    {
        switch (value.type()) {
        case QCborValue::Double:
            return u"Double"_s;
        case QCborValue::Integer:
            return u"Integer"_s;
        case QCborValue::String:
            return u"String"_s;
        case QCborValue::ByteArray:
            return u"ByteArray"_s;
        case QCborValue::Null:
            return u"Null"_s;
        default:
            return u"Other"_s;
        }
    }

private:
    void checkThread()
    {
        if (QThread::currentThread() != m_thread) {
            ++m_stats->wrongThread;
        }
    }

    HandlerStats *m_stats;
    QThread *m_thread;
    int m_calls = 0;
};

inline SessionHandlerFactory testFactory(HandlerStats *stats)
{
    return [stats] { return std::make_unique<TestHandler>(stats); };
}
