// The network client: one connection to a game server.
#pragma once

bool net_connected();
// The server says the race is in warm-up (collisions off).
bool net_warmup();
// Ticks the server has made available, and the tick below which the client
// catches up at full speed.
int net_server_ticks();
int net_catch_up_tick();
// The local tick counter.
int net_local_tick();
void network_step();
// Sends the disconnect packet and closes the socket (reports through game_message).
void net_disconnect();
void net_reset();
