# Run by CPack before it zips: ships the notice.exe that release/package
# signed in place of the one that the build made.
file(COPY_FILE "${NOTICE_SIGNED_EXE}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/notice.exe")
