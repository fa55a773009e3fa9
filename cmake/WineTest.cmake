# Tests that run programs of the 32-bit Windows build under Wine.
#
# The native build registers them; they find the Windows build in
# QUILLMERE_WIN32_BUILD_DIR (the win32 preset's folder by default) and are
# skipped, not failed, when it has not been built.
set(QUILLMERE_WIN32_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/win32" CACHE PATH
    "Folder of the win32 preset's build, whose programs the Wine tests run")
set(QUILLMERE_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH
    "Wine prefix used by the Wine tests")

# add_wine_test(NAME name PROGRAM relative/path.exe [ARGS ...])
# PROGRAM is relative to QUILLMERE_WIN32_BUILD_DIR. Exit code 77 means skipped.
function(add_wine_test)
  cmake_parse_arguments(WT "" "NAME;PROGRAM" "ARGS" ${ARGN})
  add_test(NAME ${WT_NAME}
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-test.sh
                   ${QUILLMERE_WINE_PREFIX}
                   ${QUILLMERE_WIN32_BUILD_DIR}/${WT_PROGRAM} ${WT_ARGS})
  set_tests_properties(${WT_NAME} PROPERTIES SKIP_RETURN_CODE 77 RESOURCE_LOCK wine
                       LABELS wine)
endfunction()
