# Run by CPack before it zips: ships the two notice.exe that release/package
# made (signed, when it signs): the x86 build beside the README, the x64
# build in x64/.
file(COPY_FILE "${NOTICE_X86_EXE}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/notice.exe")
file(MAKE_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/x64")
file(COPY_FILE "${NOTICE_X64_EXE}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/x64/notice.exe")
