// The title screen. The title image, the message text and the version label need
// the image cache and the fonts; until they exist the screen is plain black.
#include "app/title.h"

#include "platform/vrak.h"
#include "render/gl_setup.h"

void draw_title_screen(const char *message)
{
    clear_frame(0, 0, 0);
    if (message && message[0])
        vrak_log("%s\n", message);
}
