#include "vlc_audio_filters.h"

#include <vlc/vlc.h>

#include <vlc_common.h>
#include <vlc_variables.h>

#include <cstring>

namespace lumora {

bool setAudioFilters(libvlc_media_player_t *player, const char *chain)
{
    auto *object = reinterpret_cast<vlc_object_t *>(player);
    if (var_SetString(object, "audio-filter", chain) != VLC_SUCCESS)
        return false;
    // An audio output keeps the chain it was made with; told, it rebuilds its filters.
    vlc_list_t *children = vlc_list_children(object);
    for (int i = 0; children && i < children->i_count; ++i) {
        auto *child = static_cast<vlc_object_t *>(children->p_values[i].p_address);
        if (child->obj.object_type && std::strcmp(child->obj.object_type, "audio output") == 0)
            var_SetString(child, "audio-filter", chain);
    }
    if (children)
        vlc_list_release(children);
    return true;
}

} // namespace lumora
