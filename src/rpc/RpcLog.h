#pragma once

#include <QLoggingCategory>

// Messages of the wire layer; only warnings show unless "pru.rpc.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcRpc)

#include <QString>

#include "rpc_export.h"

// A value from outside (an operator code, a method name, an address) as it
// goes into a log line: control characters are written as \xNN or \uNNNN, so
// no value can start a line of its own or drive a terminal.
RPC_EXPORT QString loggable(QStringView text);
