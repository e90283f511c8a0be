# Third-party packages, through their CMake configs or pkg-config.
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED COMPONENTS system thread program_options filesystem log log_setup date_time)
find_package(OpenCV REQUIRED COMPONENTS core imgproc imgcodecs calib3d video videoio)
find_package(TBB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(GST REQUIRED IMPORTED_TARGET gstreamer-1.0 gstreamer-app-1.0 gstreamer-video-1.0)
pkg_check_modules(GSTMM REQUIRED IMPORTED_TARGET gstreamermm-1.0 glibmm-2.4)
pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-hidraw)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)

# SOCI ships neither a CMake config nor a pkg-config file on Debian 12.
find_path(SOCI_INCLUDE_DIR soci/soci.h REQUIRED)
find_library(SOCI_CORE_LIBRARY soci_core REQUIRED)
find_library(SOCI_SQLITE3_LIBRARY soci_sqlite3 REQUIRED)
add_library(soci::sqlite3 INTERFACE IMPORTED)
set_target_properties(soci::sqlite3 PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${SOCI_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES "${SOCI_SQLITE3_LIBRARY};${SOCI_CORE_LIBRARY};PkgConfig::SQLITE3;${CMAKE_DL_LIBS}")

if(FLOWTALLY_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(FLOWTALLY_BENCH)
  find_package(benchmark REQUIRED)
endif()
