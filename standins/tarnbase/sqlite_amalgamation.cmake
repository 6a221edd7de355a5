# SQLite's amalgamation for the database stand-in, fetched once at configure
# time and cached under the build folder, never committed. It comes from the
# npm registry, through npm itself: the sqlite3 package carries SQLite's own
# autoconf amalgamation tarball unchanged. Package, tarball and source are
# each pinned by version and SHA-256.
#
# Sets TM_SQLITE_DIR (the folder holding sqlite3.c and sqlite3.h) or, when the
# source cannot be had, TM_SQLITE_MISSING with the reason.

set(TM_SQLITE_NPM_PACKAGE "sqlite3@5.1.7")
set(TM_SQLITE_NPM_FILE "sqlite3-5.1.7.tgz")
set(TM_SQLITE_NPM_SHA256 "44cc9bdee02705a7b636f76968d745e21c1d0b2f1c62810c678bc3b0ececab1b")
set(TM_SQLITE_RELEASE "sqlite-autoconf-3440200")  # SQLite 3.44.2
set(TM_SQLITE_RELEASE_SHA256 "1c6719a148bc41cf0f2bbbe3926d7ce3f5ca09d878f1246fcc20767b175bb407")
set(TM_SQLITE_SOURCE_SHA256 "16e8a29fc022b8e80a6ebb376250a1b8e786b839b44840b0fe86e94159b84ae6")

# Sets out to nothing when the file has the pinned SHA-256 sum, else to why
# not; a file with another sum is removed, so that the next configure
# fetches it afresh.
function(tm_check_pinned file expected out)
  get_filename_component(name "${file}" NAME)
  set(${out} "${name} is missing" PARENT_SCOPE)
  if(EXISTS "${file}")
    file(SHA256 "${file}" sum)
    if(sum STREQUAL expected)
      set(${out} "" PARENT_SCOPE)
    else()
      set(${out} "${name} has SHA-256 ${sum}, not the pinned ${expected}" PARENT_SCOPE)
      file(REMOVE "${file}")
    endif()
  endif()
endfunction()

# The 64-bit part of a build shares the main part's cache.
set(TM_SQLITE_CACHE "${PROJECT_BINARY_DIR}/_deps/sqlite" CACHE PATH "Folder that keeps SQLite's fetched amalgamation")

function(tm_fetch_sqlite_amalgamation)
  set(cache "${TM_SQLITE_CACHE}")
  set(source "${cache}/${TM_SQLITE_RELEASE}")
  set(release "${cache}/${TM_SQLITE_RELEASE}.tar.gz")
  set(package "${cache}/${TM_SQLITE_NPM_FILE}")
  set(TM_SQLITE_DIR "" PARENT_SCOPE)

  if(NOT EXISTS "${release}")
    if(NOT EXISTS "${package}")
      find_program(TM_NPM npm)
      if(NOT TM_NPM)
        set(TM_SQLITE_MISSING "npm is not installed, so SQLite's amalgamation cannot be fetched" PARENT_SCOPE)
        return()
      endif()
      file(MAKE_DIRECTORY "${cache}")
      message(STATUS "Fetching ${TM_SQLITE_NPM_PACKAGE} from the npm registry for SQLite's amalgamation")
      execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env NO_UPDATE_NOTIFIER=1
                "${TM_NPM}" pack "${TM_SQLITE_NPM_PACKAGE}" --pack-destination "${cache}"
                --cache "${cache}/npm-cache" --ignore-scripts --loglevel=error
        WORKING_DIRECTORY "${cache}"
        RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error
        TIMEOUT 300)
      if(NOT status EQUAL 0)
        string(STRIP "${error}" error)
        string(REGEX REPLACE "\n.*" "" error "${error}")  # npm's first line says why
        set(TM_SQLITE_MISSING "npm pack ${TM_SQLITE_NPM_PACKAGE} failed (${status}): ${error}" PARENT_SCOPE)
        file(REMOVE "${package}")
        return()
      endif()
    endif()
    tm_check_pinned("${package}" ${TM_SQLITE_NPM_SHA256} wrong)
    if(wrong)
      set(TM_SQLITE_MISSING "${wrong}" PARENT_SCOPE)
      return()
    endif()
    file(ARCHIVE_EXTRACT INPUT "${package}" DESTINATION "${cache}/package-files"
         PATTERNS "package/deps/${TM_SQLITE_RELEASE}.tar.gz")
    file(RENAME "${cache}/package-files/package/deps/${TM_SQLITE_RELEASE}.tar.gz" "${release}")
    file(REMOVE_RECURSE "${cache}/package-files" "${cache}/npm-cache")
  endif()

  tm_check_pinned("${release}" ${TM_SQLITE_RELEASE_SHA256} wrong)
  if(wrong)
    set(TM_SQLITE_MISSING "${wrong}" PARENT_SCOPE)
    return()
  endif()
  tm_check_pinned("${source}/sqlite3.c" ${TM_SQLITE_SOURCE_SHA256} wrong)
  if(wrong OR NOT EXISTS "${source}/sqlite3.h")
    file(REMOVE_RECURSE "${source}")
    file(ARCHIVE_EXTRACT INPUT "${release}" DESTINATION "${cache}"
         PATTERNS "${TM_SQLITE_RELEASE}/sqlite3.c" "${TM_SQLITE_RELEASE}/sqlite3.h")
    tm_check_pinned("${source}/sqlite3.c" ${TM_SQLITE_SOURCE_SHA256} wrong)
    if(wrong)
      set(TM_SQLITE_MISSING "${wrong}" PARENT_SCOPE)
      return()
    endif()
  endif()
  set(TM_SQLITE_DIR "${source}" PARENT_SCOPE)
endfunction()
