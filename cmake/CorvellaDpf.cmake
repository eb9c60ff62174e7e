# DPF (the plug-in framework) from Debian's dpf-source package, built from a patched copy.
#
# The package tree is read-only and 1.6 has bugs we must not ship (see patches/dpf/), so at
# configure time the tree is copied into the build folder and every patches/dpf/*.patch is applied
# to the copy, in file-name order. The copy is redone only when the source folder or a patch
# changes. Nothing of DPF is kept in the repository.
#
# Provides:
#   CORVELLA_DPF_DIR                       the patched copy (DPF_ROOT_DIR)
#   corvella_dpf_add_plugin(NAME ...)      dpf_add_plugin with our output layout

set(CORVELLA_DPF_SOURCE_DIR "/usr/share/dpf" CACHE PATH "DPF source tree to copy and patch")

if(NOT EXISTS "${CORVELLA_DPF_SOURCE_DIR}/cmake/DPF-plugin.cmake")
  message(FATAL_ERROR "DPF not found in ${CORVELLA_DPF_SOURCE_DIR} (install dpf-source: scripts/install-deps), "
                      "or configure with -DCORVELLA_BUILD_PLUGINS=OFF")
endif()

find_program(CORVELLA_PATCH_PROGRAM patch REQUIRED)

set(CORVELLA_DPF_DIR "${CMAKE_BINARY_DIR}/_deps/dpf" CACHE INTERNAL "The patched DPF copy")
file(GLOB corvella_dpf_patches "${CMAKE_SOURCE_DIR}/patches/dpf/*.patch")
list(SORT corvella_dpf_patches)

# The stamp names the source tree and the content of every patch: any change redoes the copy.
set(corvella_dpf_stamp_text "${CORVELLA_DPF_SOURCE_DIR}\n")
foreach(p IN LISTS corvella_dpf_patches)
  file(SHA256 "${p}" h)
  string(APPEND corvella_dpf_stamp_text "${p} ${h}\n")
endforeach()
set(corvella_dpf_stamp "${CMAKE_BINARY_DIR}/_deps/dpf.stamp")
set(corvella_dpf_old_stamp "")
if(EXISTS "${corvella_dpf_stamp}")
  file(READ "${corvella_dpf_stamp}" corvella_dpf_old_stamp)
endif()

if(NOT corvella_dpf_old_stamp STREQUAL corvella_dpf_stamp_text OR NOT EXISTS "${CORVELLA_DPF_DIR}/CMakeLists.txt")
  message(STATUS "DPF: copying ${CORVELLA_DPF_SOURCE_DIR} and applying ${CMAKE_SOURCE_DIR}/patches/dpf")
  file(REMOVE_RECURSE "${CORVELLA_DPF_DIR}")
  file(REMOVE "${corvella_dpf_stamp}")
  file(MAKE_DIRECTORY "${CORVELLA_DPF_DIR}")
  file(COPY "${CORVELLA_DPF_SOURCE_DIR}/" DESTINATION "${CORVELLA_DPF_DIR}" NO_SOURCE_PERMISSIONS)
  foreach(p IN LISTS corvella_dpf_patches)
    execute_process(
      COMMAND "${CORVELLA_PATCH_PROGRAM}" -p1 --forward --batch --silent -i "${p}"
      WORKING_DIRECTORY "${CORVELLA_DPF_DIR}"
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "DPF: ${p} does not apply to ${CORVELLA_DPF_SOURCE_DIR}:\n${out}${err}")
    endif()
  endforeach()
  file(WRITE "${corvella_dpf_stamp}" "${corvella_dpf_stamp_text}")
endif()
set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${corvella_dpf_patches})

# DPF's prebuilt libraries and examples stay off; the editor's Cairo DGL is built on demand.
set(DPF_LIBRARIES OFF CACHE BOOL "" FORCE)
set(DPF_EXAMPLES OFF CACHE BOOL "" FORCE)
add_subdirectory("${CORVELLA_DPF_DIR}" "${CMAKE_BINARY_DIR}/_deps/dpf-build" EXCLUDE_FROM_ALL)

# corvella_dpf_add_plugin(NAME OUTPUT_DIR <dir> [STANDALONE_NAME <name>]
#                         TARGETS <lv2|vst3|clap|jack>... FILES_DSP <src>... [FILES_UI <src>...])
#
# dpf_add_plugin, with a Cairo editor when FILES_UI are given (one module per format, so the
# editor reaches the instance directly), with every format below OUTPUT_DIR: lv2/NAME.lv2/,
# vst3/NAME.vst3/, clap/NAME.clap and bin/ (the JACK standalone), so that lv2/ holds only bundles
# and can serve as LV2_PATH.
function(corvella_dpf_add_plugin NAME)
  cmake_parse_arguments(arg "" "OUTPUT_DIR;STANDALONE_NAME" "TARGETS;FILES_DSP;FILES_UI" ${ARGN})
  if(arg_FILES_UI)
    dpf_add_plugin(${NAME} TARGETS ${arg_TARGETS} UI_TYPE cairo MONOLITHIC
                   FILES_DSP ${arg_FILES_DSP} FILES_UI ${arg_FILES_UI})
  else()
    dpf_add_plugin(${NAME} TARGETS ${arg_TARGETS} FILES_DSP ${arg_FILES_DSP})
  endif()

  if(TARGET ${NAME}-lv2)
    set_target_properties(${NAME}-lv2 PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${arg_OUTPUT_DIR}/lv2/${NAME}.lv2")
  endif()
  if(TARGET ${NAME}-vst3)
    dpf__determine_vst3_package_architecture(vst3_arch)
    set_target_properties(${NAME}-vst3 PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY "${arg_OUTPUT_DIR}/vst3/${NAME}.vst3/Contents/${vst3_arch}-linux")
  endif()
  if(TARGET ${NAME}-clap)
    set_target_properties(${NAME}-clap PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${arg_OUTPUT_DIR}/clap")
  endif()
  if(TARGET ${NAME}-jack)
    set_target_properties(${NAME}-jack PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${arg_OUTPUT_DIR}/bin")
    if(arg_STANDALONE_NAME)
      set_target_properties(${NAME}-jack PROPERTIES OUTPUT_NAME "${arg_STANDALONE_NAME}")
    endif()
  endif()
endfunction()
