# Writes BINARY.build.json: how a build of the benchmark was made, so that a
# run's record can say it. Run after each link of the benchmark module:
#
#   cmake -DBINARY=... -DFLAGS_FILE=... -DSOURCE_DIR=... -DVERSION=... -P write_build_info.cmake
#
# FLAGS_FILE holds "key=value" lines written when the build was generated:
# target, compiler, compiler_id, compiler_version, build_type, compile_flags,
# link_flags. This script adds what only exists after the link: the binary's
# SHA-256, the OpenMP runtime it loads, the project's commit and tree state.
cmake_minimum_required(VERSION 3.25)

file(STRINGS "${FLAGS_FILE}" lines)
set(json "{}")
string(JSON json SET "${json}" schema_version 1)
# The project's version, which is also its Debian package's.
string(JSON json SET "${json}" version "\"${VERSION}\"")
foreach(line IN LISTS lines)
  string(FIND "${line}" "=" eq)
  string(SUBSTRING "${line}" 0 ${eq} key)
  math(EXPR start "${eq} + 1")
  string(SUBSTRING "${line}" ${start} -1 value)
  string(REGEX REPLACE "  +" " " value "${value}")
  string(STRIP "${value}" value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(JSON json SET "${json}" "${key}" "\"${value}\"")
endforeach()

file(SHA256 "${BINARY}" sha256)
string(JSON json SET "${json}" binary_sha256 "\"${sha256}\"")
string(JSON json SET "${json}" binary_path "\"${BINARY}\"")
string(TIMESTAMP built_at "%Y-%m-%dT%H:%M:%SZ" UTC)
string(JSON json SET "${json}" built_at "\"${built_at}\"")

# The compiler's own words about its version.
execute_process(COMMAND "${COMPILER}" --version OUTPUT_VARIABLE version_text ERROR_QUIET RESULT_VARIABLE rc)
if(rc EQUAL 0)
  string(REGEX REPLACE "\n.*" "" version_line "${version_text}")
  string(REPLACE "\"" "\\\"" version_line "${version_line}")
  string(JSON json SET "${json}" compiler_version_text "\"${version_line}\"")
endif()

# The OpenMP runtime the dynamic linker picks for the binary, and the
# version of the Debian package that ships it, where dpkg knows it.
set(omp_library null)
set(omp_version null)
execute_process(COMMAND ldd "${BINARY}" OUTPUT_VARIABLE ldd_text ERROR_QUIET RESULT_VARIABLE rc)
if(rc EQUAL 0 AND ldd_text MATCHES "(lib(g|i)?omp[^ \t]*) => ([^ \t]+)")
  set(omp_path "${CMAKE_MATCH_3}")
  file(REAL_PATH "${omp_path}" omp_real)
  set(omp_library "\"${omp_real}\"")
  # The real path: with a merged /usr, dpkg knows /usr/lib but not /lib.
  execute_process(COMMAND dpkg-query -S "${omp_real}" OUTPUT_VARIABLE owner ERROR_QUIET RESULT_VARIABLE rc)
  if(rc EQUAL 0 AND owner MATCHES "^([^:, ]+(:[a-z0-9]+)?): ")
    execute_process(COMMAND dpkg-query -W -f=\${Version} "${CMAKE_MATCH_1}"
                    OUTPUT_VARIABLE package_version ERROR_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0 AND NOT package_version STREQUAL "")
      set(omp_version "\"${CMAKE_MATCH_1} ${package_version}\"")
    endif()
  endif()
endif()
string(JSON json SET "${json}" openmp_library "${omp_library}")
string(JSON json SET "${json}" openmp_library_version "${omp_version}")

# The project's commit, and whether tracked files differed from it.
set(commit null)
set(dirty null)
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse HEAD
                  OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    set(commit "\"${head}\"")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes ERROR_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0)
      if(changes STREQUAL "")
        set(dirty false)
      else()
        set(dirty true)
      endif()
    endif()
  endif()
endif()
string(JSON json SET "${json}" commit "${commit}")
string(JSON json SET "${json}" tree_dirty "${dirty}")

file(WRITE "${BINARY}.build.json" "${json}\n")
