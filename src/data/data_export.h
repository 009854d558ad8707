#pragma once
#include <QtCore/qglobal.h>
#if defined(PRU_DATA_LIBRARY)
#define PRU_DATA_EXPORT Q_DECL_EXPORT
#else
#define PRU_DATA_EXPORT Q_DECL_IMPORT
#endif
