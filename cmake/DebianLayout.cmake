# CPack's step before the Debian package is made from its staging folder:
# the SourceSafe server library and its admin command move from usr/bin to
# usr/lib/<triplet>/tickwright (CPACK_TICKWRIGHT_PRIVATE_DIR), where Debian
# keeps a package's private files and no ldconfig looks. The command stays
# on PATH as a link, and still finds the library beside itself.
set(usr "${CPACK_TEMPORARY_DIRECTORY}/usr")
set(private "${usr}/${CPACK_TICKWRIGHT_PRIVATE_DIR}")
file(MAKE_DIRECTORY "${private}")
foreach(file libtwsourcesafe.so tw-ssadmin)
  if(NOT EXISTS "${usr}/bin/${file}")
    message(FATAL_ERROR "The staged package has no usr/bin/${file}")
  endif()
  file(RENAME "${usr}/bin/${file}" "${private}/${file}")
endforeach()
file(RELATIVE_PATH target "${usr}/bin" "${private}/tw-ssadmin")
file(CREATE_LINK "${target}" "${usr}/bin/tw-ssadmin" SYMBOLIC)
