# cmake -P tests/work_folders_removed.cmake: fails, naming them, when
# tessellar_* work folders are left in the test temporary directory as
# GoogleTest takes it (TEST_TMPDIR, else /tmp).
if(DEFINED ENV{TEST_TMPDIR} AND NOT "$ENV{TEST_TMPDIR}" STREQUAL "")
  set(dir "$ENV{TEST_TMPDIR}")
else()
  set(dir "/tmp")
endif()
string(REGEX REPLACE "/+$" "" dir "${dir}")
file(GLOB left LIST_DIRECTORIES true "${dir}/tessellar_*")
if(left)
  list(JOIN left "\n  " names)
  message(FATAL_ERROR "work folders left in ${dir} (a failed test keeps its own):\n  ${names}")
endif()
