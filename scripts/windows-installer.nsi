; The Windows installer of the client, made from the dist/ folder scripts/windows-client gathers:
;   makensis -INPUTCHARSET UTF8 -DDIST=<build>/dist -DOUTFILE=<build>/vextal-setup.exe scripts/windows-installer.nsi
; "vextal-setup.exe /S" installs without a question.
;
; The installation is the user's own, not the machine's: the program update replaces the program's files with
; Upgrading.exe, which a folder under Program Files would refuse without an administrator. The program finds data\
; and DownLoad\ through its current folder, so the shortcut starts it in %LOCALAPPDATA%\Vextal; those two folders
; are the user's catalogue and papers and outlive an uninstall.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef DIST
  !error "makensis -DDIST=<the dist folder>"
!endif
!ifndef OUTFILE
  !define OUTFILE vextal-setup.exe
!endif

!define PRODUCT "题库"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vextal"
!define WORK_FOLDER "$LOCALAPPDATA\Vextal"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vextal"
InstallDirRegKey HKCU "Software\Vextal" "InstallDir"

!include "MUI2.nsh"
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "${PRODUCT}"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${DIST}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; CreateShortcut takes the shortcut's start-in folder from the output folder; the program makes data\ and
  ; DownLoad\ there on its first start.
  CreateDirectory "${WORK_FOLDER}"
  SetOutPath "${WORK_FOLDER}"
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\${PRODUCT}.lnk" "$INSTDIR\vextal.exe"
  CreateShortcut "${MENU_FOLDER}\卸载${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "Software\Vextal" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vextal.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; Only what the installer put there, and no recursive removal: a user who started the program in its own folder
  ; keeps the data\ and DownLoad\ made there, and the folder with them.
  Delete "$INSTDIR\vextal.exe"
  Delete "$INSTDIR\Upgrading.exe"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\platforms\*.dll"
  Delete "$INSTDIR\styles\*.dll"
  Delete "$INSTDIR\sqldrivers\*.dll"
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR\sqldrivers"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "${MENU_FOLDER}\${PRODUCT}.lnk"
  Delete "${MENU_FOLDER}\卸载${PRODUCT}.lnk"
  RMDir "${MENU_FOLDER}"
  ; Gone only when the program never ran: otherwise data\ and DownLoad\ keep it.
  RMDir "${WORK_FOLDER}"

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\Vextal"
SectionEnd
