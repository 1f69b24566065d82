#include "audio/SurroundFold.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <optional>

namespace kiv {

namespace {

// The parts of a 5.1 layout; none for any other layout.
std::optional<TSurroundRoles> RolesOf(const AVChannelLayout& layout) {
    if (layout.nb_channels != 6) return std::nullopt;
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC) return TSurroundRoles{};
    const auto index = [&](AVChannel channel) { return av_channel_layout_index_from_channel(&layout, channel); };
    TSurroundRoles roles;
    roles.frontLeft = index(AV_CHAN_FRONT_LEFT);
    roles.frontRight = index(AV_CHAN_FRONT_RIGHT);
    roles.centre = index(AV_CHAN_FRONT_CENTER);
    roles.lfe = index(AV_CHAN_LOW_FREQUENCY);
    roles.surroundLeft = index(AV_CHAN_BACK_LEFT);
    roles.surroundRight = index(AV_CHAN_BACK_RIGHT);
    if (roles.surroundLeft < 0 || roles.surroundRight < 0) {
        roles.surroundLeft = index(AV_CHAN_SIDE_LEFT);
        roles.surroundRight = index(AV_CHAN_SIDE_RIGHT);
    }
    for (const int i : {roles.frontLeft, roles.frontRight, roles.centre, roles.lfe, roles.surroundLeft,
                        roles.surroundRight})
        if (i < 0) return std::nullopt;
    return roles;
}

} // namespace

bool FoldSurround(SwrContext* swr, const AVChannelLayout& in) {
    const std::optional<TSurroundRoles> roles = RolesOf(in);
    if (!roles) return false;
    double matrix[2][6] = {};
    for (const int i : {roles->frontLeft, roles->centre, roles->lfe, roles->surroundLeft})
        matrix[0][i] = kSurroundFoldGain;
    for (const int i : {roles->frontRight, roles->centre, roles->lfe, roles->surroundRight})
        matrix[1][i] = kSurroundFoldGain;
    return swr_set_matrix(swr, &matrix[0][0], 6) >= 0;
}

} // namespace kiv
