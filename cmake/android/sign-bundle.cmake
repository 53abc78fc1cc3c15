# Signs the publication of one version and writes its upload bundle.
#
#   cmake -DREPO=<Maven repository root> -DVERSION_DIR=<its folder of one version, relative>
#         -DBUNDLE=<zip to write> -DJAR=<jar tool> -DSTAGE=<scratch folder>
#         [-DKEY=<gpg key> -DGPG=<gpg> -DGNUPGHOME=<keyring folder> -DPASSPHRASE_FILE=<file>]
#         -P sign-bundle.cmake
#
# With KEY, each file of VERSION_DIR that is no checksum gets an ASCII-armoured detached
# signature beside it (<file>.asc, no checksums of its own, as Maven Central takes them), made by
# gpg with that key from GNUPGHOME (gpg's own default when empty); PASSPHRASE_FILE, when given,
# holds the key's passphrase for unattended signing. Without KEY nothing is signed.
#
# The bundle is VERSION_DIR alone, at its path in the repository, signatures included: the
# repository's maven-metadata.xml stays out (the receiving repository writes its own). The
# signatures differ from run to run (they carry the time of signing); every other file, and the
# bundle of an unsigned publication, are the same bytes from the same sources.
file(GLOB files RELATIVE "${REPO}/${VERSION_DIR}" "${REPO}/${VERSION_DIR}/*")
list(FILTER files EXCLUDE REGEX "\\.(md5|sha1|sha256|sha512|asc)$")
list(SORT files)
file(GLOB stale "${REPO}/${VERSION_DIR}/*.asc")
if(stale)
  file(REMOVE ${stale})
endif()
if(KEY)
  set(gpg_args --batch --yes --armor --local-user "${KEY}")
  if(GNUPGHOME)
    list(PREPEND gpg_args --homedir "${GNUPGHOME}")
  endif()
  if(PASSPHRASE_FILE)
    list(APPEND gpg_args --pinentry-mode loopback --passphrase-file "${PASSPHRASE_FILE}")
  endif()
  foreach(f IN LISTS files)
    set(path "${REPO}/${VERSION_DIR}/${f}")
    execute_process(COMMAND "${GPG}" ${gpg_args} --output "${path}.asc" --detach-sign "${path}"
      RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "gpg could not sign ${f} with the key ${KEY}:\n${err}")
    endif()
  endforeach()
endif()

file(REMOVE_RECURSE "${STAGE}")
file(COPY "${REPO}/${VERSION_DIR}/" DESTINATION "${STAGE}/${VERSION_DIR}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" "-DJAR=${JAR}" "-DDIR=${STAGE}" "-DOUT=${BUNDLE}"
          -P "${CMAKE_CURRENT_LIST_DIR}/zip.cmake"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not write ${BUNDLE}")
endif()
