#pragma once

#include <concepts>
#include <functional>

class QWidget;

namespace lumora {

class PlayerControl;

// Makes the player of a station page inside the page's client area: by default a
// PlayerControl on libVLC; tests and benchmarks give a function that makes one on a
// recording engine or with its audio captured. It always gives a player: a function that
// gives none is a fault of whoever set it, raised as std::logic_error, so a page never has to
// ask whether its player exists.
class PlayerFactory {
public:
    using Make = std::function<PlayerControl *(QWidget *clientArea)>;

    PlayerFactory() = default;
    // Implicit, so that a function (a lambda) can be given where a factory is asked for.
    template <std::invocable<QWidget *> F>
    PlayerFactory(F make) : m_make(std::move(make))
    {}

    PlayerControl &create(QWidget *clientArea) const;

private:
    Make m_make;
};

} // namespace lumora
