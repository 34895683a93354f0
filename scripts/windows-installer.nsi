; The Windows installer of the client, made from the dist/ folder scripts/windows-client gathers:
;   makensis -INPUTCHARSET UTF8 -DDIST=<build>/dist -DFILE_LIST=<build>/installed-files.nsh -DVERSION=3.1 \
;            -DVERSION4=3.1.0.0 -DOUTFILE=<build>/vextal-setup.exe scripts/windows-installer.nsi
; which scripts/windows-dist runs, with FILE_LIST written from dist/ and the versions read from vextal.exe.
; "vextal-setup.exe /S" installs without a question; "/S /D=<folder>" (last, unquoted, as NSIS wants it) installs
; into that folder, which is how the updater installs a new version over the running one's folder.
;
; The installation is the user's own, not the machine's: the program update replaces the program's files with
; Upgrading.exe, which a folder under Program Files would refuse without an administrator. The program finds data\
; and DownLoad\ through its current folder, so the shortcut starts it in %LOCALAPPDATA%\Vextal; those two folders
; are the user's catalogue and papers and outlive an uninstall.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef DIST | FILE_LIST | VERSION | VERSION4
  !error "makensis -DDIST=<the dist folder> -DFILE_LIST=<its Delete lines> -DVERSION=<3.1> -DVERSION4=<3.1.0.0>"
!endif
!ifndef OUTFILE
  !define OUTFILE vextal-setup.exe
!endif

!define PRODUCT "题库"
!define PUBLISHER "Dovrin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vextal"
!define WORK_FOLDER "$LOCALAPPDATA\Vextal"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vextal"
InstallDirRegKey HKCU "Software\Vextal" "InstallDir"

!include "MUI2.nsh"
; Relative to this file's folder, where makensis works.
!define MUI_ICON "../app/resources/vextal-setup.ico"
!define MUI_UNICON "../app/resources/vextal-setup.ico"
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; The installer's own file properties; the programs carry theirs from cmake/windows_resources.cmake.
VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT}安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "版权所有 (C) ${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "OriginalFilename" "vextal-setup.exe"

; NSIS itself reads /D= only unquoted. A caller whose process API quotes every argument holding a space (QProcess and
; most CreateProcess wrappers do, and a user name may hold one) passes "/D=C:\Users\A B\...": taken here, it installs
; where the caller asked instead of into the default folder.
Function .onInit
  StrLen $R2 $CMDLINE
  StrCpy $R0 0
  find_quoted:
    IntCmp $R0 $R2 done 0 done
    StrCpy $R1 $CMDLINE 4 $R0
    StrCmp $R1 '"/D=' found
    IntOp $R0 $R0 + 1
    Goto find_quoted
  found:
    IntOp $R0 $R0 + 4
    StrCpy $R1 $CMDLINE "" $R0
    StrCpy $R3 0
  find_end:
    StrCpy $R4 $R1 1 $R3
    StrCmp $R4 '"' cut
    StrCmp $R4 "" cut
    IntOp $R3 $R3 + 1
    Goto find_end
  cut:
    StrCpy $R1 $R1 $R3
    StrCmp $R1 "" done
    StrCpy $INSTDIR $R1
  done:
FunctionEnd

Section "${PRODUCT}" PROGRAM_SECTION
  SetShellVarContext current
  ; Over an older version the files are replaced in place; the shortcuts are made anew with the same names, and
  ; data\ and DownLoad\ in the working folder are never touched.
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
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vextal.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; Windows shows the size only when told: the files of this section as makensis counted them, in KB.
  SectionGetSize ${PROGRAM_SECTION} $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; Only the files this version installed, listed from dist\ when the installer was made, and folders only when
  ; empty: the folder is the user's choice and may hold files of their own, and a user who started the program in
  ; its own folder keeps the data\ and DownLoad\ made there, and the folder with them.
  !include "${FILE_LIST}"
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
