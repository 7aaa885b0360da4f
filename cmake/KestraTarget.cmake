# Shared compile settings for every target of the project.
function(kestra_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KESTRA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(KESTRA_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# One static library per folder below src/. Library code spells out every
# conversion between bytes and text.
function(kestra_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  target_compile_definitions(${name} PRIVATE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
  kestra_warnings(${name})
endfunction()

# What a test run from the build tree needs in its environment: the mail codec
# library lies in <build>/lib/kestra, not where the loader looks from a test's
# folder (src/mimecodec).
set(KESTRA_TEST_LIBRARIES "KESTRA_MIME_LIBRARY=$<TARGET_FILE:kestra_mimecodec>")

# A QtTest executable registered with CTest; runs offscreen.
function(kestra_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;FIXTURES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_DEPENDS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  kestra_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;LANG=C.UTF-8;XDG_DATA_DIRS=${PROJECT_BINARY_DIR}/share:/usr/local/share:/usr/share;${KESTRA_TEST_LIBRARIES}"
    TIMEOUT 600)
  add_dependencies(${name} kestra_mimecodec)
  if(ARG_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# For a test that loads pages in the web engine. It links the web engine
# library, which the program itself loads when a page is first shown, and
# keeps it even where it calls none of its functions: the loader then finds
# the library's entry point in the test.
function(kestra_loads_web_pages name)
  target_link_libraries(${name} PRIVATE kestra_web)
  target_link_options(${name} PRIVATE "LINKER:--no-as-needed")
  kestra_loads_web_pages_from_file(${name})
endfunction()

# For a test whose web engine library is loaded from its file: in the
# sanitizer build, Debian's libQt6WebEngineCore (Chromium's own sized delete,
# raised when a page that has loaded is closed) reports a new-delete-type
# mismatch inside the library. That one check is switched off for such tests;
# every other check stays on.
function(kestra_loads_web_pages_from_file name)
  if(KESTRA_SANITIZE)
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::new_delete_type_mismatch=0")
  endif()
endfunction()

# Fails the configuration when `target` reaches one of the `forbidden` libraries
# through its link dependencies: the logic libraries must not use the widgets.
function(kestra_forbid_links target)
  set(forbidden ${ARGN})
  set(queue ${target})
  set(seen "")
  while(queue)
    list(POP_FRONT queue current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(aliased ${current} ALIASED_TARGET)
    if(aliased)
      list(APPEND queue ${aliased})
    endif()
    foreach(lib ${forbidden})
      if(current STREQUAL lib OR aliased STREQUAL lib)
        message(FATAL_ERROR "${target} must not link ${lib} (reached through ${current})")
      endif()
    endforeach()
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(deps ${current} ${property})
      if(deps)
        foreach(dep ${deps})
          string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
          list(APPEND queue ${dep})
        endforeach()
      endif()
    endforeach()
  endwhile()
endfunction()

# Fails the configuration when a source or header of `target`'s folder
# includes one of the `headers`.
function(kestra_forbid_includes target)
  get_target_property(dir ${target} SOURCE_DIR)
  file(GLOB files ${dir}/*.cpp ${dir}/*.h)
  foreach(file ${files})
    file(READ ${file} text)
    foreach(header ${ARGN})
      string(FIND "${text}" "#include \"${header}\"" at)
      if(NOT at EQUAL -1)
        message(FATAL_ERROR "${file} must not include ${header}")
      endif()
    endforeach()
  endforeach()
endfunction()
