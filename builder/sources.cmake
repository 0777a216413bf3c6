# The builder's sources but main.cpp, room by room, and the rooms as include folders: the
# builder (builder/CMakeLists.txt) and the fuzz targets (fuzz/CMakeLists.txt) build the same
# list. Files include each other by base name; layers.txt says which room may use which.
set(BUILDER_DIR ${CMAKE_CURRENT_LIST_DIR})
set(BUILDER_ROOMS cli input archive report image entries base)
set(BUILDER_SOURCES
  ${BUILDER_DIR}/cli/build.cpp
  ${BUILDER_DIR}/cli/options.cpp
  ${BUILDER_DIR}/input/folder_input.cpp
  ${BUILDER_DIR}/input/source_date.cpp
  ${BUILDER_DIR}/input/zip_input.cpp
  ${BUILDER_DIR}/archive/archive_writer.cpp
  ${BUILDER_DIR}/archive/file_compress.cpp
  ${BUILDER_DIR}/archive/parallel_compress.cpp
  ${BUILDER_DIR}/archive/volumes.cpp
  ${BUILDER_DIR}/report/entry_data_check.cpp
  ${BUILDER_DIR}/report/file_report.cpp
  ${BUILDER_DIR}/report/inspect_json.cpp
  ${BUILDER_DIR}/report/progress.cpp
  ${BUILDER_DIR}/report/split_set.cpp
  ${BUILDER_DIR}/report/test_command.cpp
  ${BUILDER_DIR}/image/config_block.cpp
  ${BUILDER_DIR}/image/icon_file.cpp
  ${BUILDER_DIR}/image/license_text.cpp
  ${BUILDER_DIR}/image/manifest.cpp
  ${BUILDER_DIR}/image/package_identity.cpp
  ${BUILDER_DIR}/image/pe_image.cpp
  ${BUILDER_DIR}/image/raw_deflate.cpp
  ${BUILDER_DIR}/image/resource_tree.cpp
  ${BUILDER_DIR}/image/stub_record_io.cpp
  ${BUILDER_DIR}/image/version_info.cpp
  ${BUILDER_DIR}/entries/names.cpp
  ${BUILDER_DIR}/base/input_file.cpp
  ${BUILDER_DIR}/base/option_text.cpp
  ${BUILDER_DIR}/base/output_file.cpp
  ${BUILDER_DIR}/base/printable.cpp
  ${BUILDER_DIR}/base/text_encoding.cpp
)
list(TRANSFORM BUILDER_ROOMS PREPEND ${BUILDER_DIR}/ OUTPUT_VARIABLE BUILDER_INCLUDE_DIRS)
