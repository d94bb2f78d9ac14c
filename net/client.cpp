#include "net/client.h"

// The client protocol is not built yet: the game is always offline.
bool net_connected()
{
    return false;
}

bool net_warmup()
{
    return false;
}

int net_server_ticks()
{
    return 0;
}

int net_catch_up_tick()
{
    return 0;
}

int net_local_tick()
{
    return 0;
}

void network_step() {}

void net_disconnect() {}

void net_reset() {}
