// The front-end menus: which menu is open, its selected item, the key handler and
// drawing, and the interactive capture of a control binding. Only the state and the
// quit screen exist so far; the menu pages arrive with text drawing.
#pragma once

struct GameWindow;
struct KeyBinding;

enum {
    MENU_NONE = -1,
    MENU_MAIN = 0,
    MENU_CHAT = 16,
    MENU_QUIT = 18,
    MENU_DRAG = 16,   // code sent to the handler while the pointer drags
    ESC_KEY = 0x1001, // the "esc" key: key base + set-1 scan code 0x01
};

int menu_current(); // MENU_NONE when no menu is open
// Opening or closing selects item 0.
void menu_open(int index);
void menu_close();
void menu_select(int item);
int menu_selected();
// A key press (or MENU_DRAG) for the open menu; ignored while the menu just changed.
void menu_key(int code);
void draw_menus();
// Set by the main loop when the open menu changed during this frame's events, so
// one key cannot act on two menus; cleared at the start of each frame's ticks.
bool menu_changed();
void menu_set_changed(bool changed);
// The item under the pointer, -1 for none.
int menu_item_at(int x, int y);

// Interactive capture of a binding: started by the controls menu with the axis-name
// list; the main loop feeds it key presses and polls its axes every tick.
void binding_capture_start(GameWindow *window, KeyBinding *binding, const char *const *axis_names,
                           int axis_count);
bool binding_capture_active();
// A key press while capturing: "esc" cancels, a named key becomes the binding's key.
void binding_capture_key(GameWindow *window, int code);
// Binds the capture axis moved furthest once it passes half its travel.
void binding_capture_axes();
void binding_capture_cancel();
