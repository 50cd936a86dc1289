// The one call into tarnlook's library: look at the night in the current
// folder as `tarnlook [--scale ...]` would, its console on standard output.
// Returns tarnlook's exit status.
#ifndef TARNINDEX_LOOK_BRIDGE_H
#define TARNINDEX_LOOK_BRIDGE_H

#include <string>
#include <vector>

namespace tarnindex {

int lookHere(const std::vector<std::string>& scaleArguments);

}  // namespace tarnindex

#endif  // TARNINDEX_LOOK_BRIDGE_H
