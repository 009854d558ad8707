#pragma once
#include <QtCore/qglobal.h>
#if defined(RPC_LIBRARY)
#define RPC_EXPORT Q_DECL_EXPORT
#else
#define RPC_EXPORT Q_DECL_IMPORT
#endif
