#include "playback_states.h"

#include <iterator>

namespace lumora {

namespace {

using P = PrimaryControl;
using T = TransportStatus;
using S = PlaybackState;

// In the order of PlaybackState, so that a state is its own index.
constexpr PlaybackStateInfo kStates[] = {
    // state           name               primary    transport    under  pause  names  cushion
    {S::Idle,          "idle",            P::Open,   T::Stopped,  false, false, false, false},
    {S::Opening,       "opening",         P::Stop,   T::Playing,  true,  false, true,  false},
    {S::Buffering,     "buffering",       P::Pause,  T::Playing,  true,  true,  true,  false},
    {S::Playing,       "playing",         P::Pause,  T::Playing,  true,  true,  true,  true},
    {S::Paused,        "paused",          P::Resume, T::Paused,   false, true,  true,  false},
    {S::Stopped,       "stopped",         P::Open,   T::Stopped,  false, false, false, false},
    {S::Ended,         "ended",           P::Open,   T::Stopped,  false, false, false, false},
    {S::CannotOpen,    "cannot open",     P::Open,   T::Stopped,  false, false, true,  false},
    {S::NoAddress,     "no address",      P::None,   T::Stopped,  false, false, false, false},
    {S::Reconnecting,  "reconnecting",    P::Stop,   T::Playing,  true,  false, true,  false},
    {S::Lost,          "lost",            P::Open,   T::Stopped,  false, false, true,  false},
    {S::NoSoundDevice, "no sound device", P::Open,   T::Stopped,  false, false, true,  false},
    {S::Waiting,       "waiting",         P::Pause,  T::Playing,  true,  true,  true,  true},
};

constexpr bool eachStateAtItsIndex()
{
    for (std::size_t i = 0; i < std::size(kStates); ++i)
        if (std::size_t(kStates[i].state) != i)
            return false;
    return std::size(kStates) == std::size_t(S::Waiting) + 1;
}
static_assert(eachStateAtItsIndex(), "one row per PlaybackState, in its order");

// A desktop that sees CanPause calls Pause and expects a pause: the player must do just that
// (or be paused already), and must not offer it where Pause would be ignored.
constexpr bool pauseAgreesWithTheControls()
{
    for (const PlaybackStateInfo &s : kStates)
        if (s.canPause != (s.primary == P::Pause || s.primary == P::Resume))
            return false;
    return true;
}
static_assert(pauseAgreesWithTheControls(), "CanPause exactly where Pause pauses or a pause holds");

// A desktop shows "playing" exactly while the player is under way.
constexpr bool transportAgreesWithUnderWay()
{
    for (const PlaybackStateInfo &s : kStates)
        if (s.underWay != (s.transport == T::Playing))
            return false;
    return true;
}
static_assert(transportAgreesWithUnderWay(), "PlaybackStatus Playing exactly while under way");

} // namespace

const PlaybackStateInfo &stateInfo(PlaybackState state)
{
    const auto i = std::size_t(state);
    return i < std::size(kStates) ? kStates[i] : kStates[0];
}

std::span<const PlaybackStateInfo> playbackStates()
{
    return kStates;
}

} // namespace lumora
