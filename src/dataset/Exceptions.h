#pragma once

#include <QString>
#include <QByteArray>

#include <exception>

#include "dataset_export.h"

// The silent stop: ends the operation in progress without a message.
// Every entry point from Qt catches it and ends there quietly.
class DATASET_EXPORT EAbort : public std::exception
{
public:
    const char *what() const noexcept override { return "Operation aborted"; }
};

// Throws the silent stop.
[[noreturn]] DATASET_EXPORT void Abort();

// An error with a text meant for the user (wrong field name, text too long,
// bad packet, server failure...). The host's error display shows message().
class DATASET_EXPORT EDatabaseError : public std::exception
{
public:
    explicit EDatabaseError(QString message)
        : m_message(std::move(message))
        , m_utf8(m_message.toUtf8())
    { }
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A data or delta packet that cannot be decoded.
class DATASET_EXPORT EPacketError : public EDatabaseError
{
public:
    using EDatabaseError::EDatabaseError;
};

// The text of the exception being handled, for a boundary that turns any
// exception into a message (the guard of Qt's entry points, the connection,
// the server's calls and its main): the message of an EDatabaseError, what()
// of a standard exception, "Erro inesperado." for anything else or an empty
// text. Call it only inside a catch block; outside one it gives an empty text.
DATASET_EXPORT QString currentExceptionMessage();
