// One session: the customer's connection from the tunnel server, its PROXY line, a viewer started for
// it on a one-time loopback port, and the relay between the two until one side ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "technician/technician_settings.h"

struct brol_stream;

// Runs the session of the accepted connection customer (whose record the session closes and
// destroys) for the ID id, numbered number, to its end; every event goes to the journal. Returns when
// the session has ended, its viewer included; stop set by another thread ends it within a quarter
// of a second (or as soon as a blocked write to a side gives up).
void tech_session_run(const tech_settings& settings, const std::string& id, brol_stream& customer, std::int64_t number,
                      const std::atomic<bool>& stop);

// Size of each relay buffer: one read takes whatever arrived, up to this.
inline constexpr std::int32_t tech_relay_buffer_size = 256 * 1024;
