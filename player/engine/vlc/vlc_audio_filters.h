#pragma once

struct libvlc_media_player_t;

namespace lumora {

// libVLC's own audio filters on one player. libVLC 3 offers none but the equalizer through its
// API: its player holds an empty "audio-filter" of its own, which hides the instance's option
// and no media option reaches. This sets the player's variable, and that of an audio output
// it already has, through libVLC's core (the player is a libVLC object: its first member).
// chain: filter names joined by ':', e.g. "compressor"; empty: none. Returns false when the
// player refused the value.
bool setAudioFilters(libvlc_media_player_t *player, const char *chain);

} // namespace lumora
