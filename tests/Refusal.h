#pragma once

// What a refused call says, for the tests of every layer to compare:
//   QCOMPARE(refusalOf(reply), Catalogue::text(u"DtFin>DtIni"_s));
//   QVERIFY2(refusalOf(reply).contains(part), qPrintable(refusalOf(reply)));
// A call that was not refused says notRefused, which no expected refusal
// matches, so the comparison fails and shows it.

#include <QString>

#include <concepts>
#include <utility>

#include "Exceptions.h"

inline const QString notRefused = QStringLiteral("(not refused)");

// A reply that carries its own verdict: an RpcReply, a LoginResult.
template <typename Reply>
concept RefusableReply = requires(const Reply &reply)
{
    {
        reply.ok
        } -> std::convertible_to<bool>;
    {
        reply.error
        } -> std::convertible_to<QString>;
};

template <RefusableReply Reply>
QString refusalOf(const Reply &reply)
{
    return reply.ok ? notRefused : QString(reply.error);
}

// A call refused by throwing Error (EDatabaseError and its kinds): its message.
template <typename Error = EDatabaseError, std::invocable Call>
QString refusalOf(Call &&call)
{
    try {
        std::forward<Call>(call)();
    } catch (const Error &error) {
        return error.message();
    }
    return notRefused;
}

// A refusal that says why, for a test that leaves its words open:
//   QVERIFY(saysWhy(refusalOf(reply)));
inline bool saysWhy(const QString &refusal)
{
    return refusal != notRefused && !refusal.isEmpty();
}
