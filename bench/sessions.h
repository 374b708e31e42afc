// The session API's benchmarks: a small call through a session against the
// same call through the flat export, two sessions to two servers from two
// threads against one, and how soon a waiting host has a server's event.
#pragma once

namespace tqbse::bench {

// Registers the three; the flat exports' server (kServerAddress) must be
// running and Initialise done, as for the small calls.
void registerSessions();

} // namespace tqbse::bench
