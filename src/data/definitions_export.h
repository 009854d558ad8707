#pragma once
#include <QtCore/qglobal.h>
#if defined(PRU_DEFINITIONS_LIBRARY)
#define PRU_DEFINITIONS_EXPORT Q_DECL_EXPORT
#else
#define PRU_DEFINITIONS_EXPORT Q_DECL_IMPORT
#endif
