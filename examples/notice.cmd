@echo off
rem A batch file that shows a notice with notice.exe and ends with its status.
rem Keep notice.exe beside this file.
rem
rem   start "" /wait   waits until the box is dismissed; the empty "" is the
rem                    window title, which start takes from the first quotes.
rem                    A batch file waits for notice.exe without it too, and
rem                    start may squeeze runs of blanks in the text into one
rem   "%~dp0"          the folder of this batch file, ending in a backslash
rem   ^& ^| ^< ^> ^^   cmd.exe acts on these five characters itself: a ^ before
rem                    each makes it reach notice.exe
rem   %%               one percent sign in a batch file
rem   !                under setlocal EnableDelayedExpansion it pairs with the
rem                    next ! and both vanish; call notice.exe after a
rem                    setlocal DisableDelayedExpansion, which makes ! plain
rem   \\               one backslash in the box; cmd.exe passes backslashes on
rem   \,               a comma in the text; the first bare comma starts the
rem                    caption, and the rest of the text would land there
rem   no double quotes around the text: they would show in the box
start "" /wait "%~dp0notice.exe" Tom ^& Jerry: 100%% done.\nSee C:\\Temp\\setup.log,Notice Example Batch
exit /b %errorlevel%
