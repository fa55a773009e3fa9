# quillmere edit: the page that places the overlay by eye, the server on the
# loopback interface that serves it, and the work behind it. Part of the
# runner's library; included from the runner's folder, so that the page's
# generated source belongs to the same directory as the library.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

# The page's files, built into the runner: plain HTML, CSS and JavaScript,
# with no build step of their own.
set(page_folder ${CMAKE_CURRENT_LIST_DIR}/page)
set(page_files
  index.html page.css icon.svg
  main.js api.js picture_view.js playback.js render_panel.js settings_form.js
  mask_editing.js mask_geometry.js snapping.js edit_history.js)
list(TRANSFORM page_files PREPEND ${page_folder}/ OUTPUT_VARIABLE page_paths)
string(REPLACE ";" "," page_file_list "${page_files}")
set(page_source ${CMAKE_CURRENT_BINARY_DIR}/edit/page_files_data.cpp)
add_custom_command(
  OUTPUT ${page_source}
  COMMAND ${CMAKE_COMMAND} -DROOT=${page_folder} -DFILES=${page_file_list}
          -DOUTPUT=${page_source} -DHEADER=apps/quillmere/edit/page_files.h
          -DTABLE=kPageFiles -P ${CMAKE_SOURCE_DIR}/cmake/EmbedFiles.cmake
  DEPENDS ${page_paths} ${CMAKE_SOURCE_DIR}/cmake/EmbedFiles.cmake
  COMMENT "Building the edit page into the runner"
  VERBATIM)

target_sources(quillmere_runner PRIVATE
  edit/api_routes.cpp
  edit/bounded_server.cpp
  edit/edit_server.cpp
  edit/edit_session.cpp
  edit/event_feed.cpp
  edit/mask_release.cpp
  edit/page_files.cpp
  edit/picture_difference.cpp
  edit/preview_frames.cpp
  edit/preview_picture.cpp
  edit/render_process.cpp
  edit/request_checks.cpp
  edit/runner_work.cpp
  edit/session_token.cpp
  ${page_source})
target_link_libraries(quillmere_runner PRIVATE PkgConfig::HTTPLIB)
