; An Inno Setup installer that shows a notice with notice.exe before it
; installs, and stops unless notice.exe ran and ended with status 0. Keep
; notice.exe beside this script and build it with ISCC.exe: it makes
; notice-setup.exe here.

[Setup]
AppName=Notice Example
AppVersion=1.0
DefaultDirName={localappdata}\Notice Example
PrivilegesRequired=lowest
OutputDir=.
OutputBaseFilename=notice-setup

[Files]
; Not installed: the installer extracts it to {tmp} when it needs it.
Source: "notice.exe"; Flags: dontcopy

[Code]
// Runs once, before anything is installed; a text returned aborts the install.
function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  Tail: String;
  ResultCode: Integer;
begin
  Result := '';
  ExtractTemporaryFile('notice.exe');
  // The tail, exactly as notice.exe reads it:
  //   {{   one { : ExpandConstant, like every section but [Code], reads { as a constant
  //   \n   reaches notice.exe as written, and notice.exe makes the line break
  //   \\   one backslash in the box: Pascal strings have no escapes
  //   \,   a comma in the text; the first bare comma starts the caption
  Tail := ExpandConstant('Setup needs {{20 MB} more.\nFree it on C:\\Temp\, then retry.,Notice Example Setup');
  // SW_SHOW: a box started hidden would wait where no one sees it.
  // ewWaitUntilTerminated: go on only once the box is dismissed.
  if not Exec(ExpandConstant('{tmp}\notice.exe'), Tail, '', SW_SHOW, ewWaitUntilTerminated, ResultCode) then
    Result := 'notice.exe could not be started: ' + SysErrorMessage(ResultCode)
  else if ResultCode <> 0 then
    Result := Format('notice.exe ended with status %d', [ResultCode]);
end;
