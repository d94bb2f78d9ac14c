// The time-ordered input event queue: a ring of 256 events kept sorted by time on
// insertion. Window messages, device polling and the game itself post into it; the
// main loop takes out the events that are due before each tick. Because events
// from different sources arrive with their own time stamps, sorting on insertion
// is what makes them come out in the order they happened.
#include "platform/vrak_local.h"

#include <mutex>

static struct {
    std::mutex lock; // producers may one day run on another thread
    VrakEvent ring[VRAK_EVENT_QUEUE_SIZE];
    int head; // index of the oldest event
    int count;
} evq;

static int ring_index(int i)
{
    return (evq.head + i) % VRAK_EVENT_QUEUE_SIZE;
}

bool vrak_post_event(int code, bool pressed, VrakTime time)
{
    std::lock_guard<std::mutex> guard(evq.lock);
    if (evq.count == VRAK_EVENT_QUEUE_SIZE)
        return false;
    int64_t when = vrak_time_to_micros(time);
    // Walk back from the tail past every later event. Events nearly always arrive
    // in order, so this walk is short; equal times keep their arrival order.
    int pos = evq.count;
    while (pos > 0 && vrak_time_to_micros(evq.ring[ring_index(pos - 1)].time) > when) {
        evq.ring[ring_index(pos)] = evq.ring[ring_index(pos - 1)];
        pos--;
    }
    VrakEvent &slot = evq.ring[ring_index(pos)];
    slot.code = code;
    slot.pressed = pressed;
    slot.time = vrak_micros_to_time(when);
    evq.count++;
    return true;
}

static bool take_oldest(bool check_deadline, VrakTime deadline, VrakEvent *out)
{
    std::lock_guard<std::mutex> guard(evq.lock);
    if (evq.count == 0)
        return false;
    const VrakEvent &oldest = evq.ring[evq.head];
    if (check_deadline && vrak_time_to_micros(oldest.time) > vrak_time_to_micros(deadline))
        return false;
    if (out)
        *out = oldest;
    evq.head = ring_index(1);
    evq.count--;
    return true;
}

bool vrak_next_event(GameWindow *window, VrakTime deadline, VrakEvent *out)
{
    if (window)
        vrak_window_pump(window);
    return take_oldest(true, deadline, out);
}

bool vrak_poll_event(GameWindow *window, VrakEvent *out)
{
    if (window)
        vrak_window_pump(window);
    return take_oldest(false, VrakTime{0, 0}, out);
}

void vrak_clear_events()
{
    std::lock_guard<std::mutex> guard(evq.lock);
    evq.head = 0;
    evq.count = 0;
}
