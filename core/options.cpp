// The command line's values and the rendering values derived from the settings.
#include "core/options.h"

static StartupOptions options;
static RenderValues render;

const StartupOptions &startup_options()
{
    return options;
}

StartupOptions &startup_options_edit()
{
    return options;
}

const RenderValues &render_values()
{
    return render;
}

RenderValues &render_values_edit()
{
    return render;
}
