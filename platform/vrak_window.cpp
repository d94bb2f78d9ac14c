// The game window and its OpenGL context, the display modes and the switch between
// full screen and window, the message box, and the pump that turns SDL's window
// events into the time-ordered input queue.
//
// The "threaded" option asks for a separate message thread. SDL wants a window's
// events pumped on the thread that made the window, so the option is logged and the
// window always runs on the caller's thread; the frame and event calls then see
// every message in order without locks.
#include "platform/vrak_local.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static struct {
    bool options_logged;
    bool modes_built;
    std::vector<VrakVideoMode> modes; // ends with an all-zero entry
    VrakVideoMode desktop;
    SDL_DisplayMode desktop_sdl; // format and refresh for mode switches
} win;

static const VrakVideoMode NO_MODES[1] = {{0, 0, 0}};

// True when some display could exist. Without one, trying SDL's back-ends only
// prints their complaints (on standard error, mixed with the game's own messages)
// before failing anyway.
static bool display_possible()
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}) {
        const char *v = getenv(name);
        if (v && *v)
            return true;
    }
    return false;
}

static bool init_video()
{
    if (!display_possible()) {
        SDL_SetError("no display");
        return false;
    }
    // The game installs its own SIGINT/SIGTERM handlers (vrak_on_quit_signal).
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

// Once no part of SDL is in use any more, SDL_Quit also frees what SDL set up
// for the whole process (its D-Bus connection among them).
static void quit_video()
{
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0)
        SDL_Quit();
}

static bool usable_bits(int bits)
{
    return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

static VrakVideoMode to_mode(const SDL_DisplayMode &dm)
{
    return VrakVideoMode{dm.w, dm.h, (int)SDL_BITSPERPIXEL(dm.format)};
}

static bool same_mode(const VrakVideoMode &a, const VrakVideoMode &b)
{
    return a.width == b.width && a.height == b.height && a.bits == b.bits;
}

static bool listed(const VrakVideoMode &m)
{
    for (const VrakVideoMode &l : win.modes)
        if (same_mode(l, m))
            return true;
    return false;
}

// Needs SDL's video running. Kept only once it worked, so a later window can
// still build it when the first attempt had no display.
static void build_modes()
{
    if (win.modes_built)
        return;
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(0, &dm) != 0)
        return;
    win.modes.clear();
    win.desktop_sdl = dm;
    win.desktop = to_mode(dm);
    const VrakVideoMode &d = win.desktop;
    bool ok = usable_bits(d.bits);
    vrak_log("Registry mode is %dx%dx%d@%dhz%s\n", d.width, d.height, d.bits, dm.refresh_rate,
             ok ? "" : " (ignored)");
    if (ok)
        win.modes.push_back(d);
    int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; i++) {
        if (SDL_GetDisplayMode(0, i, &dm) != 0)
            continue;
        VrakVideoMode m = to_mode(dm);
        if (listed(m))
            continue;
        ok = usable_bits(m.bits);
        vrak_log("Found mode %dx%dx%d@%dhz%s\n", m.width, m.height, m.bits, dm.refresh_rate,
                 ok ? "" : " (ignored)");
        if (ok)
            win.modes.push_back(m);
    }
    win.modes.push_back(VrakVideoMode{0, 0, 0});
    win.modes_built = true;
}

const VrakVideoMode *vrak_video_modes()
{
    if (!win.modes_built) {
        bool was_up = SDL_WasInit(SDL_INIT_VIDEO) != 0;
        if (was_up || init_video()) {
            build_modes();
            if (!was_up)
                quit_video();
        }
    }
    return win.modes_built ? win.modes.data() : NO_MODES;
}

VrakVideoMode vrak_choose_full_screen_mode(const VrakVideoMode *modes, VrakVideoMode desktop,
                                           int width, int height)
{
    if (width <= 0 || height <= 0 || !modes)
        return desktop;
    const VrakVideoMode *best = nullptr;
    for (const VrakVideoMode *m = modes; m->width || m->height || m->bits; m++) {
        if (m->width < width || m->height < height)
            continue;
        if (!best || m->width + m->height < best->width + best->height)
            best = m;
    }
    return best ? *best : desktop;
}

// Puts the window into full screen at the mode that fits the size. Staying at the
// desktop's mode uses SDL's desktop full screen, which never touches the display.
static bool enter_full_screen(GameWindow *w, int width, int height)
{
    VrakVideoMode mode =
        vrak_choose_full_screen_mode(vrak_video_modes(), win.desktop, width, height);
    int result;
    if (same_mode(mode, win.desktop)) {
        result = SDL_SetWindowFullscreen(w->sdl_window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    } else {
        SDL_DisplayMode want = win.desktop_sdl;
        want.w = mode.width;
        want.h = mode.height;
        SDL_DisplayMode got;
        if (!SDL_GetClosestDisplayMode(0, &want, &got))
            got = want;
        SDL_SetWindowDisplayMode(w->sdl_window, &got);
        result = SDL_SetWindowFullscreen(w->sdl_window, SDL_WINDOW_FULLSCREEN);
    }
    if (result != 0) {
        vrak_log("Can't switch to full screen: %.900s\n", SDL_GetError());
        return false;
    }
    w->full_screen = true;
    w->full_screen_width = mode.width;
    w->full_screen_height = mode.height;
    return true;
}

static void desktop_size(int *width, int *height)
{
    *width = win.desktop.width > 0 ? win.desktop.width : 640;
    *height = win.desktop.height > 0 ? win.desktop.height : 480;
}

static void set_gl_attributes(int colour_bits, int alpha_bits, int depth_bits, int stencil_bits,
                              int accum_bits)
{
    int r = 8, g = 8, b = 8;
    if (colour_bits == 16) {
        r = 5, g = 6, b = 5;
    } else if (colour_bits == 15) {
        r = 5, g = 5, b = 5;
    } else if (colour_bits == 8) {
        r = 3, g = 3, b = 2;
    }
    // 32 colour bits mean 24 of colour and no alpha unless alpha is asked for.
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, r);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, g);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, b);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha_bits > 0 ? alpha_bits : 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits > 0 ? depth_bits : 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil_bits > 0 ? stencil_bits : 0);
    int accum = accum_bits > 0 ? accum_bits / 4 : 0;
    SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // The renderer is OpenGL 1.x with ARB extensions: a core profile would lack it.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
}

static void fail_window(GameWindow *w, const char *text)
{
    vrak_error(text);
    vrak_log("SDL: %.900s\n", SDL_GetError());
    if (w->sdl_window) {
        vrak_log("Destroying window\n");
        SDL_DestroyWindow(w->sdl_window);
    }
    if (w->cursor)
        SDL_FreeCursor(w->cursor);
    quit_video();
    delete w;
}

GameWindow *vrak_open_gl_window(const char *title, int width, int height, int flags, int alpha_bits,
                                int depth_bits, int stencil_bits, int accum_bits)
{
    if (!win.options_logged) {
        bool threaded = vrak_option_bool("threaded", 0) != 0;
        vrak_log("Options:\n");
        vrak_log("%10s [%s]\n", "threaded:", threaded ? "on" : "off");
        if (threaded)
            vrak_log("Window messages stay on the main thread (SDL pumps them on the "
                     "window's thread): running unthreaded\n");
        win.options_logged = true;
    }
    if (!init_video()) {
        vrak_error("Can't create window!");
        vrak_log("SDL: %.900s\n", SDL_GetError());
        return nullptr;
    }
    build_modes();

    GameWindow *w = new GameWindow{};
    w->title = title ? title : "";
    w->requested_width = width;
    w->requested_height = height;
    w->colour_bits = flags & 0xFF;
    set_gl_attributes(w->colour_bits, alpha_bits, depth_bits, stencil_bits, accum_bits);

    vrak_log("Creating window\n");
    bool full = (flags & VRAK_FULL_SCREEN) != 0;
    int cw = width, ch = height;
    if (cw <= 0 || ch <= 0)
        desktop_size(&cw, &ch);
    Uint32 window_flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE;
    if (full) {
        // Created as a window of the mode's size, then switched, so that the mode
        // choice is the same as for a later switch.
        VrakVideoMode mode =
            vrak_choose_full_screen_mode(vrak_video_modes(), win.desktop, width, height);
        if (mode.width > 0 && mode.height > 0)
            cw = mode.width, ch = mode.height;
    }
    w->sdl_window = SDL_CreateWindow(w->title.c_str(), SDL_WINDOWPOS_CENTERED,
                                     SDL_WINDOWPOS_CENTERED, cw, ch, window_flags);
    if (!w->sdl_window) {
        fail_window(w, "Can't create window!");
        return nullptr;
    }
    if (full)
        enter_full_screen(w, width, height);
    w->cursor = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_CROSSHAIR);
    if (w->cursor)
        SDL_SetCursor(w->cursor);
    SDL_RaiseWindow(w->sdl_window);

    vrak_alias_quietly("cursor-left", "Mouse Left");
    vrak_alias_quietly("cursor-middle", "Mouse Middle");
    vrak_alias_quietly("cursor-right", "Mouse Right");
    vrak_alias_quietly("cursor-x", "cursor.axis[0]");
    vrak_alias_quietly("cursor-y", "cursor.axis[1]");

    vrak_log("Creating OpenGL context\n");
    w->gl_context = SDL_GL_CreateContext(w->sdl_window);
    if (!w->gl_context) {
        fail_window(w, "Couldn't create OpenGL context");
        return nullptr;
    }
    SDL_GetWindowSize(w->sdl_window, &w->client_width, &w->client_height);
    SDL_StartTextInput();
    return w;
}

void vrak_close_gl_window(GameWindow *window)
{
    if (!window)
        return;
    if (window->gl_context) {
        vrak_log("Deleting OpenGL context\n");
        SDL_GL_MakeCurrent(window->sdl_window, nullptr);
        SDL_GL_DeleteContext(window->gl_context);
    }
    vrak_log("Closing input devices\n");
    vrak_log("Destroying window\n");
    // Destroying a full-screen window gives the display its desktop mode back.
    SDL_StopTextInput();
    SDL_DestroyWindow(window->sdl_window);
    if (window->cursor)
        SDL_FreeCursor(window->cursor);
    quit_video();
    vrak_log("Window shutdown complete\n");
    delete window;
}

bool vrak_begin_frame(GameWindow *window, int *width, int *height)
{
    if (!window || !window->gl_context || window->suspended)
        return false;
    if (SDL_GetWindowFlags(window->sdl_window) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN))
        return false;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window->sdl_window, &w, &h);
    if (w <= 0 || h <= 0)
        return false;
    if (width)
        *width = w;
    if (height)
        *height = h;
    return true;
}

bool vrak_end_frame(GameWindow *window)
{
    if (!window || !window->gl_context)
        return false;
    SDL_GL_SwapWindow(window->sdl_window);
    return true;
}

void vrak_set_display(GameWindow *window, int width, int height, bool full_screen)
{
    if (!window)
        return;
    // No frame may begin half-way through the switch.
    window->suspended = true;
    if (full_screen) {
        enter_full_screen(window, width, height);
    } else {
        if (SDL_SetWindowFullscreen(window->sdl_window, 0) != 0)
            vrak_log("Can't leave full screen: %.900s\n", SDL_GetError());
        window->full_screen = false;
        int cw = width, ch = height;
        if (cw <= 0 || ch <= 0)
            desktop_size(&cw, &ch);
        SDL_SetWindowSize(window->sdl_window, cw, ch);
        SDL_SetWindowPosition(window->sdl_window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
        SDL_ShowWindow(window->sdl_window);
    }
    SDL_GetWindowSize(window->sdl_window, &window->client_width, &window->client_height);
    window->suspended = false;
}

bool vrak_is_full_screen(const GameWindow *window)
{
    return window && window->full_screen;
}

// SDL stamps events with 32-bit milliseconds of its own tick counter, which runs
// on CLOCK_MONOTONIC_RAW and so drifts from vrak_clock over a long session. Each
// pump therefore anchors both clocks afresh and dates an event by its age: window
// events then sort with every other source and never lie in the future.
struct PumpAnchor {
    int64_t clock_us;
    Uint64 ticks_ms;
};

static VrakTime event_time(const PumpAnchor &anchor, Uint32 timestamp)
{
    // The unsigned 32-bit difference stays right across the counter's wrap.
    Uint32 age_ms = (Uint32)anchor.ticks_ms - timestamp;
    if (age_ms > 0x7FFFFFFFu) // stamped after the anchor was taken
        age_ms = 0;
    return vrak_micros_to_time(anchor.clock_us - (int64_t)age_ms * 1000);
}

// Keys that type a control character, as the menus and chat line expect.
static int control_character(SDL_Scancode scancode)
{
    switch (scancode) {
    case SDL_SCANCODE_TAB:
        return 9;
    case SDL_SCANCODE_BACKSPACE:
        return 8;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER:
        return 13;
    case SDL_SCANCODE_ESCAPE:
        return 27;
    default:
        return 0;
    }
}

static int mouse_code(Uint8 button)
{
    switch (button) {
    case SDL_BUTTON_LEFT:
        return VRAK_MOUSE_LEFT;
    case SDL_BUTTON_MIDDLE:
        return VRAK_MOUSE_MIDDLE;
    case SDL_BUTTON_RIGHT:
        return VRAK_MOUSE_RIGHT;
    default:
        return 0;
    }
}

static void window_event(GameWindow *w, const SDL_WindowEvent &e, const PumpAnchor &anchor,
                         bool *close_seen)
{
    switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
        // The window stays open: the game decides what closing means.
        vrak_post_event(VRAK_CLOSE, true, vrak_micros_to_time(anchor.clock_us));
        *close_seen = true;
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        w->client_width = e.data1;
        w->client_height = e.data2;
        vrak_log("WM_SIZE message %dx%d\n", e.data1, e.data2);
        break;
    default:
        break;
    }
}

void vrak_window_pump(GameWindow *window)
{
    if (!window || !window->sdl_window)
        return;
    bool close_seen = false;
    // Messages get their SDL stamps while being pumped, so the anchor comes after.
    SDL_PumpEvents();
    PumpAnchor anchor{vrak_time_to_micros(vrak_clock()), SDL_GetTicks64()};
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            bool down = e.type == SDL_KEYDOWN;
            VrakTime t = event_time(anchor, e.key.timestamp);
            int set1 = vrak_scancode_to_set1(e.key.keysym.scancode);
            // Held keys repeat; the game wants one press and one release.
            if (set1 && !e.key.repeat)
                vrak_post_event(VRAK_KEY_BASE + set1, down, t);
            int c = control_character(e.key.keysym.scancode);
            if (c && down)
                vrak_post_event(c, true, t);
            break;
        }
        case SDL_TEXTINPUT: {
            VrakTime t = event_time(anchor, e.text.timestamp);
            for (const char *p = e.text.text; *p; p++)
                vrak_post_event((unsigned char)*p, true, t);
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            int code = mouse_code(e.button.button);
            if (code)
                vrak_post_event(code, e.type == SDL_MOUSEBUTTONDOWN,
                                event_time(anchor, e.button.timestamp));
            break;
        }
        case SDL_WINDOWEVENT:
            window_event(window, e.window, anchor, &close_seen);
            break;
        case SDL_QUIT:
            // SDL follows the last window's close request with a quit; one close
            // press must give one event.
            if (!close_seen)
                vrak_post_event(VRAK_CLOSE, true, vrak_micros_to_time(anchor.clock_us));
            close_seen = true;
            break;
        default:
            break;
        }
    }
}

void vrak_message_box(const char *title, const char *format, ...)
{
    char text[1024];
    text[0] = 0;
    if (format) {
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    if (!title)
        title = "";
    // Standard error always gets the text: the box may have no display to go to.
    size_t len = strlen(text);
    fprintf(stderr, "%s%s", text, len && text[len - 1] == '\n' ? "" : "\n");
    fflush(stderr);
    const char *display = getenv("DISPLAY");
    const char *wayland = getenv("WAYLAND_DISPLAY");
    if ((display && display[0]) || (wayland && wayland[0])) {
        Uint32 kind =
            strcmp(title, "Error") == 0 ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
        SDL_ShowSimpleMessageBox(kind, title, text, nullptr);
    }
}
