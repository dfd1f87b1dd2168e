# The Debian package: both programs, their man pages, the help page, the
# desktop entry with its icon and AppStream metainfo. `cpack -G DEB` in the
# build folder makes it (scripts/package.sh does all of it).
set(TESSILON_APP_ID io.github.tessilon.Tessilon)
set(TESSILON_PACKAGING ${CMAKE_CURRENT_LIST_DIR})
# Packaging builds what it installs (scripts/package.sh names the targets),
# not the tests and fixtures besides.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# Debian wants man pages compressed, without a time stamp in the gzip header.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(TESSILON_MAN_PAGES tessilon-cli)
if(TESSILON_BUILD_GUI)
  list(APPEND TESSILON_MAN_PAGES tessilon)
endif()
set(TESSILON_MAN_OUTPUTS)
foreach(page ${TESSILON_MAN_PAGES})
  set(out ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_SOURCE_DIR}/docs/${page}.1 > ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/${page}.1)
  list(APPEND TESSILON_MAN_OUTPUTS ${out})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${TESSILON_MAN_OUTPUTS})
install(FILES ${TESSILON_MAN_OUTPUTS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TESSILON_BUILD_GUI)
  install(FILES ${TESSILON_PACKAGING}/${TESSILON_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(${TESSILON_PACKAGING}/${TESSILON_APP_ID}.metainfo.xml.in
    ${CMAKE_BINARY_DIR}/${TESSILON_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${TESSILON_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The icon is drawn once, in SVG; the PNG sizes are rendered from it.
  set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${TESSILON_PACKAGING}/${TESSILON_APP_ID}.svg DESTINATION ${icons}/scalable/apps)
  find_program(RSVG_CONVERT rsvg-convert REQUIRED)
  set(pngs)
  foreach(size 16 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${TESSILON_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${TESSILON_PACKAGING}/${TESSILON_APP_ID}.svg
      DEPENDS ${TESSILON_PACKAGING}/${TESSILON_APP_ID}.svg)
    list(APPEND pngs ${png})
    install(FILES ${png} DESTINATION ${icons}/${size}x${size}/apps)
  endforeach()
  add_custom_target(icons ALL DEPENDS ${pngs})
endif()

set(CPACK_PACKAGE_NAME tessilon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tessilon developers")
set(CPACK_PACKAGE_CONTACT "The Tessilon developers <tessilon@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds deleted files on FAT, exFAT and NTFS volumes, read-only")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 Tessilon finds deleted files on FAT12, FAT16, FAT32, exFAT and NTFS volumes
 and shows them as a folder tree with a verdict for each file, copies them out
 with a manifest of their hashes, and prints a Deleted File Report. It reads
 disks, partitions and disk images (raw, E01, VHD, VHDX, VMDK, QCOW2, split
 raw) strictly read-only. tessilon is the desktop program, tessilon-cli the
 same engine for scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries do not say: fonts that draw every script a file name
# may be in (the printed report embeds them), and the service through which
# a user opens a disk without being root.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "fonts-noto-core, fonts-droid-fallback | fonts-noto-cjk, fonts-symbola, fontconfig")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udisks2, polkitd, xdg-utils")
include(CPack)
