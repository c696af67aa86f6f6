# Run by CPack between staging and packing. Debian keeps a program's own
# folders out of /usr/bin, so what the program finds beside its executable
# moves to /usr/lib/vorlant, and /usr/bin keeps a link to the program (the
# program resolves the link, so it still finds its files beside itself).
set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${usr}/bin")
  message(FATAL_ERROR "debian-layout: nothing staged under ${usr}/bin")
endif()
file(MAKE_DIRECTORY "${usr}/lib")
file(RENAME "${usr}/bin" "${usr}/lib/vorlant")
file(MAKE_DIRECTORY "${usr}/bin")
file(CREATE_LINK ../lib/vorlant/vorlant "${usr}/bin/vorlant" SYMBOLIC)
