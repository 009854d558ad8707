// pru_flood: floods the real pru_server from many loopback source addresses
// (127.x.y.z, bound before each connect) while a real operator logs in and
// reads its processes again and again. For each flood it prints the real
// operator's login + GetProcessos time (p50, p99), the server's peak
// resident memory and the most database connections the server held.
//
//   pru_flood [--seconds N] [--threads N] [--engine sqlite|pg|all] [--server PATH] [--flood NAME]
//
// Exit code 1 when a real login failed, took more than 3 s at p99, or the
// server passed 1 GiB.
// Floods: "codes" (made-up operator codes, wrong passwords), "guess" (the
// real operator's code, wrong passwords), "frames" (anonymous frames that
// declare 60 MiB and send them). Every loop is bounded by the time given.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <vector>

#include "ProcStatus.h"
#include "Admin.h"
#include "Database.h"
#include "RpcWire.h"
#include "PasswordHash.h"
#include "RpcClient.h"
#include "Sql.h"
#include "Workload.h"

using namespace Qt::StringLiterals;
using namespace Workload;

namespace {

const QString realOperator = u"REAL"_s;
const QString realPassword = u"senha-real"_s;

// The n-th source address: 127.1.0.1 onwards, never 127.0.0.1 (the real operator's).
QString sourceAddress(quint32 n)
{
    n = n % (250u * 250u * 250u);
    return u"127.%1.%2.%3"_s.arg(1 + n / 62500).arg(n / 250 % 250).arg(1 + n % 250);
}

// One frame out and one back, with a time limit; false when the server closed.
bool exchange(QTcpSocket &socket, const QByteArray &frame, int timeoutMs)
{
    socket.write(frame);
    FrameDecoder decoder;
    QElapsedTimer clock;
    clock.start();
    QByteArray payload;
    while (clock.elapsed() < timeoutMs && socket.state() == QAbstractSocket::ConnectedState) {
        if (decoder.next(&payload) == FrameDecoder::Status::Frame) {
            return true;
        }
        if (!socket.waitForReadyRead(100)) {
            continue;
        }
        decoder.feed(socket.readAll());
    }
    return false;
}

void attacker(const QString &flood, int index, quint16 port, const std::atomic<bool> *stop)
{
    quint32 serial = quint32(index) * 100'000u;
    const QByteArray big = QByteArray(1 << 20, 'x');
    while (!stop->load()) {
        QTcpSocket socket;
        if (!socket.bind(QHostAddress(sourceAddress(serial++)))) {
            continue;
        }
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(2000)) {
            continue;
        }
        if (flood == u"frames") {
            // 60 MiB declared, sent in 1 MiB pieces for as long as the server reads.
            QByteArray header(4, '\0');
            qToBigEndian(quint32(60u << 20), header.data());
            socket.write(header);
            for (int i = 0; i < 60 && !stop->load() && socket.state() == QAbstractSocket::ConnectedState; ++i) {
                socket.write(big);
                if (socket.state() == QAbstractSocket::ConnectedState) {
                    socket.waitForBytesWritten(1000);
                }
            }
            socket.waitForReadyRead(500);
            continue;
        }
        for (int attempt = 0; attempt < 3 && !stop->load(); ++attempt) {
            const QString code = flood == u"guess" ? realOperator : u"X%1"_s.arg(serial * 7 + quint32(attempt));
            if (!exchange(socket, RpcWire::loginFrame(u"PRU87000.rdmProcessoUnidade"_s, code, u"errada"_s), 30'000)) {
                break;
            }
        }
    }
}

// Database connections the server holds: its descriptors open on the SQLite
// file, or its backends on PostgreSQL.
int connectionsHeld(const QString &engine, qint64 pid, const Scratch &scratch, QSqlDatabase *direct)
{
    if (engine != u"pg") {
        const QString file = QFileInfo(scratch.config().sqliteFile).canonicalFilePath();
        int count = 0;
        const QDir fds(u"/proc/%1/fd"_s.arg(pid));
        for (const QString &fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
            count += QFile::symLinkTarget(fds.filePath(fd)) == file ? 1 : 0;
        }
        return count;
    }
    return Sql::scalar(*direct, u"SELECT COUNT(*) FROM pg_stat_activity WHERE datname = current_database() "
                                "AND pid <> pg_backend_pid()"_s)
        .toInt();
}

qint64 peakKiB(qint64 pid)
{
    return qMax<qint64>(0, procStatusKiB(QString::number(pid), "VmHWM"));
}

bool flood(const QString &engine, const QString &program, const QString &name, int seconds, int threads)
{
    QTemporaryDir folder;
    Scratch scratch(engine, folder.path());
    scratch.seed();
    {
        ScopedConnection connection(scratch.config(), u"flood-seed"_s);
        // The operator measured has a real hash, as a site's have.
        Admin::addOperator(connection.db(), realOperator, u"Operador real"_s, u"0001"_s, realPassword,
                           PasswordHash::Cost::interactive());
    }
    ServerProcess server(program, scratch.serverArguments(), folder.filePath(u"pru.port"_s));
    QString error;
    if (!server.start(&error)) {
        print(u"pru_flood: o servidor não iniciou: %1"_s.arg(error));
        return false;
    }
    ScopedConnection direct(scratch.config(), u"flood-direct"_s);

    // The real operator logged in once before: its host holds a token.
    QString token;
    {
        RpcClient first;
        if (!first.open(u"127.0.0.1"_s, server.port(), u"PRU87000.rdmProcessoUnidade"_s, realOperator, realPassword,
                        30'000, &error)) {
            print(u"pru_flood: o operador real não entrou: %1"_s.arg(error));
            return false;
        }
        token = first.deviceToken();
    }

    std::atomic<bool> stop = false;
    std::vector<QThread *> attackers;
    for (int i = 0; i < threads; ++i) {
        attackers.push_back(QThread::create(attacker, name, i, server.port(), &stop));
        attackers.back()->start();
    }
    QList<qint32> micros;
    int failures = 0;
    int mostConnections = 0;
    QString lastFailure;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < qint64(seconds) * 1000) {
        QElapsedTimer one;
        one.start();
        RpcClient real;
        real.setDeviceToken(token);
        bool ok = real.open(u"127.0.0.1"_s, server.port(), u"PRU87000.rdmProcessoUnidade"_s, realOperator, realPassword,
                            30'000, &error);
        if (ok) {
            const RpcReply reply = real.call(u"GetProcessos"_s, {}, 30'000);
            ok = reply.ok;
            error = reply.error;
            token = real.deviceToken();
        }
        micros << qint32(one.nsecsElapsed() / 1000);
        if (!ok) {
            ++failures;
            lastFailure = error;
        }
        real.close();
        mostConnections = std::max(mostConnections, connectionsHeld(engine, server.pid(), scratch, &direct.db()));
        QThread::msleep(100);
    }
    stop = true;
    for (QThread *t : attackers) {
        t->wait(60'000);
        delete t;
    }
    const qint64 peak = peakKiB(server.pid());
    print(u"%1 %2, %3 threads, %4 s: login+GetProcessos p50 %5 ms  p99 %6 ms  (%7 de %8 falharam%9)  "
          "pico de memória %10 MiB  conexões ao banco até %11"_s.arg(engine, name)
              .arg(threads)
              .arg(seconds)
              .arg(percentile(micros, 0.50) / 1000.0, 0, 'f', 0)
              .arg(percentile(micros, 0.99) / 1000.0, 0, 'f', 0)
              .arg(failures)
              .arg(micros.size())
              .arg(lastFailure.isEmpty() ? QString() : u": "_s + lastFailure.left(100))
              .arg(peak / 1024)
              .arg(mostConnections));
    server.stop();
    // What a site relies on: the real operator served within 3 s, memory under the 1 GiB budget.
    return failures == 0 && percentile(micros, 0.99) <= 3'000'000 && peak <= 1024 * 1024;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({u"seconds"_s, u"Duração de cada inundação."_s, u"N"_s, u"10"_s});
    parser.addOption({u"threads"_s, u"Atacantes simultâneos."_s, u"N"_s, u"128"_s});
    parser.addOption({u"engine"_s, u"sqlite, pg ou all."_s, u"ENGINE"_s, u"sqlite"_s});
    parser.addOption({u"server"_s, u"O pru_server a testar."_s, u"PATH"_s});
    parser.addOption({u"flood"_s, u"codes, guess, frames ou all."_s, u"NAME"_s, u"all"_s});
    parser.process(app);
    const int seconds = std::clamp(parser.value(u"seconds"_s).toInt(), 1, 600);
    const int threads = std::clamp(parser.value(u"threads"_s).toInt(), 1, 512);
    const QString program = serverProgram(parser.value(u"server"_s));
    QStringList floods = {u"codes"_s, u"guess"_s, u"frames"_s};
    if (parser.value(u"flood"_s) != u"all") {
        floods = {parser.value(u"flood"_s)};
    }
    bool ok = true;
    for (const QString &engine : engines(parser.value(u"engine"_s))) {
        for (const QString &name : floods) {
            ok = flood(engine, program, name, seconds, threads) && ok;
        }
    }
    return ok ? 0 : 1;
}
