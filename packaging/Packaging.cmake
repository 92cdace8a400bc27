# SPDX-License-Identifier: GPL-3.0-or-later
# Install rules and the Debian package (CPack), included last by the top-level
# CMakeLists.txt so that every program target already exists.
#
# Lintian on the package (scripts/package.sh runs it) reports no errors and no
# warnings. Points that needed care, so they are not undone by accident:
# - binaries are stripped by CPack (RelWithDebInfo carries debug info, which
#   would give "unstripped-binary-or-object");
# - man pages and the changelog are compressed with "gzip -9n" (no name or
#   time stamp, else "package-contains-timestamped-gzip");
# - the version has no Debian revision, so this is a native package and the
#   changelog is /usr/share/doc/<package>/changelog.gz in Debian format;
# - scripts/package.sh builds with dpkg-buildflags so that the binaries carry
#   the usual hardening (relro, bindnow, fortify, stack protector).
# Left alone, at lintian's info level only: "binary-has-unneeded-section
# .comment" (CPack's strip keeps the compiler's version note; harmless), and
# the hardening tags when the test command packages the default build.

include(GNUInstallDirs)

set(NX_PACKAGE_NAME nx260-config)
# The component id names the desktop entry, the icon and the metainfo; it stays
# fixed once released (software centres track the program by it). Its domain,
# like the home page and the maintainer address, is the project's .example
# placeholder until the project has a public home; appstreamcli notes (info
# level only) that it does not know that top-level domain.
set(NX_APP_ID example.nx260config.NX260Config)
set(NX_HOMEPAGE "https://nx260config.example/" CACHE STRING
    "Project home page, named in the package and the AppStream metainfo")
set(NX_SCREENSHOT_URL "${NX_HOMEPAGE}docs/screenshot.png" CACHE STRING
    "Published copy of docs/screenshot.png, referenced by the AppStream metainfo")
set(NX_MAINTAINER "NX260 Config maintainers <maintainers@users.noreply.c-seed-3940aa34.example>")
# Date of this release in the metainfo and the Debian changelog.
set(NX_RELEASE_DATE 2026-12-09)
set(NX_RELEASE_DATE_RFC2822 "Wed, 09 Dec 2026 00:00:00 +0000")

# Installing (and so packaging) needs only the programs and the files below,
# which scripts/package.sh builds as nx_package_contents; without this, CPack
# would first build every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(pkg_src ${CMAKE_CURRENT_LIST_DIR})
set(pkg_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${NX_PACKAGE_NAME})
file(MAKE_DIRECTORY ${pkg_out})

# --- programs -----------------------------------------------------------------
set(nx_programs nx260-hgw nx260-gateway-sim)
if(TARGET nx260ctl)
  list(APPEND nx_programs nx260ctl)
endif()
install(TARGETS ${nx_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window names its desktop entry and themed icon by the component id.
target_compile_definitions(nx260-hgw PRIVATE NX_APP_ID="${NX_APP_ID}")

# --- generated files: man pages, changelog, metainfo, icon sizes -----------------
find_program(NX_GZIP gzip REQUIRED)
set(nx_generated)

set(nx_man_pages ${pkg_src}/man/nx260-hgw.1 ${pkg_src}/man/nx260-gateway-sim.1)
if(EXISTS ${PROJECT_SOURCE_DIR}/nx260ctl/nx260ctl.1)
  list(APPEND nx_man_pages ${PROJECT_SOURCE_DIR}/nx260ctl/nx260ctl.1)
endif()
foreach(page ${nx_man_pages})
  get_filename_component(name ${page} NAME)
  set(gz ${pkg_out}/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${NX_GZIP} -9nc ${page} > ${gz}
    DEPENDS ${page} VERBATIM)
  list(APPEND nx_generated ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

configure_file(${pkg_src}/changelog.in ${pkg_out}/changelog @ONLY)
add_custom_command(OUTPUT ${pkg_out}/changelog.gz
  COMMAND ${NX_GZIP} -9nc ${pkg_out}/changelog > ${pkg_out}/changelog.gz
  DEPENDS ${pkg_out}/changelog VERBATIM)
list(APPEND nx_generated ${pkg_out}/changelog.gz)
install(FILES ${pkg_out}/changelog.gz ${pkg_src}/copyright DESTINATION ${doc_dir})

set(NX_PROVIDES_BINARIES)
foreach(program ${nx_programs})
  string(APPEND NX_PROVIDES_BINARIES "    <binary>${program}</binary>\n")
endforeach()
string(STRIP "${NX_PROVIDES_BINARIES}" NX_PROVIDES_BINARIES)
set(NX_PROVIDES_BINARIES "    ${NX_PROVIDES_BINARIES}")
configure_file(${pkg_src}/nx260-config.metainfo.xml.in
               ${pkg_out}/${NX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${pkg_out}/${NX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

configure_file(${pkg_src}/nx260-config.desktop.in ${pkg_out}/${NX_APP_ID}.desktop @ONLY)
install(FILES ${pkg_out}/${NX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(icon_root ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${pkg_src}/icon.svg DESTINATION ${icon_root}/scalable/apps
        RENAME ${NX_APP_ID}.svg)
# The PNG sizes are rendered from the SVG, so the drawing has one source.
find_program(NX_RSVG_CONVERT rsvg-convert)
if(NX_RSVG_CONVERT)
  foreach(size 16 24 32 48 64 128 256)
    set(png ${pkg_out}/icons/${size}/${NX_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}/icons/${size}
      COMMAND ${NX_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${pkg_src}/icon.svg
      DEPENDS ${pkg_src}/icon.svg VERBATIM)
    list(APPEND nx_generated ${png})
    install(FILES ${png} DESTINATION ${icon_root}/${size}x${size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert (librsvg2-bin) not found: the package gets the SVG icon only")
endif()

add_custom_target(nx_package_files ALL DEPENDS ${nx_generated})
# Everything the package holds, so scripts/package.sh builds no tests.
add_custom_target(nx_package_contents)
add_dependencies(nx_package_contents nx_package_files ${nx_programs})

# --- Debian package ------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${NX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "NX260 Config developers")
set(CPACK_PACKAGE_CONTACT ${NX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for the NX260-HGW HART gateway")
# CPack indents every line and turns the empty line into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"NX260 Config sets up the NX260-HGW field gateway, which connects up to four
HART instruments to a MODBUS network, over a serial port. It reads and sets
the gateway's system parameters and instrument table, and in transparent
mode sends HART command 0, command 3 and hand-typed HART frames through the
gateway, showing the raw replies and the decoded values.

The package also holds nx260-gateway-sim, a simulated gateway on a
pseudo-terminal for trying the tool without hardware.")
if(TARGET nx260ctl)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "
nx260ctl does the same configuration work from the command line.")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${NX_HOMEPAGE})
# Dependencies come from the libraries the binaries link (Qt, and whatever
# later features add), as dpkg-shlibdeps computes them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Only this package's own files; /usr, /usr/bin and the rest belong to base-files.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

include(CPack)
