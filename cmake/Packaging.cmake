# Installation and the Debian package. Everything that names a release takes its version
# from project() and its date and note from here.
include(GNUInstallDirs)

set(VARNELLO_RELEASE_DATE 2026-12-09)
set(VARNELLO_RELEASE_NOTE "First release.")
# The project's own domain, reversed, with its hyphen made an underscore as AppStream asks.
# Placeholders until the project has a home (docs/installing.md says what to fill in then); no
# placeholder address goes where software centres show it.
set(VARNELLO_APPSTREAM_ID example.c_seed_58b273e4.varnello)
set(CPACK_PACKAGE_CONTACT "Varnello maintainers <maintainers@users.noreply.c-seed-58b273e4.example>")

set(packaged ${CMAKE_CURRENT_BINARY_DIR}/packaged)

# The program, its launcher and the command for scripts, without the compiler's note of
# itself (.comment), as Debian strips it; the desktop entry, the disk image kinds it opens, and the icon at each
# size it is drawn in.
install(TARGETS varnello varnello-open varnello-options RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(program varnello varnello-open varnello-options)
  install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\" COMMAND_ERROR_IS_FATAL ANY)")
endforeach()
install(FILES resources/varnello.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/mime/varnello.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
foreach(size 16 22 32 48 64 128)
  install(FILES resources/hicolor/${size}x${size}/apps/varnello.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

configure_file(resources/varnello.metainfo.xml.in ${packaged}/${VARNELLO_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${packaged}/${VARNELLO_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian's machine-readable copyright file carries the licence's permission notice as its
# text, each line indented and blank lines as ".".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
file(READ LICENSE licence)
string(FIND "${licence}" "Permission is hereby granted" notice)
string(SUBSTRING "${licence}" ${notice} -1 licence)
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " VARNELLO_LICENSE_TEXT " ${licence}")
configure_file(resources/debian/copyright.in ${packaged}/copyright @ONLY)
install(FILES ${packaged}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

execute_process(COMMAND date --utc --rfc-email --date=${VARNELLO_RELEASE_DATE}
  OUTPUT_VARIABLE VARNELLO_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
configure_file(resources/debian/changelog.in ${packaged}/changelog @ONLY)
configure_file(resources/varnello.1.in ${packaged}/varnello.1 @ONLY)
configure_file(launcher/varnello-open.1.in ${packaged}/varnello-open.1 @ONLY)
configure_file(cli/varnello-options.1.in ${packaged}/varnello-options.1 @ONLY)

# Compressed as Debian keeps them; -n leaves out the time, so a rebuild gives the same bytes.
foreach(page changelog varnello.1 varnello-open.1 varnello-options.1)
  add_custom_command(OUTPUT ${packaged}/${page}.gz
    COMMAND gzip -9nkf ${packaged}/${page}
    DEPENDS ${packaged}/${page}
    VERBATIM)
  list(APPEND compressed ${packaged}/${page}.gz)
endforeach()
add_custom_target(varnello_packaged ALL DEPENDS ${compressed})
install(FILES ${packaged}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${packaged}/varnello.1.gz ${packaged}/varnello-open.1.gz ${packaged}/varnello-options.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# A Debian package: make package, or cpack --config CPackConfig.cmake in the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnello)
set(CPACK_PACKAGE_VENDOR "Varnello contributors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor for the start-up options in a Windows 95 msdos.sys")
set(CPACK_PACKAGE_DESCRIPTION [=[
Varnello edits the fifteen keys of the section [Options] in the msdos.sys of a
Windows 95 boot drive: the start-up menu and its delays, dual boot with an
earlier MS-DOS, the start-up keys, the logo, the DriveSpace and DoubleSpace
drivers, networking, double buffering and others. One window shows them as
check boxes and numbers and explains each on a status line.

The boot drive may be a mounted partition, the drive C of a Wine prefix, or
the disk image of an emulator or virtual machine, which is edited without
mounting it and without root.

Only the values of those keys change: every other byte of the file stays as
it was, each write replaces the file atomically, and a write that fails is
reported as such.

The command varnello-options prints and sets the same keys from scripts,
with the same rules and the same safety, and needs no display.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows are laid out for Arial's metrics, which Liberation Sans shares; the Qt
# libraries come from dpkg-shlibdeps. Disk images need mtools, images in QEMU's own formats
# (the desktop entry offers them all) qemu-storage-daemon and FUSE; a Wayland session
# without XWayland needs Qt's Wayland platform.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation2)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mtools, qemu-system-common, fuse3, qt6-wayland")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
