# The libraries the host layer reads and detects with: FFmpeg, uchardet,
# ICU and CLD2. Included by tools/ (the probe and the layer) and by fuzz/
# (the reading fuzz target). Sets TPSUBM_HOST_MISSING to the list of what is
# missing, empty when all are found, and defines the imported targets
# PkgConfig::PROBE_FFMPEG, PkgConfig::PROBE_UCHARDET, PkgConfig::PROBE_ICU
# and tpsubm_cld2.
set(TPSUBM_HOST_MISSING "")
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(PROBE_FFMPEG QUIET IMPORTED_TARGET libavformat libavcodec libavutil)
  pkg_check_modules(PROBE_UCHARDET QUIET IMPORTED_TARGET uchardet)
  pkg_check_modules(PROBE_ICU QUIET IMPORTED_TARGET icu-uc icu-i18n)
  if(NOT PROBE_FFMPEG_FOUND)
    list(APPEND TPSUBM_HOST_MISSING "FFmpeg (libavformat, libavcodec, libavutil)")
  endif()
  if(NOT PROBE_UCHARDET_FOUND)
    list(APPEND TPSUBM_HOST_MISSING "uchardet")
  endif()
  if(NOT PROBE_ICU_FOUND)
    list(APPEND TPSUBM_HOST_MISSING "ICU (icu-uc, icu-i18n)")
  endif()
else()
  list(APPEND TPSUBM_HOST_MISSING "pkg-config (to find FFmpeg, uchardet and ICU)")
endif()
# CLD2 ships no pkg-config file.
find_path(CLD2_INCLUDE_DIR cld2/public/compact_lang_det.h)
find_library(CLD2_LIBRARY cld2)
if(NOT CLD2_INCLUDE_DIR OR NOT CLD2_LIBRARY)
  list(APPEND TPSUBM_HOST_MISSING "CLD2 (libcld2)")
endif()
if(NOT TPSUBM_HOST_MISSING AND NOT TARGET tpsubm_cld2)
  add_library(tpsubm_cld2 INTERFACE IMPORTED)
  target_include_directories(tpsubm_cld2 SYSTEM INTERFACE ${CLD2_INCLUDE_DIR})
  target_link_libraries(tpsubm_cld2 INTERFACE ${CLD2_LIBRARY})
endif()
file(GLOB TPSUBM_HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
set(TPSUBM_HOST_LIBRARIES PkgConfig::PROBE_FFMPEG PkgConfig::PROBE_UCHARDET PkgConfig::PROBE_ICU
  tpsubm_cld2)
