#include "core/relay/relay_descriptors.h"

#include <algorithm>
#include <climits>
#include <sys/resource.h>

namespace qv {

void TRelayDescriptorCeiling::Refresh() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return; // the last known ceiling stands
    const rlim_t soft = std::min<rlim_t>(limit.rlim_cur, INT_MAX);
    ceiling_ = static_cast<int>(soft) - kDescriptorReserve;
}

} // namespace qv
