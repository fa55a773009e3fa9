# What `cmake --install` puts under the prefix beyond the runner's own files
# (apps/quillmere installs the program, its manual page and completions),
# and the Debian package that `cpack -G DEB` makes of it all.

include(GNUInstallDirs)

# The 32-bit Windows module, when the win32 preset has built it by the time
# of the install: the plug-in itself, a data file here for a Windows host
# (or one under Wine) to be pointed at.
set(QUILLMERE_WIN32_MODULE "${PROJECT_SOURCE_DIR}/build/win32/module/quillmere.vdf"
    CACHE FILEPATH "The module of the win32 build, installed when it exists")
install(CODE "
  if(EXISTS \"${QUILLMERE_WIN32_MODULE}\")
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/quillmere\"
         TYPE FILE RENAME quillmere.vdf FILES \"${QUILLMERE_WIN32_MODULE}\")
  endif()")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillmere developers <quillmere@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "lays a second video into a rectangle of every frame of a video")
set(CPACK_PACKAGE_DESCRIPTION
    "quillmere composites video files through FFmpeg's libraries: the frames of a \
second video go into a rectangle of every frame of the main one, with a \
border, a soft drop shadow in six styles, 1:1 copy or nearest/bilinear \
stretch, a frame range, offset, repeat and reverse.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies are the shared libraries the runner links, as
# dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
include(CPack)
