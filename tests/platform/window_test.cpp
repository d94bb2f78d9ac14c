// One real window under X (Xvfb in the test run): a compatibility-profile GL
// context, a frame, the display modes, the pointer axes, the key names SDL adds,
// and SDL's input events arriving in the queue with the game's codes and clock.
#include "platform/vrak.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

static std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

static void push_key(SDL_Scancode scancode, bool down, bool repeat)
{
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat;
    e.key.keysym.scancode = scancode;
    SDL_PushEvent(&e);
}

static std::vector<VrakEvent> drain(GameWindow *window)
{
    std::vector<VrakEvent> events;
    VrakEvent e;
    while (vrak_poll_event(window, &e))
        events.push_back(e);
    return events;
}

TEST(WindowTest, OpensDrawsAndCloses)
{
    const char *display = getenv("DISPLAY");
    if (!display || !display[0])
        GTEST_SKIP() << "no DISPLAY";

    char tmpl[] = "/tmp/vrak-window-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string log = std::string(tmpl) + "/lastlog.txt";
    setenv("HOME", tmpl, 1);
    setenv("XDG_DATA_HOME", tmpl, 1);
    setenv("QK_HOME", tmpl, 1);
    unsetenv("VRAK_LOGFILE");
    setenv("VRAK_OPTIONS", "[threaded:on]", 1);
    vrak_log_reset();
    vrak_log("VRAK_LOGFILE=%s", log.c_str());
    vrak_clear_events();

    GameWindow *window = vrak_open_gl_window("Ruttmoor test", 320, 240, 32, 0, 24, 0, 0);
    ASSERT_NE(window, nullptr) << vrak_last_error();
    EXPECT_FALSE(vrak_is_full_screen(window));

    int width = 0, height = 0;
    ASSERT_TRUE(vrak_begin_frame(window, &width, &height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    const GLubyte *version = glGetString(GL_VERSION);
    ASSERT_NE(version, nullptr);
    // Immediate mode exists only in a compatibility context.
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBegin(GL_TRIANGLES);
    glVertex2f(0, 0);
    glVertex2f(1, 0);
    glVertex2f(0, 1);
    glEnd();
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR) << version;
    EXPECT_TRUE(vrak_end_frame(window));

    // Desktop mode first, only usable depths, no duplicates, zero at the end.
    const VrakVideoMode *modes = vrak_video_modes();
    ASSERT_GT(modes[0].width, 0);
    int count = 0;
    for (const VrakVideoMode *m = modes; m->width; m++, count++) {
        EXPECT_TRUE(m->bits == 8 || m->bits == 15 || m->bits == 16 || m->bits == 24 ||
                    m->bits == 32);
        for (const VrakVideoMode *n = modes; n < m; n++)
            EXPECT_FALSE(n->width == m->width && n->height == m->height && n->bits == m->bits);
    }
    EXPECT_EQ(modes[count].height, 0);
    EXPECT_EQ(modes[count].bits, 0);

    // The fixed aliases, and the pointer axes under both spellings.
    EXPECT_EQ(vrak_key_code(window, "cursor-right"), VRAK_MOUSE_RIGHT);
    const char *axis_names[] = {"cursor-x", "cursor-y", "cursor.axis[1]", "cursor axis 0"};
    for (const char *name : axis_names) {
        VrakAxis *axis = vrak_axis_open(window, name);
        EXPECT_NE(axis, nullptr) << name;
        EXPECT_GE(vrak_axis_read(axis), 0);
        vrak_axis_close(axis);
    }
    const char *bad_axes[] = {"cursor.axis[2]", "cursor.axis[-1]",  "cursor.axis[0",
                              "Mouse.axis[0]",  "Joystick1 axis 0", "cursor"};
    for (const char *name : bad_axes)
        EXPECT_EQ(vrak_axis_open(window, name), nullptr) << name;

    // SDL's own key names now come first, and still lead back to their keys.
    char name[64];
    ASSERT_TRUE(vrak_key_name(window, 0x101C, name, sizeof name));
    EXPECT_EQ(vrak_key_code(window, name), 0x101C);
    EXPECT_EQ(vrak_key_code(window, "Enter"), 0x101C);
    for (int code = VRAK_KEY_BASE; code < VRAK_KEY_BASE + 512; code++) {
        ASSERT_TRUE(vrak_key_name(window, code, name, sizeof name));
        EXPECT_EQ(vrak_key_code(window, name), code) << name;
    }

    // SDL events become the game's codes, stamped on the game's clock.
    drain(window);
    VrakTime before = vrak_clock();
    push_key(SDL_SCANCODE_X, true, false);
    push_key(SDL_SCANCODE_X, true, true);
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    strcpy(text.text.text, "x!");
    SDL_PushEvent(&text);
    push_key(SDL_SCANCODE_X, false, false);
    push_key(SDL_SCANCODE_KP_ENTER, true, false);
    SDL_Event click{};
    click.type = SDL_MOUSEBUTTONDOWN;
    click.button.button = SDL_BUTTON_RIGHT;
    click.button.state = SDL_PRESSED;
    SDL_PushEvent(&click);
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    close.window.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    SDL_PushEvent(&close);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);

    std::vector<VrakEvent> events = drain(window);
    VrakTime after = vrak_clock();
    struct Expected {
        int code;
        bool pressed;
    } expected[] = {
        {0x102D, true},           {'x', true},        {'!', true},
        {0x102D, false},          {0x111C, true},     {13, true},
        {VRAK_MOUSE_RIGHT, true}, {VRAK_CLOSE, true},
    };
    ASSERT_EQ(events.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < events.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].code, expected[i].code);
        EXPECT_EQ(events[i].pressed, expected[i].pressed);
        // SDL stamps in whole milliseconds.
        EXPECT_GE(vrak_time_to_seconds(events[i].time), vrak_time_to_seconds(before) - 0.002);
        EXPECT_LE(vrak_time_to_seconds(events[i].time), vrak_time_to_seconds(after) + 0.002);
    }

    vrak_close_gl_window(window);
    vrak_log_reset();
    unsetenv("VRAK_OPTIONS");

    std::string text_log = read_file(log);
    const char *lines[] = {
        "] Options:\n",          "]  threaded: [on]\n",          "] Registry mode is ",
        "] Creating window\n",   "] Creating OpenGL context\n",  "] Deleting OpenGL context\n",
        "] Destroying window\n", "] Window shutdown complete\n",
    };
    size_t at = 0;
    for (const char *line : lines) {
        size_t found = text_log.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << "\n" << text_log;
        if (found != std::string::npos)
            at = found;
    }
    std::filesystem::remove_all(tmpl);
}
