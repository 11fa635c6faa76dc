; Dropleaf's setup program: per user and without elevation, into %LOCALAPPDATA%\Programs\Dropleaf,
; with a Start-menu shortcut and an "Apps & features" entry. /S installs (and uninstalls)
; silently; the exit code is 0 only when it worked. CMake fills in the @NAMES@; makensis builds it.
Unicode true
; Dropleaf.exe is 64-bit, and NSIS's default 32-bit stub does not start where a system has
; no 32-bit support (Wine as set up here).
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
; A file that cannot be written stops the install: it is never left half-replaced.
AllowSkipFiles off

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dropleaf"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Dropleaf"
OutFile "@DROPLEAF_SETUP_FILE@"
InstallDir "$LOCALAPPDATA\Programs\Dropleaf"
VIProductVersion "@PROJECT_VERSION@"
VIAddVersionKey /LANG=0 "ProductName" "Dropleaf"
VIAddVersionKey /LANG=0 "FileDescription" "Dropleaf setup"
VIAddVersionKey /LANG=0 "FileVersion" "@PROJECT_VERSION@"
VIAddVersionKey /LANG=0 "CompanyName" "Velmorra"
VIAddVersionKey /LANG=0 "LegalCopyright" "Velmorra"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "@DROPLEAF_ICON_FILE@"
!define MUI_UNICON "@DROPLEAF_ICON_FILE@"
; The installer is not elevated, so neither is the program it starts.
!define MUI_FINISHPAGE_RUN "$INSTDIR\Dropleaf.exe"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString STILL_RUNNING ${LANG_SIMPCHINESE} "Dropleaf 仍在运行，无法关闭。$\r$\n请从托盘菜单退出 Dropleaf，然后点击“重试”。"

Var wasRunning

; Closes a running Dropleaf as taskkill without /f does (WM_CLOSE to its listener window) and
; waits about 5 s for the process to end: only then can its program file change.
!macro DEFINE_CLOSE_RUNNING PREFIX
Function ${PREFIX}CloseRunning
  StrCpy $wasRunning 0
  retry:
  FindWindow $0 "Dropleaf.ShellListener"
  ${If} $0 == 0
    Return
  ${EndIf}
  StrCpy $wasRunning 1
  System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
  System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2"  ; SYNCHRONIZE
  System::Call "user32::PostMessageW(p r0, i 0x0010, p 0, p 0)"  ; WM_CLOSE
  System::Call "kernel32::WaitForSingleObject(p r2, i 5000) i .r3"
  System::Call "kernel32::CloseHandle(p r2)"
  ${If} $3 <> 0
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(STILL_RUNNING)" /SD IDCANCEL IDRETRY retry
    Abort
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DEFINE_CLOSE_RUNNING ""
!insertmacro DEFINE_CLOSE_RUNNING "un."

Section
  Call CloseRunning
  SetOutPath "$INSTDIR"
  File "@DROPLEAF_EXE@"
  WriteUninstaller "$INSTDIR\uninstall.exe"
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
SectionEnd

Section "Uninstall"
  Call un.CloseRunning
  Delete "$INSTDIR\Dropleaf.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Dropleaf.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Run at sign-in is this install's only when it names this program: a portable copy
  ; elsewhere keeps its own.
  ReadRegStr $0 HKCU "${RUN_KEY}" "Dropleaf"
  ${If} $0 == '"$INSTDIR\Dropleaf.exe"'
    DeleteRegValue HKCU "${RUN_KEY}" "Dropleaf"
  ${EndIf}
  DeleteRegKey HKCU "Software\Dropleaf"
  DeleteRegKey HKCU "Software\Velmorra\Messages\Dropleaf"
  DeleteRegKey /ifempty HKCU "Software\Velmorra\Messages"
  DeleteRegKey /ifempty HKCU "Software\Velmorra"
SectionEnd
