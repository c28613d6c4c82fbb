# Installs the two ADIF readers that the end-to-end checks use into PREFIX,
# unless they are there already. Fails when npm cannot install them, so that
# the checks fail rather than being skipped.
#   cmake -DPREFIX=<build>/adif-node [-DNPM=/path/to/npm] -P install_readers.cmake
if(NOT PREFIX)
  message(FATAL_ERROR "PREFIX is required")
endif()
if(NOT NPM)
  set(NPM npm)
endif()
if(EXISTS "${PREFIX}/node_modules/tcadif/package.json"
   AND EXISTS "${PREFIX}/node_modules/adif-parser-ts/package.json")
  return()
endif()
set(packages tcadif@2 adif-parser-ts@0.7)
execute_process(
  COMMAND "${NPM}" install --prefix "${PREFIX}" --no-audit --no-fund ${packages}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  list(JOIN packages " " names)
  message(FATAL_ERROR "npm could not install ${names} into ${PREFIX} (${result})")
endif()
