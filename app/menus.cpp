// The front-end menus: the open menu and its selected item, the key handler, and the
// interactive capture of a control binding. Until text drawing exists the pages are
// not drawn; the main menu's "Quit" item and the quit screen work by keys so the
// program can be left the ordinary way.
#include "app/menus.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/mainloop.h"
#include "core/common.h"
#include "core/options.h"
#include "core/settings.h"
#include "platform/vrak.h"

enum {
    KEY_ENTER = VRAK_KEY_BASE + 0x1C,
    KEY_PAD_ENTER = VRAK_KEY_BASE + 0x11C,
    KEY_UP = VRAK_KEY_BASE + 0x148,
    KEY_DOWN = VRAK_KEY_BASE + 0x150,
    MAIN_MENU_ITEMS = 9,
    MAIN_MENU_QUIT = 8,
};

struct CaptureAxis {
    const char *name; // interned
    VrakAxis *axis;
};

static struct {
    int current = MENU_NONE;
    int selected;
    bool changed;
    KeyBinding *capture; // binding being learnt, or null
    std::vector<CaptureAxis> capture_axes;
} menus;

int menu_current()
{
    return menus.current;
}

void menu_open(int index)
{
    menus.current = index;
    menus.selected = 0;
}

void menu_close()
{
    menus.current = MENU_NONE;
    menus.selected = 0;
}

void menu_select(int item)
{
    menus.selected = item;
}

int menu_selected()
{
    return menus.selected;
}

bool menu_changed()
{
    return menus.changed;
}

void menu_set_changed(bool changed)
{
    menus.changed = changed;
}

void menu_key(int code)
{
    // A key that just switched menus must not act on the new one as well.
    if (menus.changed)
        return;
    switch (menus.current) {
    case MENU_MAIN:
        if (code == KEY_UP && menus.selected > 0)
            menus.selected--;
        else if (code == KEY_DOWN && menus.selected < MAIN_MENU_ITEMS - 1)
            menus.selected++;
        else if ((code == KEY_ENTER || code == KEY_PAD_ENTER) && menus.selected == MAIN_MENU_QUIT) {
            menu_open(MENU_QUIT);
            menus.changed = true;
        }
        break;
    case MENU_QUIT:
        // "esc" never gets here: the main loop closes the menu with it.
        if (code != ESC_KEY && code != MENU_DRAG)
            main_loop_request_quit();
        break;
    default:
        break;
    }
}

// The menu pages are drawn with the text module, which does not exist yet.
void draw_menus() {}

// Item rectangles come with the drawing; until then nothing is under the pointer.
int menu_item_at(int x, int y)
{
    (void)x;
    (void)y;
    return -1;
}

static void close_capture_axes()
{
    for (const CaptureAxis &c : menus.capture_axes)
        if (c.axis)
            vrak_axis_close(c.axis);
    menus.capture_axes.clear();
}

static void end_capture()
{
    close_capture_axes();
    menus.capture = nullptr;
    if (startup_options().debug >= 1)
        vrak_log("Done watching pots\n");
}

void binding_capture_start(GameWindow *window, KeyBinding *binding, const char *const *axis_names,
                           int axis_count)
{
    if (menus.capture)
        end_capture();
    bool debug = startup_options().debug >= 1;
    if (debug)
        vrak_log("Watching pots\n");
    for (int i = 0; i < axis_count; i++) {
        VrakAxis *axis = vrak_axis_open(window, axis_names[i]);
        if (debug)
            vrak_log("\t%s %s\n", axis_names[i], axis ? "Ok" : "Failed");
        if (!axis)
            continue;
        // A stick held off-centre at the start would win at once: leave it out.
        if (std::abs(vrak_axis_read(axis)) > 16384) {
            vrak_axis_close(axis);
            if (debug)
                vrak_log("\t%s Ignored (not centered)\n", axis_names[i]);
            continue;
        }
        menus.capture_axes.push_back({intern_string(axis_names[i]), axis});
    }
    menus.capture = binding;
}

bool binding_capture_active()
{
    return menus.capture != nullptr;
}

void binding_capture_cancel()
{
    if (menus.capture)
        end_capture();
}

void binding_capture_key(GameWindow *window, int code)
{
    if (!menus.capture)
        return;
    if (code == ESC_KEY) {
        end_capture();
        return;
    }
    // Characters have no name and cannot be bound; the capture goes on.
    char name[256];
    if (!vrak_key_name(window, code, name, sizeof name))
        return;
    KeyBinding *b = menus.capture;
    b->key_name = intern_string(name);
    b->key_code = code;
    b->axis_name = nullptr;
    if (b->axis) {
        vrak_axis_close(b->axis);
        b->axis = nullptr;
    }
    end_capture();
}

void binding_capture_axes()
{
    if (!menus.capture)
        return;
    int best = -1;
    double best_value = 0;
    for (int i = 0; i < (int)menus.capture_axes.size(); i++) {
        double v = vrak_axis_read(menus.capture_axes[i].axis) / 32768.0;
        if (best < 0 || std::fabs(v) > std::fabs(best_value)) {
            best = i;
            best_value = v;
        }
    }
    if (best < 0 || std::fabs(best_value) <= 0.5)
        return;
    KeyBinding *b = menus.capture;
    if (b->axis)
        vrak_axis_close(b->axis);
    b->key_name = nullptr;
    b->key_code = 0;
    b->axis_name = menus.capture_axes[best].name;
    b->axis = menus.capture_axes[best].axis;
    // The bound axis now belongs to the binding, not to the capture list.
    menus.capture_axes[best].axis = nullptr;
    // A dead zone of 1/16 of the travel around the centre, full on at 15/16.
    b->axis_low = best_value > 0 ? 0.0625f : -0.0625f;
    b->axis_high = best_value > 0 ? 0.9375f : -0.9375f;
    end_capture();
}
