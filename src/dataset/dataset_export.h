#pragma once
#include <QtCore/qglobal.h>
#if defined(DATASET_LIBRARY)
#define DATASET_EXPORT Q_DECL_EXPORT
#else
#define DATASET_EXPORT Q_DECL_IMPORT
#endif
