#pragma once

#include <utility>

// Takes a record-set or field event off for as long as it lives and puts the
// same handler back when it goes, on every exit path, as QSignalBlocker does
// for signals. Works for any event member that can be set to nullptr.
template <typename Handler>
class ScopedDetach
{
public:
    explicit ScopedDetach(Handler &event)
        : m_event(&event)
        , m_saved(std::exchange(event, nullptr))
    { }
    ~ScopedDetach() { restore(); }
    ScopedDetach(const ScopedDetach &) = delete;
    ScopedDetach &operator=(const ScopedDetach &) = delete;

    // Puts the handler back now; the guard does nothing more afterwards.
    void restore()
    {
        if (m_event) {
            *m_event = std::move(m_saved);
            m_event = nullptr;
        }
    }

private:
    Handler *m_event;
    Handler m_saved;
};
