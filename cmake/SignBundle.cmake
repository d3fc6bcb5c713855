# Signs Tessaly.app after macdeployqt, inner code first: macdeployqt re-links the Qt frameworks and
# plug-ins it copies, which breaks their signatures, and a bundle can only be signed over inner code
# that is validly signed. Then the helper, then the bundle, then a strict check of the whole.
#   cmake -DBUNDLE=<Tessaly.app> -DIDENTITY=<identity or -> -DCODESIGN=<codesign> -P SignBundle.cmake
foreach(variable BUNDLE IDENTITY CODESIGN)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "SignBundle.cmake needs -D${variable}=...")
  endif()
endforeach()

# An ad hoc signature has no timestamp; a real identity gets the hardened runtime and a secure one.
if(IDENTITY STREQUAL "-")
  set(options --timestamp=none)
else()
  set(options --options runtime --timestamp)
endif()

function(sign path)
  execute_process(COMMAND ${CODESIGN} --force --sign ${IDENTITY} ${options} ${path} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

file(GLOB frameworks LIST_DIRECTORIES true ${BUNDLE}/Contents/Frameworks/*.framework)
file(GLOB libraries ${BUNDLE}/Contents/Frameworks/*.dylib)
file(GLOB_RECURSE plugins ${BUNDLE}/Contents/PlugIns/*.dylib)
foreach(code IN LISTS frameworks libraries plugins)
  sign(${code})
endforeach()
sign(${BUNDLE}/Contents/MacOS/tessaly-helper)
sign(${BUNDLE})
execute_process(COMMAND ${CODESIGN} --verify --deep --strict --verbose=2 ${BUNDLE} COMMAND_ERROR_IS_FATAL ANY)
