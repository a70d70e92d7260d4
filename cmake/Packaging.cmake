# Install rules and the Debian package.
#
# The program keeps its files beside itself, so it is installed into one directory of its own
# (default /opt/vigilex). Only the desktop integration goes to the system's usual places.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /opt/vigilex CACHE PATH "Directory that holds the program and its cfg/, log/, data/" FORCE)
endif()
if(CMAKE_INSTALL_PREFIX MATCHES "^/(usr(/local)?)?/?$")
    message(WARNING "CMAKE_INSTALL_PREFIX is ${CMAKE_INSTALL_PREFIX}: the program keeps cfg/, log/, data/ and "
        "translate/ beside itself, so give it a directory of its own, e.g. -DCMAKE_INSTALL_PREFIX=/opt/vigilex")
endif()
set(VIGILEX_DATADIR /usr/share CACHE PATH "Where the menu entry and the themed icons go")
set(VIGILEX_XDG_CONFDIR /etc/xdg CACHE PATH "Where the autostart entry goes")
set(VIGILEX_GROUP vigilex CACHE STRING "Group whose members may run the protection and change its configuration")
set(VIGILEX_SERVICE_USER vigilexd CACHE STRING "System user the protection service runs as")
set(VIGILEX_UNITDIR /lib/systemd/system CACHE PATH "Where the service's systemd unit goes")

set(VIGILEX_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(VIGILEX_GENERATED_DIR ${CMAKE_BINARY_DIR}/packaging)
set(VIGILEX_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

# Menu and autostart entries, and the maintainer scripts, name the installed program by its full path.
configure_file(${VIGILEX_PACKAGING_DIR}/vigilex.desktop.in ${VIGILEX_GENERATED_DIR}/vigilex.desktop @ONLY)
configure_file(${VIGILEX_PACKAGING_DIR}/vigilex-autostart.desktop.in ${VIGILEX_GENERATED_DIR}/autostart/vigilex.desktop @ONLY)
configure_file(${VIGILEX_PACKAGING_DIR}/systemd/vigilex.service.in ${VIGILEX_GENERATED_DIR}/vigilex.service @ONLY)
configure_file(${VIGILEX_PACKAGING_DIR}/systemd/vigilex.socket.in ${VIGILEX_GENERATED_DIR}/vigilex.socket @ONLY)
configure_file(${VIGILEX_PACKAGING_DIR}/dbus/org.vigilex.Protection1.conf.in
    ${VIGILEX_GENERATED_DIR}/org.vigilex.Protection1.conf @ONLY)
configure_file(${VIGILEX_PACKAGING_DIR}/polkit/org.vigilex.protection1.policy.in
    ${VIGILEX_GENERATED_DIR}/org.vigilex.protection1.policy @ONLY)
foreach(script postinst prerm postrm)
    configure_file(${VIGILEX_PACKAGING_DIR}/debian/${script}.in ${VIGILEX_GENERATED_DIR}/debian/${script} @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

# Hardened binaries, with the flags dpkg-buildflags gives a Debian package with hardening=+all: stack protector
# strong, fortified libc calls, format checks, full RELRO with immediate binding, position-independent
# executables. Not with the sanitizers, which bring their own instrumentation; fortification needs an
# optimising build.
option(VIGILEX_HARDENING "Build with Debian's hardening flags" ON)
if(VIGILEX_HARDENING AND NOT VIGILEX_SANITIZE)
    target_compile_options(vigilex_options INTERFACE -fstack-protector-strong -Wformat -Werror=format-security
        $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-fPIE>)
    target_compile_definitions(vigilex_options INTERFACE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    target_link_options(vigilex_options INTERFACE -Wl,-z,relro -Wl,-z,now
        $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-pie>)
endif()

# Themed icons, drawn from the tray icon at build time so they always show the current shield.
set(VIGILEX_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(VIGILEX_CONVERT NAMES convert)
find_program(VIGILEX_IDENTIFY NAMES identify)
set(icon_outputs)
if(VIGILEX_CONVERT AND VIGILEX_IDENTIFY)
    foreach(size ${VIGILEX_ICON_SIZES})
        list(APPEND icon_outputs ${VIGILEX_GENERATED_DIR}/icons/hicolor/${size}x${size}/apps/vigilex.png)
    endforeach()
    add_custom_command(OUTPUT ${icon_outputs}
        COMMAND sh ${VIGILEX_PACKAGING_DIR}/make-icons.sh ${VIGILEX_CONVERT} ${VIGILEX_IDENTIFY}
                ${CMAKE_SOURCE_DIR}/image/shield.ico ${VIGILEX_GENERATED_DIR}/icons/hicolor ${VIGILEX_ICON_SIZES}
        DEPENDS ${CMAKE_SOURCE_DIR}/image/shield.ico ${VIGILEX_PACKAGING_DIR}/make-icons.sh
        COMMENT "Drawing the themed icons from image/shield.ico" VERBATIM)
    add_custom_target(vigilex_icons ALL DEPENDS ${icon_outputs})
    install(DIRECTORY ${VIGILEX_GENERATED_DIR}/icons/hicolor DESTINATION ${VIGILEX_DATADIR}/icons)
    # The drawing the icon is rendered from, for any size a desktop asks for.
    if(EXISTS ${CMAKE_SOURCE_DIR}/image/shield.svg)
        install(FILES ${CMAKE_SOURCE_DIR}/image/shield.svg DESTINATION ${VIGILEX_DATADIR}/icons/hicolor/scalable/apps
            RENAME vigilex.svg)
    endif()
else()
    message(WARNING "ImageMagick (convert, identify) not found: the package will have no menu icon")
endif()

# The window, the service and what they read beside themselves. The service gets the trap port bound from
# systemd (vigilex.socket), so neither a file nor the unit carries a capability; the window is the service's
# front end.
install(TARGETS vigilex vigilex-service vigilex-crashbox RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/cfg/vigilex.cfg DESTINATION cfg)
install(FILES ${VIGILEX_BIN_DIR}/translate/en.qm ${VIGILEX_BIN_DIR}/translate/zh.qm DESTINATION translate)
# Shipped empty so that the package owns them; the maintainer script hands them to the group.
install(DIRECTORY DESTINATION log)
install(DIRECTORY DESTINATION data)

install(FILES ${VIGILEX_GENERATED_DIR}/vigilex.desktop DESTINATION ${VIGILEX_DATADIR}/applications)
install(FILES ${VIGILEX_GENERATED_DIR}/autostart/vigilex.desktop DESTINATION ${VIGILEX_XDG_CONFDIR}/autostart)

# The shutdown permission and the change permission for the service's user and the group.
file(GLOB polkit_rules CONFIGURE_DEPENDS ${VIGILEX_PACKAGING_DIR}/polkit/*.rules)
if(polkit_rules)
    install(FILES ${polkit_rules} DESTINATION ${VIGILEX_DATADIR}/polkit-1/rules.d)
endif()
install(FILES ${VIGILEX_GENERATED_DIR}/org.vigilex.protection1.policy DESTINATION ${VIGILEX_DATADIR}/polkit-1/actions)
install(FILES ${VIGILEX_GENERATED_DIR}/org.vigilex.Protection1.conf DESTINATION ${VIGILEX_DATADIR}/dbus-1/system.d)
install(FILES ${VIGILEX_GENERATED_DIR}/vigilex.service ${VIGILEX_GENERATED_DIR}/vigilex.socket DESTINATION ${VIGILEX_UNITDIR})

# A direct `cmake --install` leaves the group, the shared directories and the capability to an explicit
# `sudo sh <build>/packaging/debian/postinst configure`: an install step must not change the machine's groups.

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vigilex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "SNMP Vigilex")
set(CPACK_PACKAGE_CONTACT "SNMP Vigilex maintainers <vigilex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "UPS protection: watches UPS SNMP cards and shuts the computer down on power failure")
# The summary above is the synopsis; this is the long text (CPack indents it and marks the empty line).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "SNMP Vigilex polls the SNMP network cards of one or more UPSes once a second,
receives their traps and informs on UDP port 162, stores every power event and
shuts the computer down in time when the mains has failed or the battery runs
low. It protects as the system service vigilex.service, also while nobody is
logged in; its window in the notification area of a desktop session is the
service's front end.

Members of the group ${VIGILEX_GROUP} may use the window and change the configuration.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Absolute destinations (menu, autostart, icons) must land in the staging tree, never in the build machine's root.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
# The SQLite driver is a plugin, adduser and deb-systemd-helper are run by the maintainer scripts:
# none of them shows up in the program's library dependencies.
set(vigilex_depends "libqt5sql5-sqlite, adduser, init-system-helpers")
find_program(VIGILEX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VIGILEX_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    string(APPEND vigilex_depends ", libqt5core5a, libqt5gui5, libqt5widgets5, libqt5network5, libqt5dbus5, libqt5sql5,"
        " libsnmp40, libxlsxwriter4, libstdc++6, libc6")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS ${vigilex_depends})
# logind and polkit carry out the shutdown; a machine without them still gets the monitoring. Qt's own Chinese
# texts (file dialogs, standard buttons) come with qttranslations5-l10n; without it only those stay English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd, dbus, polkitd, qttranslations5-l10n")
# What the package puts under /etc is the administrator's to edit (an autostart turned off for everyone
# survives an upgrade).
file(WRITE ${VIGILEX_GENERATED_DIR}/debian/conffiles "${VIGILEX_XDG_CONFDIR}/autostart/vigilex.desktop\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VIGILEX_GENERATED_DIR}/debian/postinst ${VIGILEX_GENERATED_DIR}/debian/prerm
    ${VIGILEX_GENERATED_DIR}/debian/postrm ${VIGILEX_GENERATED_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
