# SQLite compiled into the program from its amalgamation, for systems that
# have no SQLite of their own to link (Windows). The amalgamation is the one
# that npm's better-sqlite3 package ships in deps/sqlite3, taken from the npm
# registry at configure time, pinned by version and checked by SHA-256:
# nothing is downloaded when the program runs. SKV_SQLITE_PACKAGE names a
# copy of the package already on disk, for a machine without the network;
# it is checked the same way.
set(SKV_SQLITE_PACKAGE_VERSION 12.9.0)
set(SKV_SQLITE_VERSION 3.53.0)
set(SKV_SQLITE_PACKAGE_SHA256 ad0e29650140c49d0335b1d356596aa8166f12b758f418a98446130e3278f250)
set(SKV_SQLITE_PACKAGE "" CACHE FILEPATH "better-sqlite3-${SKV_SQLITE_PACKAGE_VERSION}.tgz already on disk")

set(package ${CMAKE_BINARY_DIR}/better-sqlite3-${SKV_SQLITE_PACKAGE_VERSION}.tgz)
if(SKV_SQLITE_PACKAGE)
  file(COPY_FILE ${SKV_SQLITE_PACKAGE} ${package} ONLY_IF_DIFFERENT)
endif()
if(NOT EXISTS ${package})
  file(DOWNLOAD
    https://registry.npmjs.org/better-sqlite3/-/better-sqlite3-${SKV_SQLITE_PACKAGE_VERSION}.tgz ${package}
    EXPECTED_HASH SHA256=${SKV_SQLITE_PACKAGE_SHA256}
    STATUS download)
  list(GET download 0 download_code)
  if(NOT download_code EQUAL 0)
    file(REMOVE ${package})
    message(FATAL_ERROR "Could not download SQLite's amalgamation from the npm registry: ${download}")
  endif()
endif()
file(SHA256 ${package} package_hash)
if(NOT package_hash STREQUAL SKV_SQLITE_PACKAGE_SHA256)
  message(FATAL_ERROR "${package} is not better-sqlite3 ${SKV_SQLITE_PACKAGE_VERSION}: its SHA-256 is ${package_hash}")
endif()
set(sqlite_dir ${CMAKE_BINARY_DIR}/sqlite-amalgamation)
if(NOT EXISTS ${sqlite_dir}/package/deps/sqlite3/sqlite3.c)
  file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${sqlite_dir}
    PATTERNS package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)
endif()

enable_language(C)
add_library(sqlite3_amalgamation STATIC ${sqlite_dir}/package/deps/sqlite3/sqlite3.c)
target_include_directories(sqlite3_amalgamation SYSTEM PUBLIC ${sqlite_dir}/package/deps/sqlite3)
# The features of the SQLite that Debian builds, that the tables of
# browsers' profiles may need to be read (full-text and R*Tree tables),
# without loading extensions: nothing of the evidence is ever run.
target_compile_definitions(sqlite3_amalgamation PRIVATE
  SQLITE_ENABLE_COLUMN_METADATA SQLITE_ENABLE_DBSTAT_VTAB SQLITE_ENABLE_FTS3 SQLITE_ENABLE_FTS3_PARENTHESIS
  SQLITE_ENABLE_FTS4 SQLITE_ENABLE_FTS5 SQLITE_ENABLE_RTREE SQLITE_ENABLE_MATH_FUNCTIONS SQLITE_SOUNDEX
  SQLITE_LIKE_DOESNT_MATCH_BLOBS SQLITE_SECURE_DELETE SQLITE_MAX_VARIABLE_NUMBER=250000 SQLITE_TEMP_STORE=1
  SQLITE_DEFAULT_MMAP_SIZE=0 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DEFAULT_MEMSTATUS=0 SQLITE_WIN64=1)
target_compile_options(sqlite3_amalgamation PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS sqlite3_amalgamation)
