# Shared compile settings and helpers for the project's libraries and tests.

add_library(tallybrook_options INTERFACE)
target_compile_options(tallybrook_options INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_compile_definitions(tallybrook_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING QT_USE_QSTRINGBUILDER
  QT_NO_KEYWORDS)
if(TALLYBROOK_WERROR)
  target_compile_options(tallybrook_options INTERFACE -Werror)
endif()
if(TALLYBROOK_SANITIZE)
  target_compile_options(tallybrook_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                         -fno-sanitize-recover=undefined)
  target_link_options(tallybrook_options INTERFACE -fsanitize=address,undefined)
endif()

if(TALLYBROOK_FUZZ)
  # Coverage for libFuzzer everywhere; the fuzzer's own main is linked into the targets only.
  target_compile_options(tallybrook_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                         -fno-omit-frame-pointer -fno-sanitize-recover=undefined -g)
  target_link_options(tallybrook_options INTERFACE -fsanitize=address,undefined)
endif()

# tallybrook_library(<name> SOURCES ... [DEPENDS ...]) — one static library per folder under src/.
function(tallybrook_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(tb_${name} STATIC ${ARG_SOURCES})
  target_include_directories(tb_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(tb_${name} PUBLIC ${ARG_DEPENDS} PRIVATE tallybrook_options)
endfunction()

# tallybrook_test(<name> SOURCES ... [LIBS ...] [LABELS ...]) — one Qt Test executable per class or feature.
function(tallybrook_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test tallybrook_options)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(_tmp ${CMAKE_BINARY_DIR}/test-home/${name})
  file(MAKE_DIRECTORY ${_tmp}/runtime)
  file(CHMOD ${_tmp}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set_tests_properties(${name} PROPERTIES
    LABELS "${ARG_LABELS}"
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${_tmp};XDG_RUNTIME_DIR=${_tmp}/runtime;XDG_CONFIG_HOME=${_tmp}/config;XDG_DATA_HOME=${_tmp}/data;TZ=UTC;LANG=C.UTF-8;LC_ALL=C.UTF-8;DBUS_SESSION_BUS_ADDRESS=disabled:;ASAN_OPTIONS=detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()
