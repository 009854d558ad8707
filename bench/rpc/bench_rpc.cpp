// Latency of a trivial remote call over loopback, as a ratio to a bare TCP
// round trip of the same size on the same machine in the same run; then the
// cost of carrying a packet, and calls per second with several clients.
// Prints ratios: absolute times on a shared machine say little.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "BareRoundTrip.h"
#include "RpcClient.h"
#include "RpcServer.h"

using namespace Qt::StringLiterals;

namespace {

const QString module = u"PRU87000.rdmProcessoUnidade"_s;

class EchoHandler : public SessionHandler
{
public:
    LoginResult login(const LoginRequest &) override { return {true, {}, u"U"_s, u"O"_s}; }
    QCborValue call(const QString &, const QCborArray &args) override
    {
        return args.isEmpty() ? QCborValue(nullptr) : args.at(0);
    }
};

// The median of the samples; BENCH_RPC_SPREAD=1 also prints how they spread.
double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    if (qEnvironmentVariableIsSet("BENCH_RPC_SPREAD")) {
        double sum = 0;
        for (double sample : samples) {
            sum += sample;
        }
        std::printf("  [mean %.1f, p90 %.1f, p99 %.1f, max %.1f us]\n", sum / double(samples.size()),
                    samples[samples.size() * 9 / 10], samples[samples.size() * 99 / 100], samples.back());
    }
    return samples[samples.size() / 2];
}

// Median microseconds of a blocking round trip of `size` bytes.
double rawRoundTrip(int size, int rounds)
{
    static BareEchoServer echo;
    BareRoundTrip trip(echo.port());
    std::vector<double> samples;
    QElapsedTimer clock;
    for (int i = 0; i < rounds; ++i) {
        clock.start();
        trip.run(size, size);
        samples.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    return median(samples);
}

double rpcRoundTrip(quint16 port, const QCborValue &value, int rounds)
{
    RpcClient client;
    QString error;
    if (!client.open(u"127.0.0.1"_s, port, module, u"op"_s, u"x"_s, 5000, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    std::vector<double> samples;
    QElapsedTimer clock;
    for (int i = 0; i < rounds; ++i) {
        clock.start();
        const RpcReply reply = client.call(u"echo"_s, {value}, 10000);
        samples.push_back(double(clock.nsecsElapsed()) / 1000.0);
        if (!reply.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(reply.error));
            std::exit(1);
        }
    }
    return median(samples);
}

double callsPerSecond(quint16 port, int clients, int millis)
{
    std::atomic<long> calls = 0;
    std::atomic<bool> stop = false;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            RpcClient client;
            QString error;
            if (!client.open(u"127.0.0.1"_s, port, module, u"op"_s, u"x"_s, 5000, &error)) {
                return;
            }
            while (!stop) {
                if (client.call(u"echo"_s, {1.0}, 10000).ok) {
                    ++calls;
                }
            }
        });
    }
    QThread::msleep(static_cast<unsigned long>(millis));
    stop = true;
    for (std::thread &t : threads) {
        t.join();
    }
    return double(calls) * 1000.0 / millis;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    RpcServer server([] { return std::make_unique<EchoHandler>(); });
    QString error;
    if (!server.listen(QHostAddress::LocalHost, 0, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    constexpr int rounds = 2000;
    // A trivial call is a frame of about 40 bytes each way.
    const double raw = rawRoundTrip(40, rounds);
    const double call = rpcRoundTrip(server.port(), QCborValue(nullptr), rounds);
    std::printf("trivial call: %.1f us median, %.2fx a bare 40-byte TCP round trip (%.1f us)\n", call, call / raw, raw);

    const QByteArray packet(256 * 1024, '\x5a');
    const double rawPacket = rawRoundTrip(packet.size(), 200);
    const double callPacket = rpcRoundTrip(server.port(), QCborValue(packet), 200);
    std::printf("256 KiB packet echoed: %.1f us median, %.2fx a bare 256 KiB TCP round trip (%.1f us)\n", callPacket,
                callPacket / rawPacket, rawPacket);

    const double one = callsPerSecond(server.port(), 1, 1500);
    for (int clients : {1, 8, 32}) {
        const double rate = clients == 1 ? one : callsPerSecond(server.port(), clients, 1500);
        std::printf("%2d clients: %8.0f calls/s, %.2fx one client\n", clients, rate, rate / one);
    }
    server.close();
    return 0;
}
