#pragma once

#include <QString>

#include <functional>

#include "framework_export.h"

class QObject;
class QWidget;

// The host's error display: shows one error text to the user. The host sets
// it at start; the default is a modal box titled "Erro" (through
// ModalDialogs, so tests see and answer it).
using ErrorDisplay = std::function<void(const QString &text, QWidget *parent)>;
FRAMEWORK_EXPORT void setErrorDisplay(ErrorDisplay display);
FRAMEWORK_EXPORT void showError(const QString &text, QWidget *parent = nullptr);

// Every entry point from Qt (slot, event handler, menu action, key) runs its
// work through here. EAbort ends quietly; EDatabaseError and any other
// std::exception go to the error display; nothing crosses the event loop.
// context: the widget that parents the error box (may be null).
// Returns true when fn ran to its end.
FRAMEWORK_EXPORT bool guarded(QObject *context, const std::function<void()> &fn);

// Count of errors shown by the guard since start (for tests and logs).
FRAMEWORK_EXPORT int guardErrorCount();
