#pragma once

#include <QLoggingCategory>

// Messages of the wire layer; only warnings show unless "pru.rpc.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcRpc)
