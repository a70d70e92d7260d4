#include "app/secureexec.h"

#include <cstdlib>
#include <sys/auxv.h>

namespace {
// Variables that name a plugin, a module or a directory that code is loaded from. The platform name itself
// (QT_QPA_PLATFORM) stays: it only picks one of the plugins installed in the system's own directory.
constexpr const char *codeLoadingVariables[] = {
    "QT_PLUGIN_PATH",
    "QT_QPA_PLATFORM_PLUGIN_PATH",
    "QT_QPA_PLATFORMTHEME",
    "QT_QPA_GENERIC_PLUGINS",
    "QT_STYLE_OVERRIDE",
    "QT_IM_MODULE",
    "QT_XCB_GL_INTEGRATION",
    "QT_WAYLAND_SHELL_INTEGRATION",
    "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION",
    "QT_QPA_EGLFS_INTEGRATION",
    "GTK_MODULES",
    "GTK3_MODULES",
    "GTK_PATH",
    "GTK_IM_MODULE",
    "GTK_IM_MODULE_FILE",
    "GTK_EXE_PREFIX",
    "GIO_EXTRA_MODULES",
    "GIO_MODULE_DIR",
    "GDK_PIXBUF_MODULE_FILE",
    "GDK_PIXBUF_MODULEDIR",
    "LIBGL_DRIVERS_PATH",
    "LIBGL_DRIVERS_DIR",
    "GBM_BACKENDS_PATH",
    "__EGL_VENDOR_LIBRARY_DIRS",
    "__EGL_VENDOR_LIBRARY_FILENAMES",
    "LIBVA_DRIVERS_PATH",
    "VK_ICD_FILENAMES",
    "VK_LAYER_PATH",
};
} // namespace

bool runsWithRaisedPrivileges()
{
    return ::getauxval(AT_SECURE) != 0;
}

void dropCodeLoadingEnvironment(int &argc, char **argv)
{
    if (!runsWithRaisedPrivileges())
        return;
    for (const char *name : codeLoadingVariables)
        ::unsetenv(name);
    // The program has no options of its own; every argument would be one of Qt's (-platformpluginpath,
    // -plugin, -style, -platformtheme ...).
    if (argc > 1) {
        argc = 1;
        argv[1] = nullptr;
    }
}
