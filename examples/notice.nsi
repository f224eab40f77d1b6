; An NSIS installer that shows a notice with notice.exe and stops unless
; notice.exe ran and ended with status 0. Keep notice.exe beside this script.
;
; Build it with makensis. As it stands it makes an ANSI installer; add the
; line "Unicode true" at the top for a Unicode one (the tests build both,
; giving makensis that line with -X). notice.exe reads its text in the
; system's ANSI code page, so a character that the code page lacks cannot
; reach it: an ANSI installer, converted to the code page when it is built,
; turns it into "?"; a Unicode one hands it over in UTF-16, and Windows turns
; it into a look-alike where it has one and into "?" where it has none. On a
; code page 1252 system "café Ω ✓" below arrives from an ANSI installer as
; "café ? ?", and from a Unicode one as "café O ?".

Name "Notice Example"
OutFile "notice-setup.exe"
RequestExecutionLevel user

Section
  ; $PLUGINSDIR is a fresh temporary folder that NSIS removes at the end.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\notice.exe" "notice.exe"

  ; The whole command line is one string in single quotes; the program path
  ; inside it is in double quotes, in case the folder has blanks in it.
  ; After the path comes the tail, exactly as notice.exe reads it:
  ;   $$       NSIS's own escape: one dollar sign reaches notice.exe
  ;   $\n      NSIS puts a line break into the command line
  ;   \n       notice.exe makes the line break; both show the same
  ;   \\       one backslash in the box: NSIS passes backslashes as they are
  ;   \,       a comma in the text; the first bare comma starts the caption
  ;   café Ω ✓ characters beyond ASCII: see the top of this file
  ; A $\n right after the path would be lost: notice.exe skips every blank
  ; and control character before the text. Use \n there.
  ; ExecWait, not nsExec: nsExec starts programs hidden, and a hidden box
  ; waits where no one sees it.
  ClearErrors
  ExecWait '"$PLUGINSDIR\notice.exe" Setup needs $$20 of disk space.$\nFree it on C:\\Temp\, then retry.\nSee setup.log (café Ω ✓),Notice Example Setup' $0
  IfErrors 0 +2
    Abort "notice.exe could not be started"
  StrCmp $0 0 +2
    Abort "notice.exe ended with status $0"
SectionEnd
