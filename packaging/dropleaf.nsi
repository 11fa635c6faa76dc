; Dropleaf's setup program: per user and without elevation, into %LOCALAPPDATA%\Programs\Dropleaf,
; with a Start-menu shortcut and an "Apps & features" entry. CMake fills in the @NAMES@; makensis
; builds it. What a caller can rely on (NSIS itself returns 2 for every abort of a script, so
; each abort here sets its own code first):
; - setup /S installs silently and returns when done: 0 when it worked, 2 when a running copy
;   of the installed program would not close (nothing was changed then), 3 when a file could
;   not be written (held by another program, a full disk), 1 when the user cancelled;
; - uninstall.exe /S copies itself to the temporary folder, starts the copy and returns at once
;   with 0, whatever the copy then does (NSIS cannot hand its code back); a script that needs
;   the code runs it in place: uninstall.exe /S _?=<install folder>, which returns when done,
;   2 when a running copy would not close, 3 when the program file could not be removed (both
;   leave everything in place).
Unicode true
; Dropleaf.exe is 64-bit whichever stub carries it. The 64-bit stub where this makensis has one
; (Debian's does): it also starts where a system has no 32-bit support, as Wine here. The
; official Windows build of NSIS ships 32-bit stubs only, and a 32-bit setup runs on every
; 64-bit Windows.
!if /FileExists "${NSISDIR}/Stubs/lzma_solid-amd64-unicode"
  Target amd64-unicode
!endif
RequestExecutionLevel user
SetCompressor /SOLID lzma
; A file that cannot be written stops the install: it is never left half-replaced.
AllowSkipFiles off
; The files carried store no date of their own (the wizard picture's would be the build's
; clock); Dropleaf.exe alone keeps its staged one, the source's date.
SetDateSave off

!define EXIT_IN_USE 2  ; the one code the winget manifest maps (packageInUse)
!define EXIT_NOT_WRITTEN 3
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dropleaf"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Task Manager's Startup switch for a Run value of the same name.
!define STARTUP_APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"

Name "Dropleaf"
OutFile "@DROPLEAF_SETUP_UNFINISHED@"
InstallDir "$LOCALAPPDATA\Programs\Dropleaf"
VIProductVersion "@PROJECT_VERSION@"
VIAddVersionKey /LANG=0 "ProductName" "Dropleaf"
VIAddVersionKey /LANG=0 "FileDescription" "Dropleaf setup"
VIAddVersionKey /LANG=0 "FileVersion" "@PROJECT_VERSION@"
VIAddVersionKey /LANG=0 "CompanyName" "Velmorra"
VIAddVersionKey /LANG=0 "LegalCopyright" "Velmorra"
BrandingText "Dropleaf @PROJECT_VERSION@"

; With the maker's certificate (DROPLEAF_SIGN_PFX at build time), the uninstaller that the setup
; carries and the setup itself are signed as they are made; a signing failure stops the build.
@DROPLEAF_NSIS_SIGN@
!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND}' = 0
  !finalize '${SIGN_COMMAND}' = 0
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "@DROPLEAF_ICON_FILE@"
!define MUI_UNICON "@DROPLEAF_ICON_FILE@"
!define MUI_WELCOMEFINISHPAGE_BITMAP "@DROPLEAF_WIZARD_BITMAP@"
!define MUI_FINISHPAGE_TEXT "$(FINISHED_TEXT)"
!define MUI_FINISHPAGE_TEXT_LARGE  ; room for both paragraphs above the run box
; Run as the user ran the setup: elevated only when the setup was (the program then lets the
; next setup's WM_CLOSE in all the same).
!define MUI_FINISHPAGE_RUN "$INSTDIR\Dropleaf.exe"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString FINISHED_TEXT ${LANG_SIMPCHINESE} "Dropleaf 已安装。它运行时在任务栏右侧的通知区域显示图标；在 Windows 11 上，新图标可能先收在“^”里，可将它拖到任务栏上。$\r$\n$\r$\n复制一张图片后，在文件夹窗口或桌面上按 Ctrl+V，图片就会保存在那里。"
LangString STILL_RUNNING ${LANG_SIMPCHINESE} "Dropleaf 仍在运行，无法关闭。$\r$\n请从托盘菜单退出 Dropleaf，然后点击“重试”。"

Var wasRunning
Var installedId  ; of $INSTDIR\Dropleaf.exe, or "" where there is none
Var runIsInstalled

; A file's identity: its volume's serial number and its file index, "" when it cannot be opened.
; A short name, a second drive letter (SUBST, a mapped drive) or a junction spells one file in
; many ways; its identity is one. $R0 is the path, $R1 the answer.
!macro DEFINE_FILE_ID PREFIX
Function ${PREFIX}FileId
  StrCpy $R1 ""
  ; FILE_READ_ATTRIBUTES, shared every way, OPEN_EXISTING; a failed open gives
  ; INVALID_HANDLE_VALUE, on which GetFileInformationByHandle fails in turn.
  System::Call "kernel32::CreateFileW(w R0, i 0x80, i 7, p 0, i 3, i 0, p 0) p .R2"
  System::Call "*(&i52) p .R3"  ; BY_HANDLE_FILE_INFORMATION
  System::Call "kernel32::GetFileInformationByHandle(p R2, p R3) i .R4"
  ${If} $R4 <> 0
    ; dwVolumeSerialNumber, nFileIndexHigh and nFileIndexLow: the 8th, 12th and 13th DWORD
    System::Call "*$R3(i, i, i, i, i, i, i, i .R5, i, i, i, i .R6, i .R7)"
    StrCpy $R1 "$R5:$R6:$R7"
  ${EndIf}
  System::Free $R3
  System::Call "kernel32::CloseHandle(p R2)"
FunctionEnd
!macroend
!insertmacro DEFINE_FILE_ID ""
!insertmacro DEFINE_FILE_ID "un."

; Closes the running Dropleaf that is this install's own program, as taskkill without /f does
; (WM_CLOSE to its listener window), and waits about 5 s for it to end: only then can its file
; change. A copy running from anywhere else (a portable one) is the user's and keeps running.
; The running copy's image and the installed file are compared as files, not as spellings.
!macro DEFINE_CLOSE_RUNNING PREFIX
Function ${PREFIX}CloseRunning
  StrCpy $wasRunning 0
  StrCpy $R0 "$INSTDIR\Dropleaf.exe"
  Call ${PREFIX}FileId
  StrCpy $installedId $R1
  ${If} $installedId == ""  ; nothing installed yet: whatever runs is someone else's
    Return
  ${EndIf}
  retry:
  StrCpy $0 0
  next:
  FindWindow $0 "Dropleaf.ShellListener" "" 0 $0
  ${If} $0 == 0
    Return
  ${EndIf}
  System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
  ; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, which an elevated copy grants too
  System::Call "kernel32::OpenProcess(i 0x00101000, i 0, i r1) p .r2"
  StrCpy $4 ""
  System::Call "kernel32::QueryFullProcessImageNameW(p r2, i 0, w .r4, *i ${NSIS_MAX_STRLEN})"
  StrCpy $R0 $4
  Call ${PREFIX}FileId
  ${If} $R1 != $installedId
    System::Call "kernel32::CloseHandle(p r2)"
    Goto next
  ${EndIf}
  StrCpy $wasRunning 1
  System::Call "user32::PostMessageW(p r0, i 0x0010, p 0, p 0)"  ; WM_CLOSE
  System::Call "kernel32::WaitForSingleObject(p r2, i 5000) i .r3"
  System::Call "kernel32::CloseHandle(p r2)"
  ${If} $3 <> 0
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(STILL_RUNNING)" /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_IN_USE}
    Abort
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DEFINE_CLOSE_RUNNING ""
!insertmacro DEFINE_CLOSE_RUNNING "un."

Section
  Call CloseRunning
  ; From here on an abort is a file that could not be written (File stops the install itself).
  SetErrorLevel ${EXIT_NOT_WRITTEN}
  SetOutPath "$INSTDIR"
  SetDateSave on
  File "@DROPLEAF_STAGED_EXE@"
  ClearErrors
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    Abort
  ${EndIf}
  CreateShortcut "$SMPROGRAMS\Dropleaf.lnk" "$INSTDIR\Dropleaf.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Dropleaf"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "@PROJECT_VERSION@"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Velmorra"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Dropleaf.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} $wasRunning == 1  ; an upgrade: the copy that ran before runs again
    Exec '"$INSTDIR\Dropleaf.exe"'
  ${EndIf}
  SetErrorLevel 0
SectionEnd

Section "Uninstall"
  Call un.CloseRunning
  ; Run at sign-in is this install's only when it names this program, however spelled: asked
  ; while the file is still there. A portable copy elsewhere keeps its own.
  StrCpy $runIsInstalled 0
  ReadRegStr $0 HKCU "${RUN_KEY}" "Dropleaf"
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 -1 1  ; the command is the quoted path alone
  ${EndIf}
  StrCpy $R0 $0
  Call un.FileId
  ${If} $R1 == $installedId
  ${AndIf} $R1 != ""
    StrCpy $runIsInstalled 1
  ${ElseIf} $0 == "$INSTDIR\Dropleaf.exe"  ; a file already gone, by its spelling
    StrCpy $runIsInstalled 1
  ${EndIf}
  ; Nothing is removed while the program file stays (a copy that would not close, a file held
  ; open): the entry and the settings go only with the program.
  deleteProgram:
  Delete "$INSTDIR\Dropleaf.exe"
  ${If} ${FileExists} "$INSTDIR\Dropleaf.exe"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(STILL_RUNNING)" /SD IDCANCEL IDRETRY deleteProgram
    SetErrorLevel ${EXIT_NOT_WRITTEN}
    Abort
  ${EndIf}
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Dropleaf.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${If} $runIsInstalled == 1
    DeleteRegValue HKCU "${RUN_KEY}" "Dropleaf"
    DeleteRegValue HKCU "${STARTUP_APPROVED_KEY}" "Dropleaf"
  ${EndIf}
  DeleteRegKey HKCU "Software\Dropleaf"
  DeleteRegKey HKCU "Software\Velmorra\Messages\Dropleaf"
  DeleteRegKey /ifempty HKCU "Software\Velmorra\Messages"
  DeleteRegKey /ifempty HKCU "Software\Velmorra"
SectionEnd
