# The version header, the files a desktop installation needs (icon, desktop entry, manual pages,
# documentation) and the Debian package (CPack). The programs' install() rules sit next to
# their targets; scripts/package builds the package.
include(GNUInstallDirs)

# --- Version: project(VERSION) in the top-level CMakeLists.txt, shown by every --version -------
set(QUARNEL_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quarnelversion.h.in ${QUARNEL_GENERATED_DIR}/quarnelversion.h @ONLY)
add_library(quarnel_version INTERFACE)
target_include_directories(quarnel_version INTERFACE ${QUARNEL_GENERATED_DIR})

# --- Icon: drawn once as SVG, rendered into the PNG sizes the desktop and the window use ---------
set(QUARNEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QUARNEL_ICON_SVG ${QUARNEL_PACKAGING_DIR}/quarnel-uploader.svg)
set(QUARNEL_ICON_SIZES 16 24 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(QUARNEL_ICON_DIR ${QUARNEL_GENERATED_DIR}/icons)
set(QUARNEL_ICON_PNGS)
set(quarnel_qrc_entries)
foreach(size ${QUARNEL_ICON_SIZES})
  set(png ${QUARNEL_ICON_DIR}/${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUARNEL_ICON_DIR}
    COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${QUARNEL_ICON_SVG}
    DEPENDS ${QUARNEL_ICON_SVG}
    VERBATIM)
  list(APPEND QUARNEL_ICON_PNGS ${png})
  string(APPEND quarnel_qrc_entries "    <file>icons/${size}.png</file>\n")
endforeach()
# The window's icon, as a Qt resource (app/CMakeLists.txt compiles it).
file(CONFIGURE OUTPUT ${QUARNEL_GENERATED_DIR}/quarnel-icons.qrc
  CONTENT "<RCC>\n  <qresource prefix=\"/\">\n${quarnel_qrc_entries}  </qresource>\n</RCC>\n")
set(QUARNEL_ICON_QRC ${QUARNEL_GENERATED_DIR}/quarnel-icons.qrc)

# --- Manual pages and the Debian changelog, compressed as Debian installs them -----------------
find_program(GZIP gzip REQUIRED)
set(QUARNEL_MAN_PAGES quarnel-uploader quarnel-cli quarnel-sim)
set(quarnel_compressed)
function(quarnel_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND ${GZIP} -9 --no-name --stdout ${source} > ${target}
    DEPENDS ${source}
    VERBATIM)
endfunction()
foreach(page ${QUARNEL_MAN_PAGES})
  quarnel_gzip(${QUARNEL_PACKAGING_DIR}/${page}.1 ${QUARNEL_GENERATED_DIR}/man/${page}.1.gz)
  list(APPEND quarnel_compressed ${QUARNEL_GENERATED_DIR}/man/${page}.1.gz)
endforeach()
file(MAKE_DIRECTORY ${QUARNEL_GENERATED_DIR}/man ${QUARNEL_GENERATED_DIR}/doc)
configure_file(${QUARNEL_PACKAGING_DIR}/changelog.in ${QUARNEL_GENERATED_DIR}/changelog @ONLY)
quarnel_gzip(${QUARNEL_GENERATED_DIR}/changelog ${QUARNEL_GENERATED_DIR}/doc/changelog.gz)
quarnel_gzip(${PROJECT_SOURCE_DIR}/README.md ${QUARNEL_GENERATED_DIR}/doc/README.md.gz)
list(APPEND quarnel_compressed ${QUARNEL_GENERATED_DIR}/doc/changelog.gz ${QUARNEL_GENERATED_DIR}/doc/README.md.gz)
add_custom_target(quarnel_desktop_files ALL DEPENDS ${QUARNEL_ICON_PNGS} ${quarnel_compressed})

# --- What the package holds besides the programs ----------------------------------------------
set(QUARNEL_PACKAGE_NAME quarnel-uploader)
set(quarnel_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QUARNEL_PACKAGE_NAME})
install(FILES ${QUARNEL_PACKAGING_DIR}/quarnel-uploader.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${QUARNEL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
foreach(size ${QUARNEL_ICON_SIZES})
  install(FILES ${QUARNEL_ICON_DIR}/${size}.png
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
    RENAME quarnel-uploader.png)
endforeach()
foreach(page ${QUARNEL_MAN_PAGES})
  install(FILES ${QUARNEL_GENERATED_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${QUARNEL_PACKAGING_DIR}/copyright
              ${QUARNEL_GENERATED_DIR}/doc/changelog.gz
              ${QUARNEL_GENERATED_DIR}/doc/README.md.gz
        DESTINATION ${quarnel_docdir})

# --- The board platform for Debian's Arduino IDE (1.8.19): the templates of ide/ naming the
# packaged quarnel-cli, where that IDE loads its own platforms; quarnel-cli ide-setup writes the same
# files, naming itself, into a sketchbook.
set(QUARNEL_PACKAGE_PREFIX /usr)
set(QUARNEL_CLI ${QUARNEL_PACKAGE_PREFIX}/${CMAKE_INSTALL_BINDIR}/quarnel-cli)
set(QUARNEL_VERSION ${PROJECT_VERSION})
foreach(file boards.txt platform.txt)
  configure_file(${PROJECT_SOURCE_DIR}/ide/${file} ${QUARNEL_GENERATED_DIR}/ide/${file} @ONLY)
  install(FILES ${QUARNEL_GENERATED_DIR}/ide/${file}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/arduino/hardware/quarnel/avr)
endforeach()

# --- The Debian package --------------------------------------------------------------------------
# cpack builds only what the package holds (scripts/package builds those targets first).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUARNEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quarnel developers <quarnel@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "program AVR boards over Wi-Fi serial modules")
# The synopsis above is the first line; CPack indents these lines as the control file wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Writes firmware into AVR boards (UNO, MEGA2560) that sit behind Wi-Fi serial
modules, through the boards' own serial bootloaders (STK500 version 1 and 2).
A window lists every module announcing itself on the local network and
uploads to several boards at once; quarnel-cli does the same from scripts;
quarnel-sim simulates modules and boards running their real bootloaders.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies come from the programs themselves (Qt, libsimavr, libelf, libc).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${QUARNEL_PACKAGE_PREFIX})
# build/quarnel-uploader_VERSION_ARCH.deb
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
