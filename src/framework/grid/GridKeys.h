#pragma once

#include <QChar>
#include <QKeyEvent>

// Key codes and characters as the grid's key events give them.
namespace GridKeys {
// The virtual key codes the screens' key handlers test.
constexpr quint16 Backspace = 8;
constexpr quint16 Space = 32;
constexpr quint16 Insert = 45;
constexpr quint16 Delete = 46;

// Windows-like virtual key code of a key event; 0 when it has none.
inline quint16 virtualKey(const QKeyEvent *event)
{
    const int key = event->key();
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    default:
        break;
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return quint16(key);
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return quint16(key);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return quint16(112 + (key - Qt::Key_F1));
    }
    return 0;
}

// The character a key press types (Tab 9, Enter 13, Backspace 8, Esc 27
// included); a null QChar when it types none.
inline QChar typedChar(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return QChar(9);
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QChar(13);
    case Qt::Key_Backspace:
        return QChar(8);
    case Qt::Key_Escape:
        return QChar(27);
    case Qt::Key_Delete:
        return QChar();
    default:
        break;
    }
    if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) {
        return QChar();
    }
    const QString text = event->text();
    if (text.isEmpty() || !text.at(0).isPrint()) {
        return QChar();
    }
    return text.at(0);
}

// Ctrl+Delete (with or without Shift): the key chord that must never delete
// a row behind the screen's own Delete command.
inline bool isCtrlDelete(quint16 key, Qt::KeyboardModifiers modifiers)
{
    return key == Delete && modifiers.testFlag(Qt::ControlModifier);
}
} // namespace GridKeys
