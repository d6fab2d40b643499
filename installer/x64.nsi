; The 64-bit installer: the program, its context-menu extension and the command-line program
; in Program Files, for every user of the machine. A 64-bit program itself, it sees the 64-bit
; program folder, system folder and registry view as they are, and runs where Wine starts no
; 32-bit program. makensis also gets BIN_DIR, the folder of the built programs.
Target amd64-unicode
!include "Tarnwick.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

RequestExecutionLevel admin

!define INSTALL_KEY "Software\Quillmere\Tarnwick"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwick"
!define SHORTCUT "$SMPROGRAMS\Tarnwick.lnk"
!define REGSVR32 '"$SYSDIR\regsvr32.exe" /s'
; A restart is needed to finish; the code Windows installers report for it.
!define EXIT_RESTART_NEEDED 3010

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
  ; /D= wins; otherwise an upgrade goes where the installed version lives (NSIS drops the
  ; trailing backslash from $INSTDIR).
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR HKLM "${INSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR "$PROGRAMFILES\Tarnwick"
  ${EndIf}
FunctionEnd

; Explorer keeps the extension loaded while it has shown a context menu, and a loaded library
; cannot be overwritten: then the new one takes its place at the next boot.
Function InstallShellExtension
  SetOverwrite try
  ClearErrors
  File "${BIN_DIR}/TarnwickShellExt.dll"
  SetOverwrite on
  ${If} ${Errors}
    File "/oname=TarnwickShellExt.dll.update" "${BIN_DIR}/TarnwickShellExt.dll"
    Rename /REBOOTOK "$INSTDIR\TarnwickShellExt.dll.update" "$INSTDIR\TarnwickShellExt.dll"
  ${EndIf}
FunctionEnd

Function RegisterShellExtension
  ClearErrors
  ExecWait '${REGSVR32} "$INSTDIR\TarnwickShellExt.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "The context-menu extension could not be registered." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

Function WriteUninstallEntry
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tarnwick"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tarnwick.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR\"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}/Tarnwick.exe"
  File "${BIN_DIR}/tarnwick-cli.exe"
  Call InstallShellExtension
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The extension finds the program here; it expects the trailing backslash.
  WriteRegStr HKLM "${INSTALL_KEY}" "InstallLocation" "$INSTDIR\"
  Call RegisterShellExtension
  CreateShortCut "${SHORTCUT}" "$INSTDIR\Tarnwick.exe"
  Call WriteUninstallEntry
  ${If} ${RebootFlag}
    MessageBox MB_OK|MB_ICONINFORMATION "Restart Windows to complete the update of Tarnwick." /SD IDOK
    SetErrorLevel ${EXIT_RESTART_NEEDED}
  ${EndIf}
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  ExecWait '${REGSVR32} /u "$INSTDIR\TarnwickShellExt.dll"'
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\Tarnwick.exe"
  Delete "$INSTDIR\tarnwick-cli.exe"
  ; A pending update would otherwise bring the extension back at the next boot.
  Delete "$INSTDIR\TarnwickShellExt.dll.update"
  Delete /REBOOTOK "$INSTDIR\TarnwickShellExt.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${INSTALL_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Quillmere"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${If} ${RebootFlag}
    MessageBox MB_OK|MB_ICONINFORMATION "Restart Windows to complete the removal of Tarnwick." /SD IDOK
    SetErrorLevel ${EXIT_RESTART_NEEDED}
  ${EndIf}
SectionEnd
