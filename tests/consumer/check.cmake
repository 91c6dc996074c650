# cmake -DORIG=a -DIMAGE=b -P check.cmake: fails unless b is a with the
# fourth byte of every complete 4-byte group, and only that, set to zero.
file(READ ${ORIG} orig HEX)
file(READ ${IMAGE} image HEX)
set(x "[0-9a-f]")
string(REGEX REPLACE "(${x}${x}${x}${x}${x}${x})${x}${x}" "\\100" want "${orig}")
if(NOT image STREQUAL want OR orig STREQUAL want)
  message(FATAL_ERROR "${IMAGE} is not ${ORIG} with its top bytes cleared")
endif()
