// Peer time-outs for a run: the defaults, or a shorter bound from
// QUORSEL_PEER_TIMEOUT_MS (a testing aid, so that silent-peer cases end quickly).
// It shortens only the bounds this program adds (connect, LAN reads, serial
// answers); the serial completion silence and the flash-work bound stay.
#pragma once

#include "engine/limits.h"

namespace quorsel {

PeerTimeouts TimeoutsFromEnvironment();

}  // namespace quorsel
