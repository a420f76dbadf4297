# Checks of the files a Windows program wrote under Wine, for the check
# scripts of this folder (include()d; FITSVERIFY and DIR set by the caller).

# expect_fits_verified(<file> <what>): fitsverify on the host accepts
# DIR/<file>; <what> names it in the failure.
function(expect_fits_verified file what)
  execute_process(COMMAND ${FITSVERIFY} -q ${file} WORKING_DIRECTORY ${DIR}
    RESULT_VARIABLE result OUTPUT_VARIABLE verdict ERROR_VARIABLE verdict)
  if(NOT result EQUAL 0 OR NOT verdict MATCHES "verification OK")
    message(FATAL_ERROR "fitsverify refuses ${what} (${result}): ${verdict}")
  endif()
endfunction()

# expect_png(<file>): DIR/<file> starts with the PNG signature.
function(expect_png file)
  file(READ ${DIR}/${file} signature LIMIT 8 HEX)
  if(NOT signature STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "${file} does not start with the PNG signature: ${signature}")
  endif()
endfunction()
