# Turning a release folder into the program file that carries it (Windows build).
#
# flashwise_release(NAME <name> DIR <folder> [RESOURCES_ONLY])
#   Reads <folder>/release.cmake and <folder>/text/{base,neutral}/<id>.txt (format in
#   releases/README.md) and generates <build>/releases/<name>/Release.rc. From it:
#     flashwise_release_<name>            <build>/releases/<name>/Flashwise.exe, the
#                                         program (only when flashwise_app exists and
#                                         RESOURCES_ONLY is not given)
#     flashwise_release_<name>_resources  <build>/releases/<name>/FlashwiseResources.dll,
#                                         the same resources with no code, for checks
#   Sets FLASHWISE_RELEASE_<name>_DIR (the output folder) in the caller's scope.
#
# flashwise_satellite(NAME <file name without .dll> MARKER <text> [TARGET <target>]
#                     [OUTPUT_DIRECTORY <dir>] [ONLY <entry name>...])
#   A resource-only satellite library: the string table with <MARKER> in front of
#   every text (with ONLY, of the named entries only; language 1028), the dialog
#   layouts, the side picture and the icon.
#   The target is <TARGET> (default <NAME>); the default folder is <build>/satellites.
#   A program named Flashwise.exe finds <folder>/FlashwiseCHT.dll when the two sit
#   side by side (or the library is elsewhere on the library search path).

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(FLASHWISE_RES_DIR ${CMAKE_SOURCE_DIR}/res)
# The release texts are named in res/ResourceIds.h, the one list of the package's ids;
# a release folder names its text files by their numbers (156.txt ...).
file(STRINGS ${FLASHWISE_RES_DIR}/ResourceIds.h _flashwise_txt_defines REGEX "^#define IDTXT_[A-Z_]+ [0-9]+$")
set(FLASHWISE_TXT_IDS "")
foreach(line ${_flashwise_txt_defines})
  string(REGEX REPLACE "^#define (IDTXT_[A-Z_]+) ([0-9]+)$" "\\2=\\1" pair "${line}")
  list(APPEND FLASHWISE_TXT_IDS "${pair}")
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FLASHWISE_RES_DIR}/ResourceIds.h)
set(FLASHWISE_HELPER_BINS "IDBIN_SYSREBOOT=SysReboot.exe" "IDBIN_DEVICEMODE=DeviceMode.exe"
                          "IDBIN_DEVICESPY=DeviceSpy.exe" "IDBIN_WCESTEST=wcestest.exe")

# The side picture and the icon, drawn once per build folder that needs them.
function(_flashwise_art_dir out_var)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/art)
  get_directory_property(done FLASHWISE_ART_RULE)
  if(NOT done)
    set(script ${CMAKE_SOURCE_DIR}/tools/make_package_art.py)
    add_custom_command(
      OUTPUT ${dir}/FlashwiseSide.bmp ${dir}/FlashwiseIcon.ico
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${Python3_EXECUTABLE} ${script} --bitmap ${dir}/FlashwiseSide.bmp --icon ${dir}/FlashwiseIcon.ico
      DEPENDS ${script}
      COMMENT "Drawing the side picture and the icon"
      VERBATIM)
    set_directory_properties(PROPERTIES FLASHWISE_ART_RULE ON)
  endif()
  set(${out_var} ${dir} PARENT_SCOPE)
endfunction()

# Phone-side stand-ins are plain text; the desktop-side one is a tiny console program
# so that running it works and says what it is.
function(_flashwise_helper_standins out_dir_var)
  set(dir ${CMAKE_BINARY_DIR}/releases/stand-ins)
  if(NOT TARGET flashwise_standin_wcestest)
    foreach(pair "SysReboot.exe=phone-side reboot helper"
                 "DeviceMode.exe=phone-side mode helper"
                 "DeviceSpy.exe=phone-side information helper")
      string(REPLACE "=" ";" parts "${pair}")
      list(GET parts 0 file)
      list(GET parts 1 role)
      file(CONFIGURE OUTPUT ${dir}/${file} CONTENT
           "Flashwise stand-in for ${file}, the ${role}. This is not a program: this release was built without the real helper programs.\n")
    endforeach()
    add_executable(flashwise_standin_wcestest ${CMAKE_SOURCE_DIR}/releases/stand-ins/wcestest_standin.c)
    set_target_properties(flashwise_standin_wcestest PROPERTIES
      OUTPUT_NAME wcestest RUNTIME_OUTPUT_DIRECTORY ${dir})
  endif()
  set(${out_dir_var} ${dir} PARENT_SCOPE)
endfunction()

function(_flashwise_rc_path out_var path)
  file(TO_CMAKE_PATH "${path}" p)
  set(${out_var} "\"${p}\"" PARENT_SCOPE)
endfunction()

# A resource-only library: resources, no code, no entry point, no imports.
function(_flashwise_resource_library target output_name output_dir)
  add_library(${target} SHARED ${ARGN})
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${output_name} LINKER_LANGUAGE C
    RUNTIME_OUTPUT_DIRECTORY ${output_dir} ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/work/${target})
  target_link_options(${target} PRIVATE -nostdlib -nostartfiles -Wl,--entry,0)
endfunction()

function(flashwise_release)
  cmake_parse_arguments(R "RESOURCES_ONLY" "NAME;DIR" "" ${ARGN})
  if(NOT FLASHWISE_WINDOWS)
    return()
  endif()
  if(NOT R_NAME OR NOT R_DIR)
    message(FATAL_ERROR "flashwise_release: NAME and DIR are required")
  endif()
  get_filename_component(dir "${R_DIR}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT EXISTS ${dir}/release.cmake)
    message(FATAL_ERROR "flashwise_release(${R_NAME}): ${dir}/release.cmake is missing")
  endif()

  set(RELEASE_FIRMWARE_IMAGE "")
  set(RELEASE_BOOT_LOADER_IMAGE "")
  set(RELEASE_HELPERS "stand-ins")
  # A release may take its texts from another release's folder (RELEASE_TEXT_DIR).
  set(RELEASE_TEXT_DIR "")
  include(${dir}/release.cmake)
  set(text_dir ${dir}/text)
  if(RELEASE_TEXT_DIR)
    get_filename_component(text_dir "${RELEASE_TEXT_DIR}" ABSOLUTE BASE_DIR ${dir})
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${dir}/release.cmake)

  set(out ${CMAKE_BINARY_DIR}/releases/${R_NAME})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/work/${R_NAME})
  set(payloads "")
  _flashwise_rc_path(placeholder ${FLASHWISE_RES_DIR}/fake.bin)
  list(APPEND payloads ${FLASHWISE_RES_DIR}/fake.bin)

  # Helpers: base layer.
  if(RELEASE_HELPERS STREQUAL "stand-ins")
    _flashwise_helper_standins(helper_dir)
    set(helper_deps flashwise_standin_wcestest)
  elseif(RELEASE_HELPERS STREQUAL "simulated-phone")
    # The helpers this tree builds: wcestest.exe for the desktop, and the phone-side
    # three built for the simulated phone (helpers/CMakeLists.txt puts them together).
    set(helper_deps wcestest DeviceSpy DeviceMode SysReboot)
    foreach(t ${helper_deps})
      if(NOT TARGET ${t})
        message(FATAL_ERROR "flashwise_release(${R_NAME}): helper program target ${t} is missing")
      endif()
    endforeach()
    set(helper_dir ${FLASHWISE_SIMULATED_PHONE_HELPERS_DIR})
  else()
    get_filename_component(helper_dir "${RELEASE_HELPERS}" ABSOLUTE BASE_DIR ${dir})
    set(helper_deps "")
    foreach(pair ${FLASHWISE_HELPER_BINS})
      string(REGEX REPLACE "^[A-Z_]+=" "" file "${pair}")
      if(NOT EXISTS ${helper_dir}/${file})
        message(FATAL_ERROR "flashwise_release(${R_NAME}): helper ${helper_dir}/${file} is missing")
      endif()
    endforeach()
  endif()
  set(base_bin "")
  foreach(pair ${FLASHWISE_HELPER_BINS})
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 id)
    list(GET parts 1 file)
    _flashwise_rc_path(p ${helper_dir}/${file})
    string(APPEND base_bin "${id} BIN ${p}\n")
    list(APPEND payloads ${helper_dir}/${file})
  endforeach()
  string(APPEND base_bin "IDBIN_FIRMWARE_IMAGE BIN ${placeholder}\nIDBIN_BOOT_LOADER_IMAGE BIN ${placeholder}\n")

  # Images: language-neutral layer.
  set(neutral_bin "")
  # "generate:<fault>" makes a broken image for the tests (tools/make_firmware_image.py).
  set(image_fault "")
  if(RELEASE_FIRMWARE_IMAGE MATCHES "^generate:(.+)$")
    set(image_fault --fault ${CMAKE_MATCH_1})
    set(RELEASE_FIRMWARE_IMAGE generate)
  endif()
  set(boot_fault "")
  if(RELEASE_BOOT_LOADER_IMAGE MATCHES "^generate:(.+)$")
    set(boot_fault --fault ${CMAKE_MATCH_1})
    set(RELEASE_BOOT_LOADER_IMAGE generate)
  endif()
  if(RELEASE_FIRMWARE_IMAGE STREQUAL "generate")
    set(image ${work}/firmware.abi)
    set(script ${CMAKE_SOURCE_DIR}/tools/make_firmware_image.py)
    add_custom_command(
      OUTPUT ${image}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${work}
      COMMAND ${Python3_EXECUTABLE} ${script} --output ${image} ${image_fault}
      DEPENDS ${script}
      COMMENT "Generating the firmware image of release ${R_NAME}"
      VERBATIM)
  elseif(RELEASE_FIRMWARE_IMAGE)
    get_filename_component(image "${RELEASE_FIRMWARE_IMAGE}" ABSOLUTE BASE_DIR ${dir})
    if(NOT EXISTS ${image})
      message(FATAL_ERROR "flashwise_release(${R_NAME}): firmware image ${image} is missing")
    endif()
  else()
    message(FATAL_ERROR "flashwise_release(${R_NAME}): RELEASE_FIRMWARE_IMAGE is not set")
  endif()
  _flashwise_rc_path(p ${image})
  string(APPEND neutral_bin "IDBIN_FIRMWARE_IMAGE BIN ${p}\n")
  list(APPEND payloads ${image})
  if(RELEASE_BOOT_LOADER_IMAGE STREQUAL "generate")
    set(boot ${work}/boot-loader.abi)
    set(script ${CMAKE_SOURCE_DIR}/tools/make_firmware_image.py)
    add_custom_command(
      OUTPUT ${boot}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${work}
      COMMAND ${Python3_EXECUTABLE} ${script} --boot-loader --output ${boot} ${boot_fault}
      DEPENDS ${script}
      COMMENT "Generating the boot-loader image of release ${R_NAME}"
      VERBATIM)
  elseif(RELEASE_BOOT_LOADER_IMAGE)
    get_filename_component(boot "${RELEASE_BOOT_LOADER_IMAGE}" ABSOLUTE BASE_DIR ${dir})
    if(NOT EXISTS ${boot})
      message(FATAL_ERROR "flashwise_release(${R_NAME}): boot-loader image ${boot} is missing")
    endif()
  endif()
  if(RELEASE_BOOT_LOADER_IMAGE)
    _flashwise_rc_path(p ${boot})
    string(APPEND neutral_bin "IDBIN_BOOT_LOADER_IMAGE BIN ${p}\n")
    list(APPEND payloads ${boot})
  endif()

  # Release texts: every id in the base layer (placeholder when the folder has none),
  # the neutral layer only where the folder supplies one.
  set(base_txt "")
  set(neutral_txt "")
  set(txt_files "")
  foreach(pair ${FLASHWISE_TXT_IDS})
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 id)
    list(GET parts 1 name)
    list(APPEND txt_files ${id}.txt)
    if(EXISTS ${text_dir}/base/${id}.txt)
      _flashwise_rc_path(p ${text_dir}/base/${id}.txt)
      list(APPEND payloads ${text_dir}/base/${id}.txt)
      string(APPEND base_txt "${name} TXT ${p}\n")
    else()
      string(APPEND base_txt "${name} TXT ${placeholder}\n")
    endif()
    if(EXISTS ${text_dir}/neutral/${id}.txt)
      _flashwise_rc_path(p ${text_dir}/neutral/${id}.txt)
      list(APPEND payloads ${text_dir}/neutral/${id}.txt)
      string(APPEND neutral_txt "${name} TXT ${p}\n")
    endif()
  endforeach()
  file(GLOB texts CONFIGURE_DEPENDS ${text_dir}/base/* ${text_dir}/neutral/*)
  foreach(t ${texts})
    get_filename_component(n ${t} NAME)
    if(NOT n IN_LIST txt_files)
      string(REPLACE ";" ", " known "${txt_files}")
      message(FATAL_ERROR "flashwise_release(${R_NAME}): ${t} is not a release text (${known})")
    endif()
  endforeach()

  set(rc_text "// Generated from ${dir} by flashwise_release(); do not edit.
#include <windows.h>
#include \"ResourceIds.h\"

LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US
#include \"Strings.rc\"
#include \"Dialogs.rc\"
#include \"Pictures.rc\"
#include \"Program.rc\"

// Base layer: an entry for every custom id.
LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL
${base_bin}${base_txt}
// Language-neutral layer: what this release supplies over the base layer.
LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL
${neutral_bin}${neutral_txt}")
  set(rc ${work}/Release.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "@rc_text@" @ONLY)

  _flashwise_art_dir(art)
  file(GLOB res_files ${FLASHWISE_RES_DIR}/*.rc ${FLASHWISE_RES_DIR}/*.h ${FLASHWISE_RES_DIR}/*.manifest)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${payloads};${res_files};${art}/FlashwiseSide.bmp;${art}/FlashwiseIcon.ico")
  set(includes ${FLASHWISE_RES_DIR} ${art})

  set(dll flashwise_release_${R_NAME}_resources)
  _flashwise_resource_library(${dll} FlashwiseResources ${out} ${rc})
  target_include_directories(${dll} PRIVATE ${includes})
  if(helper_deps)
    add_dependencies(${dll} ${helper_deps})
  endif()

  if(TARGET flashwise_app AND NOT R_RESOURCES_ONLY)
    set(exe flashwise_release_${R_NAME})
    add_executable(${exe} WIN32 ${CMAKE_SOURCE_DIR}/app/win/Main.cpp ${rc})
    target_link_libraries(${exe} PRIVATE flashwise_app)
    target_include_directories(${exe} PRIVATE ${includes})
    set_target_properties(${exe} PROPERTIES
      OUTPUT_NAME Flashwise LINKER_LANGUAGE CXX RUNTIME_OUTPUT_DIRECTORY ${out})
    if(helper_deps)
      add_dependencies(${exe} ${helper_deps})
    endif()
  endif()
  set(FLASHWISE_RELEASE_${R_NAME}_DIR ${out} PARENT_SCOPE)
endfunction()

function(flashwise_satellite)
  cmake_parse_arguments(S "" "TARGET;NAME;MARKER;OUTPUT_DIRECTORY" "ONLY" ${ARGN})
  if(NOT FLASHWISE_WINDOWS)
    return()
  endif()
  if(NOT S_NAME OR NOT DEFINED S_MARKER)
    message(FATAL_ERROR "flashwise_satellite: NAME and MARKER are required")
  endif()
  if(NOT S_TARGET)
    set(S_TARGET ${S_NAME})
  endif()
  if(NOT S_OUTPUT_DIRECTORY)
    set(S_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/satellites)
  endif()
  set(work ${CMAKE_CURRENT_BINARY_DIR}/work/${S_TARGET})
  set(script ${CMAKE_SOURCE_DIR}/tools/make_satellite_strings.py)
  string(REPLACE ";" "," only "${S_ONLY}")
  add_custom_command(
    OUTPUT ${work}/SatelliteStrings.rc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${work}
    COMMAND ${Python3_EXECUTABLE} ${script} --input ${FLASHWISE_RES_DIR}/Strings.rc
            --marker ${S_MARKER} --output ${work}/SatelliteStrings.rc "--only=${only}"
    DEPENDS ${script} ${FLASHWISE_RES_DIR}/Strings.rc
    VERBATIM)
  set(rc_text "// Generated by flashwise_satellite(); do not edit.
#include <windows.h>
#include \"ResourceIds.h\"

LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL
#include \"SatelliteStrings.rc\"
#include \"Dialogs.rc\"
#include \"Pictures.rc\"
")
  set(rc ${work}/Satellite.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "@rc_text@" @ONLY)
  _flashwise_art_dir(art)
  file(GLOB res_files ${FLASHWISE_RES_DIR}/*.rc ${FLASHWISE_RES_DIR}/*.h)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${work}/SatelliteStrings.rc;${res_files};${art}/FlashwiseSide.bmp;${art}/FlashwiseIcon.ico")
  _flashwise_resource_library(${S_TARGET} ${S_NAME} ${S_OUTPUT_DIRECTORY} ${rc})
  target_include_directories(${S_TARGET} PRIVATE ${work} ${FLASHWISE_RES_DIR} ${art})
endfunction()
