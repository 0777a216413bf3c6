# Build step for the stub's resources, included by the stub project (sfxhead/) and by the native
# resource tests. It runs gen_resources.py into ${CMAKE_CURRENT_BINARY_DIR}/generated and sets:
#   RESOURCE_SOURCES       the generated resource_data.cpp (per language: message table, password
#                          and licence templates, usage text, fixed texts); add it to the target that uses resource_data.h
#   RESOURCE_RC            stub.rc (icon and manifest) for the Windows image; compiled by windres
#                          with the generated folder as an include directory
#   RESOURCE_INCLUDE_DIRS  the folders of resource_data.h, message_ids.h and the generated files
# Also a target resource_data_files; a directory with several targets that list
# RESOURCE_SOURCES should make them depend on it, so that parallel builds run the generator once.
include_guard(DIRECTORY)

set(_resource_source_dir "${CMAKE_CURRENT_LIST_DIR}")
set(_resource_out_dir "${CMAKE_CURRENT_BINARY_DIR}/generated")

find_program(RESOURCE_PYTHON3 python3 REQUIRED)

add_custom_command(
  OUTPUT "${_resource_out_dir}/resource_data.cpp" "${_resource_out_dir}/tarvel.ico"
  COMMAND "${RESOURCE_PYTHON3}" -B "${_resource_source_dir}/gen_resources.py"
          "${_resource_source_dir}" "${_resource_out_dir}"
  DEPENDS "${_resource_source_dir}/gen_resources.py"
          "${_resource_source_dir}/dialog_templates.py"
          "${_resource_source_dir}/icon.py"
          "${_resource_source_dir}/messages.txt"
          "${_resource_source_dir}/fixed_texts.txt"
          "${_resource_source_dir}/usage.txt"
          "${_resource_source_dir}/messages_en.txt"
          "${_resource_source_dir}/fixed_texts_en.txt"
          "${_resource_source_dir}/usage_en.txt"
  COMMENT "Generating the message table, dialog templates and icon"
  VERBATIM)
add_custom_target(resource_data_files
  DEPENDS "${_resource_out_dir}/resource_data.cpp" "${_resource_out_dir}/tarvel.ico")

set(RESOURCE_SOURCES "${_resource_out_dir}/resource_data.cpp")
set(RESOURCE_RC "${_resource_source_dir}/stub.rc")
set(RESOURCE_INCLUDE_DIRS "${_resource_source_dir}" "${_resource_out_dir}")

# The manifest names the image's processor: x86 for the shipped i686 stub, amd64 for the x86-64
# test build. Its requestedExecutionLevel carries spaces after level="asInvoker": the builder
# writes --elevation's level into that room in place (the longest, requireAdministrator, fits),
# so the resource section keeps its layout.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  set(MANIFEST_ARCHITECTURE amd64)
else()
  set(MANIFEST_ARCHITECTURE x86)
endif()
# The image gets it without the indentation of its lines: every byte of the stub counts.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_resource_source_dir}/stub.manifest.in")
file(READ "${_resource_source_dir}/stub.manifest.in" _manifest)
string(REGEX REPLACE "\n[ ]+" "\n" _manifest "${_manifest}")
file(CONFIGURE OUTPUT "${_resource_out_dir}/stub.manifest" CONTENT "${_manifest}" @ONLY)

# windres finds stub.manifest and tarvel.ico through this include directory.
set_source_files_properties("${RESOURCE_RC}" PROPERTIES
  INCLUDE_DIRECTORIES "${_resource_out_dir}"
  OBJECT_DEPENDS "${_resource_out_dir}/tarvel.ico;${_resource_out_dir}/stub.manifest")
