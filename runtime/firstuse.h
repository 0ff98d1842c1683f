#pragma once
// A window that comes into being the first time anything refers to it,
// hidden until it is shown, and lives until the program ends.

#include <functional>
#include <memory>

namespace ferro {

template <class Window>
class OnFirstUse {
public:
    explicit OnFirstUse(std::function<std::unique_ptr<Window>()> make)
        : m_make(std::move(make))
    {
    }

    Window &get()
    {
        if (!m_window)
            m_window = m_make();
        return *m_window;
    }
    Window *operator->() { return &get(); }
    bool exists() const { return m_window != nullptr; }

private:
    std::function<std::unique_ptr<Window>()> m_make;
    std::unique_ptr<Window> m_window;
};

} // namespace ferro
