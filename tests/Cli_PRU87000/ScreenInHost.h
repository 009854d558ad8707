#pragma once

// The screen as a person meets it: inside the host's main window, in its own
// child window, driven with the mouse and the keyboard.

#include <QAbstractButton>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include <memory>

#include "FrameworkServices.h"
#include "HostMainWindow.h"
#include "ModalDialogs.h"
#include "TDBGrid.h"
#include "TfrmProcessoUnidade.h"

class ScreenInHost
{
public:
    ScreenInHost()
    {
        m_window = std::make_unique<HostMainWindow>();
        setMainWindow(m_window.get());
        setChildWindowPresenter([this](QWidget *child) { m_window->presentChild(child); });
        m_window->show();
        if (!QTest::qWaitForWindowActive(m_window.get())) {
            qWarning("host window not active");
        }
        screen = TfrmPadraoGrid::create<TfrmProcessoUnidade>(nullptr);
        ShowChildWindow(screen);
        QCoreApplication::processEvents();
    }

    ~ScreenInHost()
    {
        setChildWindowPresenter({});
        setMainWindow(nullptr);
        // The screen goes with its child window, closed as the user closes it;
        // closing with changes pending asks first, and the test's work is over.
        if (screen && screen->hasPendingChanges()) {
            ModalDialogs::clearAnswers();
            ModalDialogs::answerNext(QStringLiteral("Sim"));
            ModalDialogs::answerNext(QStringLiteral("OK"));
        }
        if (QMdiSubWindow *sub = subWindow()) {
            sub->close();
        }
        delete screen.data();
    }

    QMdiSubWindow *subWindow() const { return m_window->workspace()->activeSubWindow(); }
    HostMainWindow *window() const { return m_window.get(); }

    // A left click in the middle of a toolbar button, as the mouse gives it.
    static void click(QAbstractButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QCoreApplication::processEvents();
    }

    // A click on a grid's cell, which also gives the grid the focus.
    static void clickCell(TDBGrid *grid, int row, int column)
    {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->cellRect(row, column).center());
        QCoreApplication::processEvents();
    }

    // Text typed at the keyboard into whatever holds the focus.
    void type(const QString &text) const
    {
        for (const QChar c : text) {
            if (c.unicode() < 128) {
                QTest::keyClick(m_window->windowHandle(), char(c.unicode()));
            } else {
                QTest::sendKeyEvent(QTest::Click, m_window->windowHandle(), Qt::Key_unknown, QString(c), {});
            }
        }
        QCoreApplication::processEvents();
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) const
    {
        QTest::keyClick(m_window->windowHandle(), key, modifiers);
        QCoreApplication::processEvents();
    }

    QPointer<TfrmProcessoUnidade> screen;

private:
    std::unique_ptr<HostMainWindow> m_window;
};
